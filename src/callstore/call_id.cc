#include "callstore/call_id.h"

#include <charconv>

#include "callstore/call_store.h"

namespace lw {
namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool ParseNumber(std::string_view text, int64_t& n) {
  const auto [end, err] =
      std::from_chars(text.data(), text.data() + text.size(), n);
  return AllDigits(text) && err == std::errc() &&
         end == text.data() + text.size();
}

}  // namespace

// Seconds of a stored length "H:MM:SS" (0 when it is not one).
int64_t LengthSeconds(std::string_view length) {
  int64_t total = 0;
  int parts = 0;
  while (!length.empty()) {
    const size_t colon = length.find(':');
    int64_t n = 0;
    if (!ParseNumber(length.substr(0, colon), n) || ++parts > 3) return 0;
    total = total * 60 + n;
    length = colon == std::string_view::npos ? std::string_view()
                                             : length.substr(colon + 1);
  }
  return total;
}

std::string CallId(std::string_view day_folder, int64_t record_number) {
  // "\Data\Log\" + "YYYY\MM\DD\"
  constexpr std::string_view kLog = "\\data\\log\\";
  if (day_folder.size() != kLog.size() + 11 || record_number < 1) return {};
  for (size_t i = 0; i < kLog.size(); ++i)
    if ((day_folder[i] | 0x20) != kLog[i] && day_folder[i] != kLog[i])
      return {};
  const std::string_view day = day_folder.substr(kLog.size());
  if (!AllDigits(day.substr(0, 4)) || day[4] != '\\' ||
      !AllDigits(day.substr(5, 2)) || day[7] != '\\' ||
      !AllDigits(day.substr(8, 2)) || day[10] != '\\')
    return {};
  std::string id;
  id += day.substr(0, 4);
  id += day.substr(5, 2);
  id += day.substr(8, 2);
  return id + '-' + std::to_string(record_number);
}

bool ParseCallId(std::string_view id, std::string& day_folder,
                 int64_t& record_number) {
  // One text per call: a number with a leading zero names no call.
  if (id.size() < 10 || id[8] != '-' || id[9] == '0' ||
      !AllDigits(id.substr(0, 8)) ||
      !ParseNumber(id.substr(9), record_number) || record_number < 1)
    return false;
  day_folder = std::string(CallStore::kLogFolder);
  day_folder += id.substr(0, 4);
  day_folder += '\\';
  day_folder += id.substr(4, 2);
  day_folder += '\\';
  day_folder += id.substr(6, 2);
  day_folder += '\\';
  return true;
}

void AppendRecordingAddress(std::string& out, std::string_view id) {
  out += kCallsAddress;
  out += '/';
  out += id;
  out += "/recording";
}

std::string_view TypeWords(std::string_view code, bool blocked) {
  code = TrimField(code);
  if (code == kCallTypeIncoming) return blocked ? "blocked" : "missed";
  if (code == kCallTypeOutgoing) return "outgoing";
  if (code == kCallTypeVoiceMessage) return "message";
  if (code == kCallTypeIncomingRecorded || code == kCallTypeOutgoingRecorded)
    return "recorded call";
  return "unknown";
}

}  // namespace lw
