#include "base/descriptors.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "base/system.h"

namespace lw {
namespace {

constexpr const char* kOutOfDescriptors = "out of file descriptors";
// An episode ends once this many descriptors are free again beside the
// reserve; at the very edge of the limit it would begin again at once.
constexpr int kHeadroom = 8;

// The reserve is one for the whole process, so it lives here rather than
// with every opener. Recursive: the note handler opens its own file.
struct ReserveState {
  std::recursive_mutex mutex;
  bool kept = false;     // KeepDescriptorReserve was called
  int fd = -1;           // the reserve, while held
  bool episode = false;  // refused since headroom was last seen
  std::string note;      // waiting for the handler
  bool handing_over = false;
  std::function<void(const std::string&)> handler;
};

ReserveState& State() {
  static ReserveState state;
  return state;
}

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

int OpenReserve() {
  int fd;
  do {
    fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Takes the reserve back when a descriptor is free for it.
void Retake(ReserveState& s) {
  if (!s.kept || s.fd >= 0) return;
  const int error = errno;
  s.fd = OpenReserve();
  errno = error;
}

bool HasHeadroom(const ReserveState& s) {
  int made[kHeadroom];
  int n = 0;
  while (n < kHeadroom && (made[n] = ::fcntl(s.fd, F_DUPFD_CLOEXEC, 0)) >= 0)
    ++n;
  for (int i = 0; i < n; ++i) ::close(made[i]);
  return n == kHeadroom;
}

// Hands the episode's note over while the reserve is held, so the handler's
// own file can be opened whatever the count.
void HandOver(ReserveState& s) {
  if (s.note.empty() || s.handing_over || !s.handler || (s.kept && s.fd < 0))
    return;
  s.handing_over = true;
  const std::string note = std::exchange(s.note, {});
  s.handler(note);
  s.handing_over = false;
}

// Starts an episode on the first refusal; its note names what holds the
// descriptors, counted in the slot the caller has freed.
void Refused(ReserveState& s) {
  if (s.episode) return;
  s.episode = true;
  s.note = std::string(kOutOfDescriptors) + " (" + DescriptorCensus() + ")";
}

void ReleaseReserve(ReserveState& s) {
  if (s.fd < 0) return;
  ::close(s.fd);
  s.fd = -1;
}

}  // namespace

void RaiseDescriptorLimit() {
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 ||
      limit.rlim_cur == limit.rlim_max)
    return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

bool KeepDescriptorReserve() {
  ReserveState& s = State();
  const std::lock_guard lock(s.mutex);
  s.kept = true;
  Retake(s);
  return s.fd >= 0;
}

int MakeDescriptor(const std::function<int()>& make) {
  ReserveState& s = State();
  const std::lock_guard lock(s.mutex);
  Retake(s);
  HandOver(s);
  const int fd = make();
  if (fd >= 0) {
    if (s.episode && s.fd >= 0 && HasHeadroom(s)) s.episode = false;
    return fd;
  }
  if (!OutOfDescriptors(errno)) return fd;
  const int error = errno;
  const bool had_reserve = s.fd >= 0;
  ReleaseReserve(s);
  Refused(s);
  errno = error;
  return had_reserve ? make() : fd;
}

int OpenFile(const std::string& path, int flags, mode_t mode) {
  return MakeDescriptor([&] {
    int fd;
    do {
      fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
  });
}

bool NoteDescriptorRefusal(int error) {
  if (!OutOfDescriptors(error)) return false;
  ReserveState& s = State();
  const std::lock_guard lock(s.mutex);
  if (!s.episode) ReleaseReserve(s);
  Refused(s);
  Retake(s);
  HandOver(s);
  return true;
}

void SetDescriptorNoteHandler(std::function<void(const std::string&)> handler) {
  ReserveState& s = State();
  const std::lock_guard lock(s.mutex);
  s.handler = std::move(handler);
}

std::string DescriptorCensus() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return "no count: " + ErrnoText(errno);
  const int own = ::dirfd(dir);
  std::map<std::string, int> kinds;
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.' || std::atoi(e->d_name) == own) continue;
    struct stat st;
    const char* kind = "other";
    if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0) {
      if (S_ISSOCK(st.st_mode))
        kind = "sockets";
      else if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
        kind = "files";
      else if (S_ISFIFO(st.st_mode))
        kind = "pipes";
      else if (S_ISCHR(st.st_mode))
        kind = "devices";
    }
    ++kinds[kind];
  }
  ::closedir(dir);
  std::string text;
  for (const char* kind : {"sockets", "files", "pipes", "devices", "other"}) {
    const auto it = kinds.find(kind);
    if (it == kinds.end()) continue;
    if (!text.empty()) text += ", ";
    text += kind;
    text += ' ';
    text += std::to_string(it->second);
  }
  return text;
}

}  // namespace lw
