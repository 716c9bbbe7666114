// The call store: the day folders under "\Data\Log\", each day's "Data" file
// of CallRecords and the latest-call list "\Data\Last".
//
// Every operation opens its file, does its work and closes it again; nothing
// is locked or kept open, and nothing but a finished call (StoreCall, below)
// is reported: a file that cannot be opened, read or written leaves the rest
// of the operation without effect.
// On top of that the store keeps the files whole:
// - the latest-call list is replaced atomically (written to a temporary file
//   beside it, flushed, renamed over it), so a reader sees the old or the new
//   list and a crash never empties it; a list that exists but cannot be read
//   is never replaced;
// - a record is appended with one write at a whole-record boundary and
//   flushed before the list points at it. A data file whose length is not a
//   multiple of the record size (an append cut short by a crash or a full
//   disk) still yields all its whole records; the next record is written
//   over the torn tail, at the boundary behind the last whole record, so it
//   lands whole and takes the record number the torn one would have had.
//   A list entry that pointed at that number (or beyond the whole records)
//   leaves the list then, so no entry shows the new call in place of one
//   that was lost.
//
// A finished call (StoreCall) that cannot be written whole (a full disk) is
// never dropped: it is reported at once, on standard error and in the system
// log as well as the journal, since the journal may sit on the same full
// disk, and kept pending in memory and, where the disk still takes it, as
// the call's note beside its recording (see call_recovery.h, which stores
// the notes left at the next start). The pending calls are written, in the
// order they ended, before the next call and every kRetryIntervalMs while
// any is pending; the timer runs only then.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "callstore/call_record.h"
#include "callstore/contacts.h"
#include "devices/clock.h"

namespace lw {

class Journal;

// The note of a call, beside its recording: the recording's name + this
// suffix. It holds the call's CallRecord, so a call that was not stored
// (cut off by a crash, or pending on a full disk) is stored at the next
// start. Notes are written to kCallNoteTemp in the same folder first.
inline constexpr std::string_view kCallNoteSuffix = ".call";
inline constexpr const char* kCallNoteTemp = ".call-note.tmp";

// The four counts of the latest-call list (line controller variables).
struct CallCounts {
  int32_t NumOfCalls = 0;
  int32_t NumOfMessages = 0;
  int32_t NumOfNewCalls = 0;
  int32_t NumOfNewMessages = 0;

  friend bool operator==(const CallCounts&, const CallCounts&) = default;
};

// "\Data\Log\YYYY\MM\DD\" of a date.
std::string DayFolderText(const LocalDateTime& date);

// Splits a latest-call list line at its first ":" into the record number
// (leading blanks and decimal digits, as a number) and the relative day
// folder. False when the line has no ":", no number, or a folder that does
// not start with a backslash or steps out with "..": such a line leads to
// no record.
bool SplitLastCallLine(std::string_view line, int64_t& record_number,
                       std::string& day_folder);

class CallStore {
 public:
  static constexpr std::string_view kLogFolder = "\\Data\\Log\\";
  static constexpr std::string_view kLastCalls = "\\Data\\Last";

  // `app_path`: AppPath (native, no trailing separator). `journal` may be
  // null; it only hears of repaired data files.
  CallStore(std::string app_path, Clock& clock, Journal* journal = nullptr);
  // Tries the pending calls once more.
  ~CallStore();
  CallStore(const CallStore&) = delete;
  CallStore& operator=(const CallStore&) = delete;

  static constexpr uint32_t kRetryIntervalMs = 5000;

  // NumOfItemsInLast, from txtlNumOfItemsInLast. Below 1 means 100.
  void SetNumOfItemsInLast(int32_t items) { num_of_items_in_last_ = items; }
  int32_t ListLimit() const {
    return num_of_items_in_last_ < 1 ? 100 : num_of_items_in_last_;
  }

  // Starts the current call: today's day folder is made, caller name and
  // number "UNKNOWN", date and time now, no contact (digit 0), length
  // "0:00:00", no message path, type "0", unread. The description is left
  // to the call state.
  void SetCallInfo(CurrentCall& call);

  // Moves the current call's date and time on by one second (at midnight
  // into the next day, whose folder is made). A recording is never written
  // over: when its name is taken, the call takes the next free second, so
  // every reader still derives the name from the stored record. False when
  // the call's date or time is not a date or time text.
  bool MoveToNextSecond(CurrentCall& call);

  // Creates base + YYYY, + YYYY\MM, + YYYY\MM\DD for today, where missing.
  // `base` is a sub-path of AppPath such as "\Data\Log\"; it is created too
  // when missing.
  void MakeDayFolder(std::string_view base);

  // Appends `record` to the day's data file (created when missing) and,
  // unless `skip_latest`, puts it at the head of the latest-call list.
  // Returns the new record number, 0 when nothing was written (errno says
  // why).
  int64_t SaveCall(const CallRecord& record, std::string_view day_folder,
                   bool skip_latest);

  // SaveCall for a finished call, behind the calls still pending, which are
  // written first. `note` is the native path of the call's note (empty when
  // it has none); it is removed once the call is stored whole. When the
  // record or its list entry cannot be written, the call is reported and
  // stays pending (see above).
  struct Stored {
    int64_t record_number = 0;  // 0 while the record is not written
    bool pending = false;       // the record or its list entry not written
  };
  Stored StoreCall(const CallRecord& record, std::string_view day_folder,
                   bool skip_latest, std::string note);
  size_t PendingCalls() const { return pending_.size(); }

  // Puts record_number ":" day_folder at the head of the list, keeping at
  // most ListLimit() lines. False when the list could not be read or
  // replaced.
  bool AddToLastCalls(int64_t record_number, std::string_view day_folder);

  // Reads record `record_number` (from 1) of the day's data file. True when
  // a whole record was read and its date field holds a valid date; `record`
  // is left unchanged when no record was read.
  bool ReadCallRecord(CallRecord& record, std::string_view day_folder,
                      int64_t record_number) const;

  // ReadCallRecord for many records of few days, as the calls page reads
  // them: the data file of the last day asked for stays open while the
  // reader lives (a page's building), so each record costs one read; a
  // data file of up to kWholeFileLimit bytes is read at once instead.
  class RecordReader {
   public:
    explicit RecordReader(const CallStore& store) : store_(store) {}
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;
    // The rules and results of ReadCallRecord.
    bool Read(CallRecord& record, std::string_view day_folder,
              int64_t record_number);

   private:
    static constexpr int64_t kWholeFileLimit = int64_t{1} << 20;
    const CallStore& store_;
    std::string folder_;
    int fd_ = -1;
    int64_t records_ = 0;
    std::string whole_;  // the data file's records when read at once
  };

  // Fills `info` from the list entry at `position` (from 1) and, with
  // `mark_read`, marks its record read. Returns true, leaving `info`
  // unchanged, when the list is empty or has no such position; false when
  // `info` was filled.
  bool GetLastCall(int64_t position, CallInfo& info, bool mark_read);

  // Sets the read mark of one record to the first character of `mark`.
  void SetReadMark(int64_t record_number, std::string_view day_folder,
                   std::string_view mark);

  // Counts the list's entries (every entry, the messages among them, and of
  // both the unread ones).
  void CountLastCalls(CallCounts& counts) const;

  // Takes the entry at `position` (from 1) out of the list; the record and
  // its recording stay on disk.
  void RemoveFromLastCalls(int64_t position);

  // The native path of a stored call's recording: in the day folder of the
  // call's date, named by RecordingName. Empty for a call without one (not
  // a message type, or no valid date).
  std::string RecordingPath(const CallRecord& record) const;

  // Deletes a call: every list entry that points at record `record_number`
  // of `day_folder` leaves the list, and the call's recording file (with a
  // note left beside it) is removed. The record itself stays in the day's
  // data file, whose records are numbered by position. False when no entry
  // pointed at it or the list could not be replaced.
  bool RemoveCall(int64_t record_number, std::string_view day_folder);

  // The list's lines in order (newest first). A missing list is empty; false
  // when the list exists but cannot be read.
  bool ReadLastCalls(std::vector<std::string>& lines) const;
  // Replaces the list atomically with `lines` (CR LF after each).
  bool WriteLastCalls(const std::vector<std::string>& lines) const;

  const std::string& app_path() const { return app_path_; }
  const Contacts& contacts() const { return contacts_; }
  Clock& clock() const { return clock_; }

 private:
  std::string DataFilePath(std::string_view day_folder) const;
  struct ListEntry {
    int64_t record_number;
    std::string day_folder;
  };
  struct PendingCall {
    CallRecord record;
    std::string day_folder;
    bool skip_latest = false;
    std::string note;           // removed once stored; empty when there is none
    int64_t record_number = 0;  // once appended
    bool reported = false;
  };
  // Appends `record` to the day's data file; its number, or 0 (errno set).
  int64_t AppendRecord(const CallRecord& record, std::string_view day_folder);
  // Puts `entries` (oldest first) at the head of the list; with
  // `drop_stale` (records just appended) the entries of the same day at
  // such a number or beyond leave the list. False (errno set) when the list
  // could not be read or replaced.
  bool PutAtHeadOfLastCalls(const std::vector<ListEntry>& entries,
                            bool drop_stale);
  // Writes the pending calls in order as far as the disk takes them,
  // reports the ones that could not be written and keeps the retry timer
  // running while any is left.
  void WritePending();
  void ReportNotStored(PendingCall& call, int error);
  void MakeFolders(std::string_view base, const LocalDateTime& date);

  std::string app_path_;
  Clock& clock_;
  Journal* journal_;
  Contacts contacts_;
  int32_t num_of_items_in_last_ = 0;
  std::deque<PendingCall> pending_;
  std::unique_ptr<Timer> retry_timer_;  // made when first needed
  int64_t last_appended_ = 0;
};

}  // namespace lw
