#include "base/system.h"

#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace lw {

std::string ErrnoText(int error) { return std::strerror(error); }

void ShowOnConsoleAndSystemLog(int priority, const std::string& text) {
  std::fprintf(stderr, "Linewarden Proc: %s\n", text.c_str());
  openlog("Linewarden Proc", LOG_PID, LOG_DAEMON);
  syslog(priority, "%s", text.c_str());
  closelog();
}

int MakeRuntimeFolder(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) == 0) return 0;
  const int err = errno;
  if (err != EEXIST) return err;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  return ENOTDIR;
}

bool UnixSocketAddress(std::string_view path, sockaddr_un* addr,
                       socklen_t* len) {
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, path.data(), path.size());
  *len =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

}  // namespace lw
