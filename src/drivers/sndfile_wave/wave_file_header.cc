#include "drivers/sndfile_wave/wave_file_header.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace lw {
namespace {

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Headers with long lists of metadata chunks still fit in this.
constexpr size_t kHeaderReadBytes = 64 * 1024;

}  // namespace

std::optional<WaveFileHeader> ParseWaveFileHeader(
    std::span<const uint8_t> bytes, uint64_t file_size) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  WaveFileHeader header;
  bool have_fmt = false;
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    const uint8_t* chunk = bytes.data() + pos;
    uint32_t size = Le32(chunk + 4);
    size_t body = pos + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || body + 16 > bytes.size()) return std::nullopt;
      const uint8_t* f = bytes.data() + body;
      header.format_tag = Le16(f);
      header.channels = Le16(f + 2);
      header.samples_per_sec = Le32(f + 4);
      header.avg_bytes_per_sec = Le32(f + 8);
      header.block_align = Le16(f + 12);
      header.bits_per_sample = Le16(f + 14);
      // The sub-format GUID starts with the coding's own tag.
      if (header.format_tag == kWaveTagExtensible && size >= 40 &&
          body + 26 <= bytes.size()) {
        header.format_tag = Le16(f + 24);
      }
      have_fmt = true;
    } else if (std::memcmp(chunk, "fact", 4) == 0) {
      if (size >= 4 && body + 4 <= bytes.size()) {
        header.fact_samples = Le32(bytes.data() + body);
      }
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_fmt) return std::nullopt;
      uint64_t available = file_size > body ? file_size - body : 0;
      header.data_bytes = size < available ? size : available;
      return header;
    }
    // Chunks are word-aligned: an odd size is followed by a pad byte.
    pos = body + size + (size & 1u);
  }
  return std::nullopt;
}

std::optional<WaveFileHeader> ReadWaveFileHeader(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"),
                                             &std::fclose);
  if (!file) return std::nullopt;
  std::vector<uint8_t> bytes(kHeaderReadBytes);
  size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  bytes.resize(got);
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return std::nullopt;
  long size = std::ftell(file.get());
  if (size < 0) return std::nullopt;
  return ParseWaveFileHeader(bytes, static_cast<uint64_t>(size));
}

}  // namespace lw
