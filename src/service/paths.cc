#include "service/paths.h"

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
