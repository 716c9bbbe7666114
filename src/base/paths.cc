#include "base/paths.h"

#include <dirent.h>
#include <strings.h>

namespace lw {

std::string NativePath(std::string_view app_path, std::string_view sub) {
  std::string out(app_path);
  out.reserve(app_path.size() + sub.size());
  for (char c : sub) out.push_back(c == '\\' ? '/' : c);
  return out;
}

std::string NativePathNoCase(std::string_view app_path, std::string_view sub) {
  std::string out(app_path);
  size_t i = 0;
  while (i <= sub.size()) {
    size_t j = sub.find_first_of("\\/", i);
    if (j == std::string_view::npos) j = sub.size();
    std::string part(sub.substr(i, j - i));
    if (!part.empty()) {
      std::string match = part;
      if (DIR* d = opendir(out.empty() ? "/" : out.c_str())) {
        bool exact = false;
        std::string folded;
        while (dirent* e = readdir(d)) {
          if (part == e->d_name) {
            exact = true;
            break;
          }
          if (folded.empty() && strcasecmp(part.c_str(), e->d_name) == 0)
            folded = e->d_name;
        }
        closedir(d);
        if (!exact && !folded.empty()) match = folded;
      }
      out += '/';
      out += match;
    }
    if (j == sub.size()) break;
    i = j + 1;
  }
  if (!sub.empty() && (sub.back() == '\\' || sub.back() == '/')) out += '/';
  return out;
}

}  // namespace lw
