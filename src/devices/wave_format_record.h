// The wave format record: how sound is laid out on a line device or in a
// file. Its 28 bytes are stored as they are in the wave formats file, so the
// layout is fixed: little-endian fields, no padding, up to ten bytes of
// codec-specific data after the common header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace lw {

#pragma pack(push, 1)
struct WaveFormatRecord {
  uint16_t format_tag = 0;  // 1 PCM, 7 mu-law, 49 GSM 6.10, 34 TrueSpeech
  uint16_t channels = 0;
  uint32_t samples_per_sec = 0;
  uint32_t avg_bytes_per_sec = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint16_t extra_size = 0;  // bytes of `extra` in use
  uint8_t extra[10] = {};
};
#pragma pack(pop)

static_assert(sizeof(WaveFormatRecord) == 28);
static_assert(std::is_standard_layout_v<WaveFormatRecord>);
static_assert(offsetof(WaveFormatRecord, extra) == 18);

}  // namespace lw
