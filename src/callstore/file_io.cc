#include "callstore/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lw {

bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  const int fd = OpenFile(path, O_RDONLY);
  if (fd < 0) return errno == ENOENT;
  bool ok = true;
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    out.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

bool ReplaceFile(const std::string& path, const std::string& temp,
                 std::string_view data, mode_t mode) {
  const int fd = OpenFile(temp, O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0) return false;
  struct stat old;
  if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    ::fchmod(fd, old.st_mode & 07777);
  bool ok = true;
  while (ok && !data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) data.remove_prefix(static_cast<size_t>(n));
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    const int error = errno;
    ::unlink(temp.c_str());
    errno = error;
  }
  return ok;
}

}  // namespace lw
