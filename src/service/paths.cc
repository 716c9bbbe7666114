#include "service/paths.h"

#include <dirent.h>
#include <strings.h>

#include <cstdlib>
#include <filesystem>

namespace lw {
namespace {

std::string EnvOr(const char* name, std::string fallback) {
  const char* v = std::getenv(name);
  if (v != nullptr && *v != '\0') return v;
  return fallback;
}

std::string StripTrailingSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

}  // namespace

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

std::string ResolveAppPath() {
  const char* home = std::getenv("LINEWARDEN_HOME");
  if (home != nullptr && *home != '\0') return StripTrailingSlash(home);
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return StripTrailingSlash(exe.parent_path().string());
}

std::string ResolveRuntimeDir() {
  const char* rt = std::getenv("LINEWARDEN_RUNTIME");
  if (rt != nullptr && *rt != '\0') return StripTrailingSlash(rt);
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && *xdg != '\0')
    return StripTrailingSlash(xdg) + "/linewarden";
  return "/run/linewarden";
}

std::string ResolveRegistryPath(std::string_view app_path) {
  return EnvOr("LINEWARDEN_REGISTRY", std::string(app_path) + "/registry.db");
}

}  // namespace lw
