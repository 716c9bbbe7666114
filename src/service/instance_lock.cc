#include "service/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lw {

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

bool InstanceLock::Acquire(const std::string& path) {
  if (fd_ >= 0) return true;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return errno != EWOULDBLOCK;
  }
  fd_ = fd;
  return true;
}

bool EnsureRuntimeDir(const std::string& dir) {
  if (mkdir(dir.c_str(), 0700) == 0) return true;
  struct stat st {};
  return errno == EEXIST && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace lw
