// The call store's whole-file reads and replacements. Files that others may
// read while we write (the latest-call list, a call's note, the list of
// recordings without a call) are replaced whole: written to a temporary file,
// flushed to disk and renamed over the old one, so a reader or a crash sees
// the old file or the new one, never a part.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// OpenFile: open() through the descriptor reserve.
#include "base/descriptors.h"

namespace lw {

// Reads the whole file into `out`. A missing file reads as empty; false when
// it exists but cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Replaces `path` by `data` through `temp` (write, fsync, rename); the new
// file keeps the old one's mode, or has `mode` (less the umask) when there
// was none. On failure `path` is unchanged, `temp` is removed and errno
// tells why.
bool ReplaceFile(const std::string& path, const std::string& temp,
                 std::string_view data, mode_t mode = 0644);

}  // namespace lw
