#include "base/text.h"

#include "base/utf8.h"

namespace lw {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
  };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string_view Trim(std::string_view text, std::string_view blanks) {
  // Plain loops: stored fields are mostly padding, and the library's search
  // calls memchr once per character.
  const auto blank = [blanks](char c) {
    for (char b : blanks)
      if (b == c) return true;
    return false;
  };
  size_t first = 0;
  size_t end = text.size();
  while (first < end && blank(text[first])) ++first;
  while (end > first && blank(text[end - 1])) --end;
  if (first == end) return {};
  return text.substr(first, end - first);
}

std::u32string_view Trim(std::u32string_view text) {
  const size_t first = text.find_first_not_of(U" \t");
  if (first == std::u32string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(U" \t") - first + 1);
}

std::string ControlCharactersReplaced(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    char32_t code = 0;
    const size_t length = Utf8CharLength(out, i, &code);
    if (length != 0 && (code < 0x20 || (code >= 0x7F && code <= 0x9F))) {
      out.replace(i, length, 1, '?');
    } else if (length > 1) {
      i += length - 1;
    }
  }
  return out;
}

}  // namespace lw
