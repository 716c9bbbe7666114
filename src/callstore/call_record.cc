#include "callstore/call_record.h"

#include <cstring>

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

// Length of the well-formed UTF-8 character starting at text[at] (1 to 4),
// or 0 when the bytes there are not one.
size_t Utf8CharLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;   // range of the second byte (no overlong forms,
  unsigned char high = 0xBF;  // no surrogates, nothing past U+10FFFF)
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

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
  auto pad = [](char c) { return c == ' ' || c == '\0'; };
  while (!text.empty() && pad(text.front())) text.remove_prefix(1);
  while (!text.empty() && pad(text.back())) text.remove_suffix(1);
  return text;
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
