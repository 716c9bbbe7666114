#include "callstore/call_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/paths.h"
#include "callstore/file_io.h"
#include "journal/journal.h"
#include "journal/regional.h"

namespace lw {
namespace {

constexpr off_t kRecordSize = static_cast<off_t>(CallRecord::kSize);

// Moves exactly `size` bytes at `offset` with `io` (pread or pwrite),
// resuming after interruptions and short transfers; false on an error or
// the end of the file.
template <typename Io, typename Byte>
bool TransferAllAt(Io io, int fd, Byte* data, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = io(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool WriteAllAt(int fd, const char* data, size_t size, off_t offset) {
  return TransferAllAt(::pwrite, fd, data, size, offset);
}

// Reads exactly `size` bytes at `offset`; false on a short read.
bool ReadAllAt(int fd, char* data, size_t size, off_t offset) {
  return TransferAllAt(::pread, fd, data, size, offset);
}

// Lines end in CR LF; a lone CR or LF ends a line too, and a last line
// without an ending still counts.
void SplitLines(std::string_view text, std::vector<std::string>& lines) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
      ++end;
    start = end + 1;
  }
}

bool ValidDate(const CallRecord& record) {
  return ParseShortDate(
             TrimField(std::string_view(record.date, sizeof record.date)))
      .has_value();
}

}  // namespace

std::string DayFolderText(const LocalDateTime& date) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "\\Data\\Log\\%04d\\%02d\\%02d\\", date.year,
                date.month, date.day);
  return buf;
}

bool SplitLastCallLine(std::string_view line, int64_t& record_number,
                       std::string& day_folder) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view number = line.substr(0, colon);
  while (!number.empty() && (number.front() == ' ' || number.front() == '\t'))
    number.remove_prefix(1);
  int64_t n = 0;
  size_t digits = 0;
  while (digits < number.size() && number[digits] >= '0' &&
         number[digits] <= '9') {
    if (n > (INT64_MAX - 9) / 10) return false;
    n = n * 10 + (number[digits] - '0');
    ++digits;
  }
  if (digits == 0) return false;
  std::string_view folder = line.substr(colon + 1);
  if (folder.empty() || (folder.front() != '\\' && folder.front() != '/'))
    return false;
  if (folder.find('\0') != std::string_view::npos) return false;
  // No component may step out of AppPath.
  size_t i = 0;
  while (i <= folder.size()) {
    size_t j = folder.find_first_of("\\/", i);
    if (j == std::string_view::npos) j = folder.size();
    if (folder.substr(i, j - i) == "..") return false;
    i = j + 1;
  }
  record_number = n;
  day_folder.assign(folder);
  return true;
}

CallStore::CallStore(std::string app_path, Clock& clock, Journal* journal)
    : app_path_(std::move(app_path)),
      clock_(clock),
      journal_(journal),
      contacts_(app_path_) {}

std::string CallStore::DataFilePath(std::string_view day_folder) const {
  std::string sub(day_folder);
  sub += "Data";
  return NativePath(app_path_, sub);
}

void CallStore::MakeFolders(std::string_view base, const LocalDateTime& date) {
  char parts[3][8];
  std::snprintf(parts[0], sizeof parts[0], "%04d", date.year);
  std::snprintf(parts[1], sizeof parts[1], "%02d", date.month);
  std::snprintf(parts[2], sizeof parts[2], "%02d", date.day);
  std::string sub(base);
  if (sub.empty() || (sub.back() != '\\' && sub.back() != '/')) sub += '\\';
  std::error_code ec;
  // The base itself is made when missing, so a fresh installation stores
  // its first call too.
  std::filesystem::create_directories(NativePath(app_path_, sub), ec);
  for (const char* part : parts) {
    sub += part;
    sub += '\\';
    ::mkdir(NativePath(app_path_, sub).c_str(), 0755);
  }
}

void CallStore::MakeDayFolder(std::string_view base) {
  MakeFolders(base, clock_.Now());
}

void CallStore::SetCallInfo(CurrentCall& call) {
  // One reading of the clock, so the folder and the date agree at midnight.
  const LocalDateTime now = clock_.Now();
  MakeFolders(kLogFolder, now);
  CallInfo& info = call.info;
  info.caller_name = "UNKNOWN";
  info.caller_number = "UNKNOWN";
  info.date = ShortDateText(now);
  info.time = LongTimeText(now);
  info.contact.clear();
  info.length = "0:00:00";
  info.message_path.clear();
  info.call_type = std::string(kCallTypeIncoming);
  info.read_mark = 0;
  call.contact_digit = 0;
  call.day_folder = NativePath(app_path_, DayFolderText(now));
}

int64_t CallStore::SaveCall(const CallRecord& record,
                            std::string_view day_folder, bool skip_latest) {
  const std::string path = DataFilePath(day_folder);
  int fd = OpenFile(path, O_RDWR | O_CREAT);
  if (fd < 0 && errno == ENOENT) {
    // The day folder went missing since the call started: make it again
    // rather than lose the call.
    std::error_code ec;
    std::filesystem::create_directories(
        NativePath(app_path_, std::string(day_folder)), ec);
    fd = OpenFile(path, O_RDWR | O_CREAT);
  }
  if (fd < 0) return 0;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return 0;
  }
  const off_t length = st.st_size;
  // A tail shorter than a record is what is left of an append that was cut
  // short; the call it belonged to never reached the list. The new record
  // goes over it, at the boundary behind the last whole record.
  const off_t torn = length % kRecordSize;
  const off_t offset = length - torn;
  const bool written =
      WriteAllAt(fd, record.bytes(), CallRecord::kSize, offset) &&
      ::fdatasync(fd) == 0;
  if (!written) {
    // Leave whole records only, never a piece of this one.
    if (::ftruncate(fd, offset) != 0) {
      // Nothing more to do: the next append goes over the piece.
    }
    ::close(fd);
    return 0;
  }
  ::close(fd);
  if (torn != 0 && journal_ != nullptr) {
    journal_->LogSys("Incomplete last record replaced in " + path, 0,
                     "SaveCall");
  }
  const int64_t number = offset / kRecordSize + 1;
  if (!skip_latest) PutAtHeadOfLastCalls(number, day_folder, true);
  return number;
}

bool CallStore::ReadLastCalls(std::vector<std::string>& lines) const {
  lines.clear();
  std::string text;
  if (!ReadWholeFile(NativePath(app_path_, kLastCalls), text)) return false;
  SplitLines(text, lines);
  return true;
}

bool CallStore::WriteLastCalls(const std::vector<std::string>& lines) const {
  std::string text;
  size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  text.reserve(size);
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  const std::string path = NativePath(app_path_, kLastCalls);
  return ReplaceFile(path, path + ".tmp", text);
}

void CallStore::AddToLastCalls(int64_t record_number,
                               std::string_view day_folder) {
  PutAtHeadOfLastCalls(record_number, day_folder, false);
}

void CallStore::PutAtHeadOfLastCalls(int64_t record_number,
                                     std::string_view day_folder,
                                     bool drop_stale) {
  std::vector<std::string> old;
  // A list that is there but cannot be read is left alone: rewriting it
  // would drop every entry in it.
  if (!ReadLastCalls(old)) return;
  const size_t limit = static_cast<size_t>(ListLimit());
  std::vector<std::string> lines;
  lines.reserve(std::min(limit, old.size() + 1));
  lines.push_back(std::to_string(record_number) + ":" +
                  std::string(day_folder));
  for (std::string& line : old) {
    if (lines.size() >= limit) break;
    int64_t number = 0;
    std::string folder;
    // The new record went to the end of the day's whole records: an entry
    // of that day at its number or beyond pointed at a record that was
    // never whole (cut off by a crash) and would now show this call.
    if (drop_stale && SplitLastCallLine(line, number, folder) &&
        number >= record_number && folder == day_folder) {
      continue;
    }
    lines.push_back(std::move(line));
  }
  WriteLastCalls(lines);
}

bool CallStore::ReadCallRecord(CallRecord& record, std::string_view day_folder,
                               int64_t record_number) const {
  const int fd = OpenFile(DataFilePath(day_folder), O_RDONLY);
  if (fd < 0) return false;
  bool read = false;
  struct stat st;
  if (record_number >= 1 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      record_number <= st.st_size / kRecordSize) {
    CallRecord got;
    if (ReadAllAt(fd, got.bytes(), CallRecord::kSize,
                  (record_number - 1) * kRecordSize)) {
      record = got;
      read = true;
    }
  }
  ::close(fd);
  return read && ValidDate(record);
}

CallStore::RecordReader::~RecordReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool CallStore::RecordReader::Read(CallRecord& record,
                                   std::string_view day_folder,
                                   int64_t record_number) {
  if (fd_ < 0 || day_folder != folder_) {
    if (fd_ >= 0) ::close(fd_);
    folder_ = day_folder;
    records_ = 0;
    fd_ = OpenFile(store_.DataFilePath(day_folder), O_RDONLY);
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
      records_ = st.st_size / kRecordSize;
  }
  if (fd_ < 0 || record_number < 1 || record_number > records_) return false;
  CallRecord got;
  if (!ReadAllAt(fd_, got.bytes(), CallRecord::kSize,
                 (record_number - 1) * kRecordSize))
    return false;
  record = got;
  return ValidDate(record);
}

bool CallStore::GetLastCall(int64_t position, CallInfo& info, bool mark_read) {
  std::vector<std::string> lines;
  if (!ReadLastCalls(lines) || lines.empty()) return true;
  // A position outside the list is answered as for an empty list.
  if (position < 1 || static_cast<uint64_t>(position) > lines.size())
    return true;
  int64_t number = 0;
  std::string folder;
  CallRecord record{};
  const bool split = SplitLastCallLine(lines[static_cast<size_t>(position - 1)],
                                       number, folder);
  const bool read = split && ReadCallRecord(record, folder, number);
  info.caller_name = FieldText(record.caller_name);
  info.caller_number = FieldText(record.caller_number);
  info.date = FieldText(record.date);
  info.time = FieldText(record.time);
  info.length = FieldText(record.length);
  info.call_type = FieldText(record.call_type);
  int16_t mark = 0;
  info.read_mark =
      ParseInt16Text(FieldText(record.read_mark), mark) ? mark : int16_t{0};
  info.contact =
      read ? contacts_.GetContactName(info.caller_name, info.caller_number)
           : std::string();
  info.message_path.clear();
  if (read && IsMessageType(info.call_type)) {
    if (auto date = ParseShortDate(info.date)) {
      info.message_path = NativePath(
          app_path_, DayFolderText(*date) +
                         RecordingName(info.caller_name, info.caller_number,
                                       info.date, info.time));
    }
  }
  if (mark_read && split) SetReadMark(number, folder, "1");
  return false;
}

void CallStore::SetReadMark(int64_t record_number, std::string_view day_folder,
                            std::string_view mark) {
  if (record_number < 1) return;
  const int fd = OpenFile(DataFilePath(day_folder), O_RDWR);
  if (fd < 0) return;
  struct stat st;
  // Only a record that is there whole is rewritten; the file never grows.
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      record_number <= st.st_size / kRecordSize) {
    const off_t offset = (record_number - 1) * kRecordSize;
    CallRecord record;
    if (ReadAllAt(fd, record.bytes(), CallRecord::kSize, offset)) {
      record.read_mark[0] = mark.empty() ? ' ' : mark.front();
      WriteAllAt(fd, record.bytes(), CallRecord::kSize, offset);
    }
  }
  ::close(fd);
}

void CallStore::CountLastCalls(CallCounts& counts) const {
  counts = CallCounts{};
  std::vector<std::string> lines;
  if (!ReadLastCalls(lines)) return;
  int64_t number = 0;
  std::string folder;
  for (const std::string& line : lines) {
    CallRecord record{};
    if (SplitLastCallLine(line, number, folder))
      ReadCallRecord(record, folder, number);
    const bool message = IsMessageType(
        std::string_view(record.call_type, sizeof record.call_type));
    const bool unread = TrimField(std::string_view(record.read_mark, 1)) == "0";
    ++counts.NumOfCalls;
    if (message) ++counts.NumOfMessages;
    if (unread) ++counts.NumOfNewCalls;
    if (message && unread) ++counts.NumOfNewMessages;
  }
}

void CallStore::RemoveFromLastCalls(int64_t position) {
  std::vector<std::string> lines;
  if (!ReadLastCalls(lines)) return;
  if (position < 1 || static_cast<uint64_t>(position) > lines.size()) return;
  lines.erase(lines.begin() + (position - 1));
  WriteLastCalls(lines);
}

}  // namespace lw
