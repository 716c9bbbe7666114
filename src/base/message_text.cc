#include "base/message_text.h"

namespace lw {

std::vector<std::string> SplitMessage(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(kFieldSeparator, start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      return lines;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + kFieldSeparator.size();
  }
}

namespace {

template <typename Range>
std::string Join(const Range& fields, std::string_view separator) {
  size_t size = 0;
  for (const auto& f : fields) size += f.size() + separator.size();
  std::string out;
  out.reserve(size);
  bool first = true;
  for (const auto& f : fields) {
    if (!first) out.append(separator);
    out.append(f);
    first = false;
  }
  return out;
}

}  // namespace

std::string JoinFields(const std::vector<std::string>& fields,
                       std::string_view separator) {
  return Join(fields, separator);
}

std::string JoinFields(std::initializer_list<std::string_view> fields,
                       std::string_view separator) {
  return Join(fields, separator);
}

}  // namespace lw
