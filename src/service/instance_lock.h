// One running instance per runtime folder: an exclusive lock on a lock file,
// held for the life of the process and released by the system when it ends.
#pragma once

#include <string>

namespace lw {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // True when this process now holds the lock on `path`; false when another
  // process holds it. A lock file that cannot be created counts as free (the
  // process then runs unguarded rather than not at all).
  bool Acquire(const std::string& path);

 private:
  int fd_ = -1;
};

// Creates the runtime folder (last component only) owner-only when missing.
bool EnsureRuntimeDir(const std::string& dir);

}  // namespace lw
