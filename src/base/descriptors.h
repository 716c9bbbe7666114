// Running out of file descriptors. The process keeps one descriptor in
// reserve (/dev/null, opened at start-up); a routine that cannot get a
// descriptor because the process's limit is reached frees the reserve and
// tries once more, so the journal line or the stored call that needs it still
// gets one. The reserve is taken back on a later attempt, once a descriptor is
// free again.
//
// An episode begins with the first refusal and ends when a descriptor is
// made with the reserve held and a few more free; its note ("out of file
// descriptors" and what holds them) is handed to the note handler once, after
// the routine that hit the limit is done with its descriptor.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace lw {

// Raises the soft limit on open descriptors to the hard limit.
void RaiseDescriptorLimit();

// Opens the reserve (again); false when no descriptor is free for it.
bool KeepDescriptorReserve();

// Makes a descriptor with `make` (open, socket, accept, ...: -1 and errno on
// failure). When the process is out of descriptors (EMFILE, ENFILE) the
// reserve is freed and `make` tried once more. errno is kept from the last
// attempt.
int MakeDescriptor(const std::function<int()>& make);

// open(2) with O_CLOEXEC through MakeDescriptor, retried on EINTR: -1 and
// errno on failure.
int OpenFile(const std::string& path, int flags, mode_t mode = 0644);

// Counts a refusal that happened outside MakeDescriptor (the web server's
// accept) towards the episode; true when `error` is EMFILE or ENFILE.
bool NoteDescriptorRefusal(int error);

// Called with the episode's note once per episode. The handler runs inside
// the next MakeDescriptor call that has a descriptor to spare (or at once
// when the reserve is kept), so it may itself open a file.
void SetDescriptorNoteHandler(std::function<void(const std::string&)> handler);

// The open descriptors of this process by kind, e.g. "sockets 30, files 6,
// pipes 2, other 1"; read from /proc/self/fd, which needs a descriptor.
std::string DescriptorCensus();

}  // namespace lw
