// The stored form of a call (CallRecord, 467 bytes in the day's "Data" file),
// its in-memory form (CallInfo), the call type codes and the rule that names
// a call's recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace lw {

// Call type codes, as held in CallInfo::call_type and stored (blank-padded)
// in the two-character type field of a CallRecord.
inline constexpr std::string_view kCallTypeIncoming = "0";  // nothing kept
inline constexpr std::string_view kCallTypeOutgoing = "1";  // nothing kept
inline constexpr std::string_view kCallTypeVoiceMessage = "2";
inline constexpr std::string_view kCallTypeIncomingRecorded = "3";
inline constexpr std::string_view kCallTypeOutgoingRecorded = "4";

// True for "2", "3" and "4": the calls with a recording ("messages" in every
// count of the system). `code` is compared trimmed of blanks.
bool IsMessageType(std::string_view code);

// "Incoming Call", "Outgoing Call", "Voice Message", "Incoming Recorded
// Call", "Outgoing Recorded Call" for "0".."4" (trimmed); empty otherwise.
std::string_view CallTypeText(std::string_view code);

// One stored call. Text fields are left-aligned and blank-padded; a field
// the writer never fills stays zero bytes. Every member is a byte array, so
// the struct is exactly the on-disk layout.
struct CallRecord {
  char contact_digit[1];   // offset 0: "0".."9" of the matched contact
  char reserved[1];        // offset 1: always a zero byte
  char call_type[2];       // offset 2: "0".."4"
  char caller_name[32];    // offset 4
  char caller_number[32];  // offset 36
  char date[50];           // offset 68: short date text
  char time[16];           // offset 118: long time text
  char length[10];         // offset 134: "0:00:00" when nothing kept
  char line[2];            // offset 144: device index in decimal
  char read_mark[1];       // offset 146: "0" unread, "1" read
  char description[64];    // offset 147
  char note[256];          // offset 211: zero bytes

  static constexpr size_t kSize = 467;

  const char* bytes() const { return reinterpret_cast<const char*>(this); }
  char* bytes() { return reinterpret_cast<char*>(this); }
};
static_assert(sizeof(CallRecord) == CallRecord::kSize);
static_assert(offsetof(CallRecord, caller_name) == 4);
static_assert(offsetof(CallRecord, caller_number) == 36);
static_assert(offsetof(CallRecord, date) == 68);
static_assert(offsetof(CallRecord, time) == 118);
static_assert(offsetof(CallRecord, length) == 134);
static_assert(offsetof(CallRecord, line) == 144);
static_assert(offsetof(CallRecord, read_mark) == 146);
static_assert(offsetof(CallRecord, description) == 147);
static_assert(offsetof(CallRecord, note) == 211);

// How many leading bytes of `value` a field of `width` bytes keeps: all of
// them when they fit; otherwise `width`, moved back to the start of a UTF-8
// character that would be split. Bytes that are not valid UTF-8 are no
// characters: they are cut exactly at the width, like any single byte.
size_t FieldCut(std::string_view value, size_t width);

// Writes `value` into a fixed field: cut to the field's width (FieldCut),
// the rest filled with blanks.
void PutField(char* field, size_t width, std::string_view value);
template <size_t N>
void PutField(char (&field)[N], std::string_view value) {
  PutField(field, N, value);
}

// The field's text with leading and trailing blanks removed. Zero bytes at
// either end count as padding too, so a field that was never written reads
// as empty text.
std::string_view TrimField(std::string_view text);
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(TrimField(std::string_view(field, N)));
}

// The in-memory form of one call: the line controller's current call, or a
// call read back from the store.
struct CallInfo {
  std::string caller_name;
  std::string caller_number;
  std::string time;
  std::string date;
  // The current call: the recording's file name alone. A call read back:
  // the full (native) path of its recording, empty when it has none.
  std::string message_path;
  std::string length;
  std::string contact;  // contact name
  int16_t read_mark = 0;
  std::string call_type;

  friend bool operator==(const CallInfo&, const CallInfo&) = default;
};

// Besides its CallInfo, what the line controller keeps of the current call.
struct CurrentCall {
  CallInfo info;
  std::string description;  // stored in the 64-character description field
  int16_t contact_digit = 0;
  // Absolute day folder (native path, with a trailing "/"): where the
  // recorder puts the call's sound file.
  std::string day_folder;
};

// The longest recording name: a file name holds at most 255 bytes, and the
// note of a call in progress adds its suffix to the recording's name.
inline constexpr size_t kMaxRecordingName = 250;

// The recording's file name: name + "_" + number + "_" + file stamp of date
// and time (with dashes) + ".wav". The recorder names the file by it and the
// readers rebuild the same name from a stored record, so each part is first
// taken as its record field keeps it (cut to the field's width, trimmed):
// the name of a caller whose name is longer than the field is the same from
// the live call and from the record, and never longer than
// kMaxRecordingName. Caller identification is text a stranger controls:
// "/", "\", control characters and bytes that are not valid UTF-8 become
// "_", so the file always lands in the day folder under a printable name.
std::string RecordingName(std::string_view caller_name,
                          std::string_view caller_number, std::string_view date,
                          std::string_view time);

}  // namespace lw
