#include "callstore/call_recovery.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/paths.h"
#include "callstore/file_io.h"
#include "devices/wave.h"
#include "journal/journal.h"

namespace lw {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSource = "RecoverInterruptedCalls";

bool AllDigits(const std::string& text, size_t count) {
  return text.size() == count &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// The file's bytes; empty when it is missing or cannot be read.
std::string ReadWhole(const fs::path& path) {
  std::string text;
  if (!ReadWholeFile(path.string(), text)) text.clear();
  return text;
}

// The subfolders of `folder` whose names are `digits` decimal digits, in
// order: years, months or days of the log tree.
std::vector<fs::path> NumberedFolders(const fs::path& folder, size_t digits) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (AllDigits(it->path().filename().string(), digits) &&
        it->is_directory(ec)) {
      out.push_back(it->path());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The recording names that the day's stored calls lead to, of every call
// type (a message judged too short keeps its file, and its record names
// it), each with the number of its last record.
std::map<std::string, int64_t> NamesOfStoredCalls(const fs::path& day) {
  std::map<std::string, int64_t> names;
  const std::string data = ReadWhole(day / "Data");
  for (size_t at = 0; at + CallRecord::kSize <= data.size();
       at += CallRecord::kSize) {
    CallRecord record;
    std::copy_n(data.data() + at, CallRecord::kSize, record.bytes());
    names[RecordingName(FieldText(record.caller_name),
                        FieldText(record.caller_number), FieldText(record.date),
                        FieldText(record.time))] =
        static_cast<int64_t>(at / CallRecord::kSize) + 1;
  }
  return names;
}

struct DayFiles {
  std::vector<fs::path> notes;          // oldest first
  std::vector<std::string> recordings;  // file names
};

DayFiles ListDay(const fs::path& day) {
  DayFiles files;
  std::vector<std::pair<fs::file_time_type, fs::path>> notes;
  std::error_code ec;
  for (fs::directory_iterator it(day, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!it->is_regular_file(ec)) continue;
    if (name.ends_with(std::string(".wav") + std::string(kCallNoteSuffix))) {
      notes.emplace_back(it->last_write_time(ec), it->path());
    } else if (name.ends_with(".wav")) {
      files.recordings.push_back(name);
    }
  }
  // Oldest first, so the latest call ends up at the head of the list.
  std::sort(notes.begin(), notes.end());
  for (auto& note : notes) files.notes.push_back(std::move(note.second));
  return files;
}

class Recovery {
 public:
  Recovery(CallStore& store, const WrapUpOptions& options, Wave& wave,
           Journal& journal)
      : store_(store), options_(options), wave_(wave), journal_(journal) {}

  void Run() {
    const fs::path root = NativePath(store_.app_path(), CallStore::kLogFolder);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return;
    ReadUnlisted();
    for (const fs::path& year : NumberedFolders(root, 4)) {
      for (const fs::path& month : NumberedFolders(year, 2)) {
        for (const fs::path& day : NumberedFolders(month, 2)) Day(day);
      }
    }
    if (unlisted_now_ != unlisted_before_) WriteUnlisted();
  }

 private:
  void Day(const fs::path& day) {
    DayFiles files = ListDay(day);
    if (files.notes.empty() && files.recordings.empty()) return;
    std::map<std::string, int64_t> named = NamesOfStoredCalls(day);
    std::set<std::string> noted;
    for (const fs::path& note : files.notes) {
      const std::string note_name = note.filename().string();
      const std::string recording =
          note_name.substr(0, note_name.size() - kCallNoteSuffix.size());
      if (!RecoverCall(day, note, recording, named)) noted.insert(recording);
      named.emplace(recording, 0);
    }
    for (const std::string& name : files.recordings) {
      if (named.count(name) != 0 || noted.count(name) != 0) continue;
      const std::string path = (day / name).string();
      unlisted_now_.insert(path);
      if (unlisted_before_.count(path) == 0) {
        journal_.LogSys("Recording without a stored call: " + path, 0, kSource);
      }
    }
  }

  // Stores the call of one note; false when the note stays for a later
  // start (the record could not be written).
  bool RecoverCall(const fs::path& day, const fs::path& note,
                   const std::string& recording,
                   const std::map<std::string, int64_t>& named) {
    const std::string recording_path = (day / recording).string();
    const std::string bytes = ReadWhole(note);
    std::error_code ec;
    if (bytes.size() != CallRecord::kSize) {
      journal_.LogSys(
          "Unreadable note of an interrupted call: " + note.string(), 0,
          kSource);
      fs::remove(note, ec);
      return true;
    }
    // A call whose record was written but not its list entry (the list
    // could not be replaced, or the process died in between) gets its
    // entry now; its record is not stored twice. The note was there, so
    // the entry was never in the list and the owner cannot have deleted it.
    if (auto stored = named.find(recording); stored != named.end()) {
      if (!AddMissingEntry(day, stored->second)) {
        journal_.LogSys("Interrupted call not stored yet: " + recording_path, 0,
                        kSource);
        return false;
      }
      fs::remove(note, ec);
      return true;
    }
    // A call that was never recorded (its recording could not be made) has
    // a note without a recording.
    const int32_t repaired =
        fs::exists(recording_path, ec) ? wave_.RepairFile(recording_path) : 0;
    if (repaired != 0) {
      journal_.LogSys(wave_.GetRecordErrorText(repaired), repaired,
                      std::string(kSource) + ":Wave.RepairFile");
    }

    CallRecord record;
    std::copy_n(bytes.data(), CallRecord::kSize, record.bytes());
    CurrentCall call;
    call.info.caller_name = FieldText(record.caller_name);
    call.info.caller_number = FieldText(record.caller_number);
    call.info.date = FieldText(record.date);
    call.info.time = FieldText(record.time);
    call.info.call_type = FieldText(record.call_type);
    call.info.length = "0:00:00";
    call.info.message_path = recording;
    call.description = FieldText(record.description);
    const std::string digit = FieldText(record.contact_digit);
    std::from_chars(digit.data(), digit.data() + digit.size(),
                    call.contact_digit);
    call.day_folder = day.string() + "/";
    int32_t line = 0;
    const std::string line_text = FieldText(record.line);
    std::from_chars(line_text.data(), line_text.data() + line_text.size(),
                    line);

    const WrapUpResult result =
        SaveFinishedCall(store_, call, line, options_, false, wave_);
    const bool stored = result.saved || (options_.list_messages_only &&
                                         !IsMessageType(result.stored_type));
    if (!stored) {
      journal_.LogSys("Interrupted call not stored yet: " + recording_path, 0,
                      kSource);
      return false;
    }
    journal_.LogSys("Recovered interrupted call: " + recording_path, 0,
                    kSource);
    return true;
  }

  // Puts record `number` of `day` at the head of the list unless an entry
  // there leads to it already; false when the list could not be replaced.
  bool AddMissingEntry(const fs::path& day, int64_t number) {
    if (number < 1) return true;
    const fs::path month = day.parent_path();
    const std::string folder = std::string(CallStore::kLogFolder) +
                               month.parent_path().filename().string() + "\\" +
                               month.filename().string() + "\\" +
                               day.filename().string() + "\\";
    std::vector<std::string> lines;
    if (!store_.ReadLastCalls(lines)) return false;
    for (const std::string& line : lines) {
      int64_t listed = 0;
      std::string listed_folder;
      if (SplitLastCallLine(line, listed, listed_folder) && listed == number &&
          listed_folder == folder)
        return true;
    }
    if (!store_.AddToLastCalls(number, folder)) return false;
    journal_.LogSys(
        "Listed stored call: " + std::to_string(number) + ":" + folder, 0,
        kSource);
    return true;
  }

  void ReadUnlisted() {
    const std::string text = ReadWhole(UnlistedPath());
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      if (end > start) unlisted_before_.insert(text.substr(start, end - start));
      start = end + 2;
    }
  }

  // Only recordings still without a stored call are kept, so the file
  // forgets the ones that were deleted or stored meanwhile.
  void WriteUnlisted() {
    std::string text;
    for (const std::string& line : unlisted_now_) text += line + "\r\n";
    const std::string path = UnlistedPath();
    ReplaceFile(path, path + ".tmp", text);
  }

  std::string UnlistedPath() const {
    return NativePath(store_.app_path(), kUnlistedRecordings);
  }

  CallStore& store_;
  const WrapUpOptions& options_;
  Wave& wave_;
  Journal& journal_;
  std::set<std::string> unlisted_before_;
  std::set<std::string> unlisted_now_;
};

}  // namespace

void RecoverInterruptedCalls(CallStore& store, const WrapUpOptions& options,
                             Wave& wave, Journal& journal) {
  Recovery(store, options, wave, journal).Run();
}

}  // namespace lw
