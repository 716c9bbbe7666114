#include "web/folder_file.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace lw {
namespace {

// Cleared at the first ENOSYS: the kernel (or a filter in front of it)
// lacks openat2, and every later lookup walks the components itself.
std::atomic<bool> openat2_works{true};

int OpenPathBeneath(int dir, const std::string& relative, Lookup lookup) {
  if (lookup == Lookup::kBeneath && openat2_works.load()) {
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const long fd =
        ::syscall(SYS_openat2, dir, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);
    openat2_works = false;
  }
  // Component by component: a symbolic link opens as itself (O_PATH with
  // O_NOFOLLOW) and is refused as no directory or no regular file.
  int at = ::dup(dir);
  size_t begin = 0;
  while (at >= 0 && begin < relative.size()) {
    size_t end = relative.find('/', begin);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(begin, end - begin);
    begin = end + 1;
    if (part.empty()) continue;
    const bool last = begin >= relative.size();
    const int next = part == ".." || part == "."
                         ? -1
                         : ::openat(at, part.c_str(),
                                    O_PATH | O_NOFOLLOW | O_CLOEXEC |
                                        (last ? 0 : O_DIRECTORY));
    ::close(at);
    at = next;
  }
  return at;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

StoreFiles::StoreFiles(const std::string& store_file) {
  if (store_file.empty()) return;
  const size_t slash = store_file.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : store_file.substr(0, slash + 1);
  name_ = store_file.substr(slash == std::string::npos ? 0 : slash + 1);
  folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

StoreFiles::~StoreFiles() {
  if (folder_ >= 0) ::close(folder_);
}

bool StoreFiles::Holds(const struct stat& st) const {
  if (folder_ < 0) return false;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    struct stat other {};
    if (::fstatat(folder_, (name_ + suffix).c_str(), &other, 0) == 0 &&
        SameFile(st, other))
      return true;
  }
  return false;
}

bool SplitBelow(const std::string& folder, const std::string& path,
                std::string& relative) {
  if (path.size() <= folder.size() + 1 ||
      path.compare(0, folder.size(), folder) != 0 || path[folder.size()] != '/')
    return false;
  relative = path.substr(folder.size() + 1);
  return true;
}

int OpenInFolder(const std::string& folder, const std::string& relative,
                 const StoreFiles* never, Lookup lookup) {
  // Only descriptors opened with O_PATH until the file is known: closing
  // those leaves every lock in place.
  const int dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  const int found = OpenPathBeneath(dir, relative, lookup);
  ::close(dir);
  if (found < 0) return -1;
  struct stat st {};
  const bool allowed = ::fstat(found, &st) == 0 && S_ISREG(st.st_mode) &&
                       (never == nullptr || !never->Holds(st));
  int fd = -1;
  if (allowed) {
    // Reopening the very file found, for reading.
    const std::string self = "/proc/self/fd/" + std::to_string(found);
    fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
  }
  ::close(found);
  struct stat opened {};
  if (fd >= 0 && (::fstat(fd, &opened) != 0 || !SameFile(st, opened))) {
    ::close(fd);
    fd = -1;
  }
  return fd;
}

}  // namespace lw
