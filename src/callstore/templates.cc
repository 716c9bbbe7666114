#include "callstore/templates.h"

#include "journal/regional.h"

namespace lw {
namespace {

// Caller numbers that are words, not digits: inserted as they are.
bool IsNumberWord(std::string_view number) {
  return number == "UNKNOWN" || number == "OUT OF AREA" ||
         number == "BLOCKED CALL" || number == "CALLERID UNAVAILABLE";
}

// A stored date or time that is not one is shown as it is.
std::string LongDate(const std::string& date) {
  auto parsed = ParseShortDate(date);
  return parsed ? LongDateText(*parsed) : date;
}

std::string MediumTime(const std::string& time) {
  auto parsed = ParseLongTime(time);
  return parsed ? MediumTimeText(*parsed) : time;
}

}  // namespace

void ReplacePlaceholder(std::string& text, std::string_view placeholder,
                        std::string_view replacement) {
  if (placeholder.empty()) return;
  size_t pos = text.find(placeholder);
  while (pos != std::string::npos) {
    text.replace(pos, placeholder.size(), replacement);
    pos = text.find(placeholder, pos + replacement.size());
  }
}

std::string SpellOut(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    out += c;
    out += ' ';
  }
  return out;
}

std::string FillCallTemplate(std::string_view text, const CallInfo& call,
                             const RemoteDigits& digits) {
  std::string out(text);
  if (out.empty()) return out;
  // Each replacement is only worked out when its placeholder is there.
  auto fill = [&out](std::string_view placeholder, auto make) {
    if (out.find(placeholder) != std::string::npos)
      ReplacePlaceholder(out, placeholder, make());
  };
  fill("<CALLER_NUMBER>", [&] {
    return IsNumberWord(call.caller_number) ? call.caller_number
                                            : SpellOut(call.caller_number);
  });
  fill("<CALLER_NAME>", [&] { return call.caller_name; });
  fill("<MESSAGE_PATH>", [&] { return call.message_path; });
  fill("<DATE>", [&] { return LongDate(call.date); });
  fill("<TIME>", [&] { return MediumTime(call.time); });
  fill("<CONTACT>", [&] { return call.contact; });
  fill("<CALL_TYPE>",
       [&] { return std::string(CallTypeText(call.call_type)); });
  fill("<LENGTH>", [&] { return call.length; });
  fill("<READ>",
       [&] { return std::string(call.read_mark == 1 ? "read" : "unread"); });
  fill("<MESSAGEORCALL>", [&] {
    return std::string(IsMessageType(call.call_type) ? "voice message"
                                                     : "call");
  });
  fill("<PLAY>", [&] { return digits.RCPlay; });
  fill("<PREV>", [&] { return digits.RCPrevDigit; });
  fill("<EXIT>", [&] { return digits.RCCloseRC; });
  fill("<NEXT>", [&] { return digits.RCNextDigit; });
  fill("<FIRST>", [&] { return digits.RCFirstDigit; });
  fill("<DELETE>", [&] { return digits.RCDelete; });
  fill("<MARK>", [&] { return digits.RCMarkUsUnRead; });
  return out;
}

std::string FillCountTemplate(std::string_view text, const CallCounts& counts) {
  std::string out(text);
  ReplacePlaceholder(out, "<NUM_CALLS>", std::to_string(counts.NumOfCalls));
  ReplacePlaceholder(out, "<NUM_MSG>", std::to_string(counts.NumOfMessages));
  ReplacePlaceholder(out, "<NUM_NEW_MSG>",
                     std::to_string(counts.NumOfNewMessages));
  ReplacePlaceholder(out, "<NUM_NEW_CALLS>",
                     std::to_string(counts.NumOfNewCalls));
  return out;
}

}  // namespace lw
