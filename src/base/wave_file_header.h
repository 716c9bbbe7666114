// The header of a RIFF wave file, read by hand: the format tag as the file
// states it (also for codings the sound library cannot decode, such as
// TrueSpeech), the size of the sound data, and the fact chunk's sample
// count, which is the true length of GSM 6.10 data whose last block is
// only half used.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace lw {

inline constexpr uint16_t kWaveTagExtensible = 0xFFFE;

struct WaveFileHeader {
  // For extensible files, the tag of the sub-format.
  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t samples_per_sec = 0;
  uint32_t avg_bytes_per_sec = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  // Bytes of sound data, as declared but never past the end of the file.
  uint64_t data_bytes = 0;
  std::optional<uint32_t> fact_samples;
};

// Parses the start of a file (`bytes`, the first bytes of a file of
// `file_size` bytes). Empty unless it is a RIFF "WAVE" file with a "fmt "
// chunk and a "data" chunk within `bytes`.
std::optional<WaveFileHeader> ParseWaveFileHeader(
    std::span<const uint8_t> bytes, uint64_t file_size);

// Reads and parses the header of the file at `path`.
std::optional<WaveFileHeader> ReadWaveFileHeader(const std::string& path);
// The same for the open file `fd`, read without moving its offset.
std::optional<WaveFileHeader> ReadWaveFileHeader(int fd);

// Makes the header of a wave file whose writing was cut off (the process
// died while recording) agree with the sound in it: the data chunk, taken as
// the file's last chunk, runs to the last whole block in the file (a piece
// of a block after it is cut off), and the RIFF size and the fact chunk's
// sample count follow. A file whose data chunk is followed by further chunks
// was written to its end and is left as it is. True when the file is a
// complete wave file afterwards.
bool RepairWaveFileHeader(const std::string& path);

}  // namespace lw
