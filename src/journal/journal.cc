#include "journal/journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/descriptors.h"
#include "base/utf8.h"
#include "journal/regional.h"

namespace lw {
namespace {

// Owner read-write, group read, nothing for others: the system journal
// carries error details and caller numbers, and the web journal keeps every
// request whole, authorization included.
constexpr mode_t kJournalFileMode = 0640;

// Appends `data` to `path` with one write() for the whole line, so that a
// reader of the file never sees a line cut in two; the loop only finishes
// what a signal or a full disk interrupted. Returns how many bytes were
// written; npos when the file cannot be opened.
size_t AppendToFile(const std::string& path, std::string_view data) {
  // The journal folder is never created here: without it nothing is written.
  // Out of descriptors, the reserve still lets the line through.
  const int fd = OpenFile(path, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY,
                          kJournalFileMode);
  if (fd < 0) return std::string_view::npos;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  ::close(fd);
  return done;
}

}  // namespace

std::string JournalShown(std::string_view text, size_t max_chars) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  size_t chars = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (chars++ == max_chars) return out + "...";
    const auto b = static_cast<uint8_t>(text[i]);
    if (b >= 0x20 && b < 0x7F) {
      out += text[i++];
    } else if (const size_t len = b >= 0x80 ? Utf8CharLength(text, i) : 0;
               len > 0 && !(b == 0xC2 && static_cast<uint8_t>(text[i + 1]) <
                                             0xA0)) {  // not a C1 control
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
      ++i;
    }
  }
  return out;
}

Journal::Journal(Clock& clock, std::string app_path)
    : clock_(clock), app_path_(std::move(app_path)) {}

void Journal::SetSwitches(bool log_sys_on, bool log_www_on) {
  log_sys_on_ = log_sys_on;
  log_www_on_ = log_www_on;
}

void Journal::LogSys(const std::string& text, int32_t code,
                     const std::string& source) noexcept {
  if (!log_sys_on_) return;
  try {
    const std::string code_text = std::to_string(code);
    Append("_Sys.txt", {source, "->", text, "(", code_text, ")"});
  } catch (...) {
    // Out of memory: the line is lost, the caller goes on.
  }
}

void Journal::LogWWW(const std::string& text) noexcept {
  if (!log_www_on_) return;
  Append("_WWW.txt", {text});
}

void Journal::Append(const char* suffix,
                     std::initializer_list<std::string_view> parts) noexcept {
  try {
    std::string path = app_path_;
    path += "/Journal/";
    path += MakeFileStamp(ShortDateText(clock_.Now()), "", true);
    path += suffix;

    std::string line = LongTimeText(clock_.Now());
    line += " : ";
    size_t size = line.size() + 2;
    for (std::string_view part : parts) size += part.size();
    line.reserve(size);
    for (std::string_view part : parts) line += part;
    line += "\r\n";

    if (!WriteUnwritten()) {
      if (unwritten_.size() < kMaxUnwrittenLines)
        unwritten_.push_back({std::move(path), std::move(line)});
      return;
    }
    const size_t done = AppendToFile(path, line);
    if (done != std::string_view::npos && done < line.size())
      unwritten_.push_back({std::move(path), line.substr(done)});
  } catch (...) {
    // Out of memory: the line is lost, the caller goes on.
  }
}

bool Journal::WriteUnwritten() noexcept {
  size_t first = 0;
  for (; first < unwritten_.size(); ++first) {
    Unwritten& kept = unwritten_[first];
    const size_t done = AppendToFile(kept.path, kept.bytes);
    // A file that cannot be opened any more (its folder removed) takes
    // nothing of the kept line; it is given up rather than holding the
    // journal back for good.
    if (done == std::string_view::npos) continue;
    if (done < kept.bytes.size()) {
      kept.bytes.erase(0, done);
      break;
    }
  }
  unwritten_.erase(unwritten_.begin(),
                   unwritten_.begin() + static_cast<ptrdiff_t>(first));
  return unwritten_.empty();
}

}  // namespace lw
