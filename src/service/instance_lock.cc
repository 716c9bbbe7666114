#include "service/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lw {

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

InstanceLock::Result InstanceLock::Acquire(const std::string& path) {
  if (fd_ >= 0) return Result::kHeld;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error_ = path + ": " + std::strerror(errno);
    return Result::kFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return Result::kTaken;
    error_ = path + ": " + std::strerror(err);
    return Result::kFailed;
  }
  fd_ = fd;
  return Result::kHeld;
}

bool EnsureRuntimeDir(const std::string& dir, std::string* error) {
  if (mkdir(dir.c_str(), 0700) == 0) return true;
  const int err = errno;
  struct stat st {};
  if (err == EEXIST && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return true;
  *error = dir + ": " + std::strerror(err == EEXIST ? ENOTDIR : err);
  return false;
}

}  // namespace lw
