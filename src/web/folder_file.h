// Opening the files the web reads (pages, recordings, journals) below their
// folder: no symbolic link is followed and no ".." leaves the folder, and
// the settings store with the files that carry its locks is never opened at
// all, since closing any descriptor of a file drops every lock the process
// holds on it.
#pragma once

#include <sys/stat.h>

#include <string>

namespace lw {

// The settings store kept at a file and the "-wal", "-shm" and "-journal"
// files beside it, which hold its locks. Their folder is held open (O_PATH)
// from construction, so a check looks each name up in it alone.
class StoreFiles {
 public:
  // An empty `store_file`: a store in memory, nothing to keep out.
  explicit StoreFiles(const std::string& store_file);
  ~StoreFiles();
  StoreFiles(const StoreFiles&) = delete;
  StoreFiles& operator=(const StoreFiles&) = delete;

  // True when the file with the status `st` is one of them.
  bool Holds(const struct stat& st) const;

 private:
  int folder_ = -1;
  std::string name_;
};

// How a file is looked up below its folder: openat2 with RESOLVE_BENEATH
// and RESOLVE_NO_SYMLINKS (one component at a time instead where the kernel
// lacks openat2), or one component at a time with O_NOFOLLOW.
enum class Lookup { kBeneath, kByComponent };

// A descriptor (O_RDONLY, close-on-exec) of the regular file `relative`
// ("/"-separated) below the folder `folder`; -1 when it is missing, not a
// regular file, reached through a symbolic link or "..", or one of `never`
// (compared by device and inode, so a hard link is refused too).
int OpenInFolder(const std::string& folder, const std::string& relative,
                 const StoreFiles* never, Lookup lookup = Lookup::kBeneath);

// True when `path` lies in `folder` (a "/" follows the folder's name); then
// `relative` receives the rest.
bool SplitBelow(const std::string& folder, const std::string& path,
                std::string& relative);

}  // namespace lw
