#include "base/text.h"

namespace lw {

std::string_view Trim(std::string_view text, std::string_view blanks) {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::u32string_view Trim(std::u32string_view text) {
  const size_t first = text.find_first_not_of(U" \t");
  if (first == std::u32string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(U" \t") - first + 1);
}

}  // namespace lw
