#include "callstore/call_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "base/paths.h"
#include "base/system.h"
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

// The call as a report names it: date, time, caller's name and number.
std::string CallShown(const CallRecord& record) {
  return FieldText(record.date) + " " + FieldText(record.time) + " from " +
         JournalShown(FieldText(record.caller_name)) + " (" +
         JournalShown(FieldText(record.caller_number)) + ")";
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

CallStore::~CallStore() {
  if (pending_.empty()) return;
  try {
    WritePending();
  } catch (...) {
    // Out of memory at the end: what is on disk stays for the next start.
  }
}

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

bool CallStore::MoveToNextSecond(CurrentCall& call) {
  const auto date = ParseShortDate(call.info.date);
  const auto time = ParseLongTime(call.info.time);
  if (!date || !time) return false;
  // Civil time arithmetic in UTC, so no zone rule shifts the second.
  tm t{};
  t.tm_year = date->year - 1900;
  t.tm_mon = date->month - 1;
  t.tm_mday = date->day;
  t.tm_hour = time->hour;
  t.tm_min = time->minute;
  t.tm_sec = time->second + 1;
  const time_t next_time = ::timegm(&t);
  if (::gmtime_r(&next_time, &t) == nullptr) return false;
  const LocalDateTime next{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                           t.tm_min,         t.tm_sec,     t.tm_wday};
  if (next.day != date->day) {
    MakeFolders(kLogFolder, next);
    call.day_folder = NativePath(app_path_, DayFolderText(next));
  }
  call.info.date = ShortDateText(next);
  call.info.time = LongTimeText(next);
  return true;
}

int64_t CallStore::AppendRecord(const CallRecord& record,
                                std::string_view day_folder) {
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
    errno = EISDIR;
    return 0;
  }
  const off_t length = st.st_size;
  // A tail shorter than a record is what is left of an append that was cut
  // short; the call it belonged to never reached the list. The new record
  // goes over it, at the boundary behind the last whole record.
  const off_t torn = length % kRecordSize;
  const off_t offset = length - torn;
  errno = 0;
  const bool written =
      WriteAllAt(fd, record.bytes(), CallRecord::kSize, offset) &&
      ::fdatasync(fd) == 0;
  if (!written) {
    // A short write that set no errno ran out of room.
    const int error = errno == 0 ? ENOSPC : errno;
    // Leave whole records only, never a piece of this one.
    if (::ftruncate(fd, offset) != 0) {
      // Nothing more to do: the next append goes over the piece.
    }
    ::close(fd);
    errno = error;
    return 0;
  }
  ::close(fd);
  if (torn != 0 && journal_ != nullptr) {
    journal_->LogSys("Incomplete last record replaced in " + path, 0,
                     "SaveCall");
  }
  return offset / kRecordSize + 1;
}

int64_t CallStore::SaveCall(const CallRecord& record,
                            std::string_view day_folder, bool skip_latest) {
  const int64_t number = AppendRecord(record, day_folder);
  if (number != 0 && !skip_latest)
    PutAtHeadOfLastCalls({{number, std::string(day_folder)}}, true);
  return number;
}

CallStore::Stored CallStore::StoreCall(const CallRecord& record,
                                       std::string_view day_folder,
                                       bool skip_latest, std::string note) {
  PendingCall call{record, std::string(day_folder), skip_latest,
                   std::move(note)};
  pending_.push_back(std::move(call));
  last_appended_ = 0;
  WritePending();
  // Appends go in order, so this call, the last, was appended last.
  return {last_appended_, !pending_.empty()};
}

void CallStore::WritePending() {
  int error = 0;
  size_t appended = 0;
  errno = 0;
  for (PendingCall& call : pending_) {
    if (call.record_number == 0) {
      call.record_number = AppendRecord(call.record, call.day_folder);
      if (call.record_number == 0) {
        error = errno;
        break;
      }
      last_appended_ = call.record_number;
    }
    ++appended;
  }
  // The list entries of the appended calls go in with one replacement,
  // oldest first, so the list keeps the order the calls ended in.
  std::vector<ListEntry> entries;
  for (size_t i = 0; i < appended; ++i) {
    const PendingCall& call = pending_[i];
    if (!call.skip_latest)
      entries.push_back({call.record_number, call.day_folder});
  }
  errno = 0;
  if (entries.empty() || PutAtHeadOfLastCalls(entries, true)) {
    for (size_t i = 0; i < appended; ++i) {
      const PendingCall& call = pending_[i];
      if (!call.note.empty()) ::unlink(call.note.c_str());
      if (call.reported && journal_ != nullptr) {
        journal_->LogSys("Stored the call " + CallShown(call.record) +
                             " that could not be stored before",
                         0, "StoreCall");
      }
    }
    pending_.erase(pending_.begin(),
                   pending_.begin() + static_cast<ptrdiff_t>(appended));
  } else if (error == 0) {
    error = errno == 0 ? EIO : errno;
  }
  for (PendingCall& call : pending_)
    if (!call.reported) ReportNotStored(call, error);
  if (pending_.empty()) {
    if (retry_timer_) retry_timer_->SetEnabled(false);
    return;
  }
  if (!retry_timer_) {
    retry_timer_ = clock_.CreateTimer([this] {
      try {
        WritePending();
      } catch (...) {
        // Out of memory: the calls stay pending for the next try.
      }
    });
    retry_timer_->SetInterval(kRetryIntervalMs);
  }
  if (!retry_timer_->Enabled()) retry_timer_->SetEnabled(true);
}

void CallStore::ReportNotStored(PendingCall& call, int error) {
  call.reported = true;
  const std::string reason = error == ENOSPC || error == EDQUOT
                                 ? std::string("no space left")
                                 : ErrnoText(error);
  const std::string text =
      "could not store the call " + CallShown(call.record) + ": " + reason;
  ShowOnConsoleAndSystemLog(LOG_ERR, text);
  if (journal_ != nullptr) journal_->LogSys(text, error, "StoreCall");
  // A call without a note of its own gets one where the disk still takes
  // it, so that a start stores it even if this process ends first. A note
  // that is there already belongs to another call of the same name.
  if (!call.note.empty() || call.skip_latest) return;
  const std::string day = NativePath(app_path_, call.day_folder);
  const std::string note =
      day +
      RecordingName(FieldText(call.record.caller_name),
                    FieldText(call.record.caller_number),
                    FieldText(call.record.date), FieldText(call.record.time)) +
      std::string(kCallNoteSuffix);
  if (::access(note.c_str(), F_OK) == 0 || errno != ENOENT) return;
  if (ReplaceFile(note, day + kCallNoteTemp,
                  std::string_view(call.record.bytes(), CallRecord::kSize)))
    call.note = note;
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

bool CallStore::AddToLastCalls(int64_t record_number,
                               std::string_view day_folder) {
  return PutAtHeadOfLastCalls({{record_number, std::string(day_folder)}},
                              false);
}

bool CallStore::PutAtHeadOfLastCalls(const std::vector<ListEntry>& entries,
                                     bool drop_stale) {
  std::vector<std::string> old;
  // A list that is there but cannot be read is left alone: rewriting it
  // would drop every entry in it.
  if (!ReadLastCalls(old)) return false;
  const size_t limit = static_cast<size_t>(ListLimit());
  std::vector<std::string> lines;
  lines.reserve(std::min(limit, old.size() + entries.size()));
  for (auto entry = entries.rbegin();
       entry != entries.rend() && lines.size() < limit; ++entry) {
    lines.push_back(std::to_string(entry->record_number) + ":" +
                    entry->day_folder);
  }
  // A new record went to the end of the day's whole records: an entry of
  // that day at its number or beyond pointed at a record that was never
  // whole (cut off by a crash) and would now show this call.
  auto stale = [&](const std::string& line) {
    int64_t number = 0;
    std::string folder;
    if (!drop_stale || !SplitLastCallLine(line, number, folder)) return false;
    return std::any_of(entries.begin(), entries.end(), [&](const auto& e) {
      return number >= e.record_number && folder == e.day_folder;
    });
  };
  for (std::string& line : old) {
    if (lines.size() >= limit) break;
    if (!stale(line)) lines.push_back(std::move(line));
  }
  return WriteLastCalls(lines);
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
    whole_.clear();
    fd_ = OpenFile(store_.DataFilePath(day_folder), O_RDONLY);
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
      records_ = st.st_size / kRecordSize;
    if (records_ * kRecordSize <= kWholeFileLimit) {
      whole_.resize(static_cast<size_t>(records_ * kRecordSize));
      if (!ReadAllAt(fd_, whole_.data(), whole_.size(), 0)) {
        whole_.clear();
        records_ = 0;
      }
    }
  }
  if (fd_ < 0 || record_number < 1 || record_number > records_) return false;
  CallRecord got;
  const auto at = (record_number - 1) * kRecordSize;
  if (!whole_.empty())
    std::memcpy(got.bytes(), whole_.data() + at, CallRecord::kSize);
  else if (!ReadAllAt(fd_, got.bytes(), CallRecord::kSize, at))
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
  info.message_path = read ? RecordingPath(record) : std::string();
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

std::string CallStore::RecordingPath(const CallRecord& record) const {
  const std::string date = FieldText(record.date);
  const auto day = ParseShortDate(date);
  if (!IsMessageType(FieldText(record.call_type)) || !day) return {};
  return NativePath(
      app_path_,
      DayFolderText(*day) + RecordingName(FieldText(record.caller_name),
                                          FieldText(record.caller_number), date,
                                          FieldText(record.time)));
}

bool CallStore::RemoveCall(int64_t record_number, std::string_view day_folder) {
  std::vector<std::string> lines;
  if (!ReadLastCalls(lines)) return false;
  const size_t before = lines.size();
  std::erase_if(lines, [&](const std::string& line) {
    int64_t number = 0;
    std::string folder;
    return SplitLastCallLine(line, number, folder) && number == record_number &&
           folder == day_folder;
  });
  if (lines.size() == before) return false;
  CallRecord record{};
  const bool read = ReadCallRecord(record, day_folder, record_number);
  if (!WriteLastCalls(lines)) return false;
  if (const std::string path = read ? RecordingPath(record) : std::string();
      !path.empty()) {
    ::unlink(path.c_str());
    ::unlink((path + std::string(kCallNoteSuffix)).c_str());
  }
  return true;
}

}  // namespace lw
