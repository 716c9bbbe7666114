// Small text helpers shared by every layer.
#pragma once

#include <string_view>

namespace lw {

// `text` without the characters of `blanks` at either end (by default
// spaces and tabs).
std::string_view Trim(std::string_view text, std::string_view blanks = " \t");
// The same over decoded text: spaces and tabs.
std::u32string_view Trim(std::u32string_view text);

}  // namespace lw
