#include "callstore/call_record.h"

#include <algorithm>

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

void PutField(char* field, size_t width, std::string_view value) {
  const size_t n = std::min(width, value.size());
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
  std::string name;
  name.reserve(caller_name.size() + caller_number.size() + date.size() +
               time.size() + 8);
  auto append_safe = [&name](std::string_view part) {
    for (char c : part)
      name.push_back(c == '/' || c == '\\' || c == '\0' ? '_' : c);
  };
  append_safe(caller_name);
  name += '_';
  append_safe(caller_number);
  name += '_';
  append_safe(MakeFileStamp(date, time, true));
  name += ".wav";
  return name;
}

}  // namespace lw
