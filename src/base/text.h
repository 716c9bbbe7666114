// Small text helpers shared by every layer.
#pragma once

#include <string>
#include <string_view>

namespace lw {

// `text` without the characters of `blanks` at either end (by default
// spaces and tabs).
std::string_view Trim(std::string_view text, std::string_view blanks = " \t");
// The same over decoded text: spaces and tabs.
std::u32string_view Trim(std::u32string_view text);

// Whether `a` and `b` are the same text but for the case of ASCII letters
// (independent of the locale; every other byte compares as it is).
bool EqualsNoCase(std::string_view a, std::string_view b);

// `text` with every control character replaced by '?': the C0 controls
// (NUL to US, line feed and tab among them), DEL, and the C1 controls
// U+0080..U+009F where they are written as UTF-8. Caller identification
// passes through here before it reaches a journal line, a stored record, a
// page or a message, so a caller cannot start a journal line of their own or
// cut a field with a NUL. Every other character, and bytes that are not
// UTF-8 (an old modem's Latin-1), stay as they are.
std::string ControlCharactersReplaced(std::string_view text);

}  // namespace lw
