// The operating-system pieces that several layers and drivers share: error
// texts, the runtime folder, Unix socket addresses.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string>
#include <string_view>

namespace lw {

// The system's description of the errno value `error`.
std::string ErrnoText(int error);

// Writes `text` as one line to standard error and to the system log under the
// program's caption, at syslog `priority` (LOG_ERR, LOG_INFO, ...): for what
// must be seen even when the journal cannot be written.
void ShowOnConsoleAndSystemLog(int priority, const std::string& text);

// Makes the runtime folder `dir` (mode 0700) unless it exists. 0 when the
// folder is there afterwards, else the errno value (ENOTDIR when something
// other than a folder has the name).
int MakeRuntimeFolder(const std::string& dir);

// The address of the Unix socket file `path`; false when the path is too long
// for a socket address.
bool UnixSocketAddress(std::string_view path, sockaddr_un* addr,
                       socklen_t* len);

}  // namespace lw
