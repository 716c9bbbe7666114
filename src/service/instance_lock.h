// One running instance per runtime folder and per home: an exclusive lock on
// a lock file in each, held for the life of the process and released by the
// system when it ends.
#pragma once

#include <string>

namespace lw {

// The lock file in the home folder.
inline constexpr const char* kHomeLockFile = ".linewarden.lock";

class InstanceLock {
 public:
  enum class Result {
    kHeld,    // this process now holds the lock
    kTaken,   // another process holds it
    kFailed,  // the lock file cannot be made or locked (see error())
  };

  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock on `path`; kHeld again when this process holds it already.
  // The process never runs without it, so a lock file that cannot be made is
  // a failure, not a free lock.
  Result Acquire(const std::string& path);
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace lw
