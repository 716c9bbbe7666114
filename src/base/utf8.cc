#include "base/utf8.h"

#include <cstdint>

namespace lw {

size_t Utf8CharLength(std::string_view text, size_t at, char32_t* code) {
  const auto lead = static_cast<uint8_t>(text[at]);
  size_t length;
  char32_t c;
  char32_t min;
  if (lead < 0x80) {
    length = 1, c = lead, min = 0;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1Fu, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0Fu, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto b = static_cast<uint8_t>(text[at + k]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3Fu);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  if (code != nullptr) *code = c;
  return length;
}

}  // namespace lw
