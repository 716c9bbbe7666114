#include "callstore/call_record.h"

#include <cstring>

#include "base/text.h"
#include "base/utf8.h"
#include "journal/regional.h"

namespace lw {

bool IsMessageType(std::string_view code) {
  code = TrimField(code);
  return code == kCallTypeVoiceMessage || code == kCallTypeIncomingRecorded ||
         code == kCallTypeOutgoingRecorded;
}

std::string_view CallTypeText(std::string_view code) {
  code = TrimField(code);
  if (code == kCallTypeIncoming) return "Incoming Call";
  if (code == kCallTypeOutgoing) return "Outgoing Call";
  if (code == kCallTypeVoiceMessage) return "Voice Message";
  if (code == kCallTypeIncomingRecorded) return "Incoming Recorded Call";
  if (code == kCallTypeOutgoingRecorded) return "Outgoing Recorded Call";
  return {};
}

namespace {

// Appends `part` with the bytes a file name must not carry (or that would
// make it unreadable) replaced by "_".
void AppendFileNameSafe(std::string& name, std::string_view part) {
  size_t at = 0;
  while (at < part.size()) {
    const size_t length = Utf8CharLength(part, at);
    const unsigned char c = static_cast<unsigned char>(part[at]);
    if (length == 0 || c < 0x20 || c == 0x7F || c == '/' || c == '\\') {
      name.push_back('_');
      at += length == 0 ? 1 : length;
      continue;
    }
    name.append(part.substr(at, length));
    at += length;
  }
}

// A text as a record field of `width` keeps it, read back.
std::string_view AsStored(std::string_view text, size_t width) {
  return TrimField(text.substr(0, FieldCut(text, width)));
}

}  // namespace

size_t FieldCut(std::string_view value, size_t width) {
  if (value.size() <= width) return value.size();
  // A character starts at most three bytes before the cut; it is kept whole
  // or left out whole.
  for (size_t back = 1; back <= 3 && back <= width; ++back) {
    const size_t start = width - back;
    const unsigned char c = static_cast<unsigned char>(value[start]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further
    const size_t length = Utf8CharLength(value, start);
    return length > back ? start : width;
  }
  return width;
}

void PutField(char* field, size_t width, std::string_view value) {
  const size_t n = FieldCut(value, width);
  std::memcpy(field, value.data(), n);
  std::memset(field + n, ' ', width - n);
}

std::string_view TrimField(std::string_view text) {
  return Trim(text, std::string_view(" \0", 2));
}

std::string RecordingName(std::string_view caller_name,
                          std::string_view caller_number, std::string_view date,
                          std::string_view time) {
  // Every part is at most its field's width and the stamp copies date and
  // time with one separator, so the name always fits.
  static_assert(
      sizeof(CallRecord::caller_name) + sizeof(CallRecord::caller_number) +
          sizeof(CallRecord::date) + sizeof(CallRecord::time) + 3 + 4 <=
      kMaxRecordingName);
  std::string name;
  name.reserve(kMaxRecordingName);
  AppendFileNameSafe(name,
                     AsStored(caller_name, sizeof(CallRecord::caller_name)));
  name += '_';
  AppendFileNameSafe(
      name, AsStored(caller_number, sizeof(CallRecord::caller_number)));
  name += '_';
  AppendFileNameSafe(
      name, MakeFileStamp(AsStored(date, sizeof(CallRecord::date)),
                          AsStored(time, sizeof(CallRecord::time)), true));
  name += ".wav";
  return name;
}

}  // namespace lw
