// UTF-8, the form of every text the system keeps. Texts are bytes: settings,
// caller identification and stored records hold what they were given, and
// bytes that are not UTF-8 (an old Latin-1 store, a modem) pass through
// unchanged. Only where text is cut to a width, converted for a .reg file or
// shown on a page or in a journal is it read character by character, with
// this one decoder.
#pragma once

#include <cstddef>
#include <string_view>

namespace lw {

// The length (1 to 4) of the well-formed UTF-8 character at text[at], its
// code point in `*code` when asked for; 0 when the bytes there are not one
// (a stray continuation byte, a cut sequence, an overlong form, a surrogate
// or a value past U+10FFFF). `at` must be inside `text`.
size_t Utf8CharLength(std::string_view text, size_t at,
                      char32_t* code = nullptr);

}  // namespace lw
