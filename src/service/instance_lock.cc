#include "service/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "base/system.h"

namespace lw {

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

InstanceLock::Result InstanceLock::Acquire(const std::string& path) {
  if (fd_ >= 0) return Result::kHeld;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error_ = path + ": " + ErrnoText(errno);
    return Result::kFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return Result::kTaken;
    error_ = path + ": " + ErrnoText(err);
    return Result::kFailed;
  }
  fd_ = fd;
  return Result::kHeld;
}

}  // namespace lw
