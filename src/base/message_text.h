// The text framing of channel messages: a message is one text whose fields
// are separated by CR LF, with no CR LF after the last field; field 0 is the
// message name. Numbers are plain decimal and Booleans the words "True" and
// "False".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

inline constexpr std::string_view kFieldSeparator = "\r\n";
// "SendMail" on the mail channel separates its fields by DC4 instead.
inline constexpr std::string_view kMailFieldSeparator = "\x14";

// Splits `text` at every CR LF. The result always holds at least line 0 (the
// command), so an empty text gives one empty line and a text ending in CR LF
// gives an empty last line. A CR or LF on its own stays inside its line.
std::vector<std::string> SplitMessage(std::string_view text);

// Joins `fields` with `separator` between them (none after the last).
std::string JoinFields(const std::vector<std::string>& fields,
                       std::string_view separator = kFieldSeparator);
std::string JoinFields(std::initializer_list<std::string_view> fields,
                       std::string_view separator = kFieldSeparator);

// "True" or "False".
inline const char* BoolText(bool value) { return value ? "True" : "False"; }

}  // namespace lw
