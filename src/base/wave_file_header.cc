#include "base/wave_file_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

void PutLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Headers with long lists of metadata chunks still fit in this.
constexpr size_t kHeaderReadBytes = size_t{64} * 1024;

constexpr uint16_t kTagGsm610 = 49;
constexpr uint32_t kGsmSamplesPerBlock = 320;

// Where the chunks that a repair touches sit in the header bytes.
struct ChunkPlaces {
  size_t fmt_body = 0;
  std::optional<size_t> fact_body;
  size_t data_chunk = 0;
};

// Walks the chunks up to "data"; empty unless "fmt " (whole) precedes it.
std::optional<ChunkPlaces> FindChunks(std::span<const uint8_t> bytes) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  ChunkPlaces places;
  bool have_fmt = false;
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    const uint8_t* chunk = bytes.data() + pos;
    const uint32_t size = Le32(chunk + 4);
    const size_t body = pos + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || body + 16 > bytes.size()) return std::nullopt;
      places.fmt_body = body;
      have_fmt = true;
    } else if (std::memcmp(chunk, "fact", 4) == 0) {
      if (size >= 4 && body + 4 <= bytes.size()) places.fact_body = body;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_fmt) return std::nullopt;
      places.data_chunk = pos;
      return places;
    }
    // Chunks are word-aligned: an odd size is followed by a pad byte.
    pos = body + size + (size & 1u);
  }
  return std::nullopt;
}

// True when the bytes at `at` of the file start a plausible chunk: an
// identifier of four printable characters and a size within the file.
bool ChunkFollows(int fd, uint64_t at, uint64_t file_size) {
  uint8_t chunk[8];
  if (at + sizeof chunk > file_size ||
      ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(at)) !=
          static_cast<ssize_t>(sizeof chunk)) {
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    if (chunk[i] < 0x20 || chunk[i] > 0x7E) return false;
  }
  return at + sizeof chunk + Le32(chunk + 4) <= file_size;
}

bool WriteAt(int fd, const uint8_t* data, size_t size, uint64_t at) {
  return ::pwrite(fd, data, size, static_cast<off_t>(at)) ==
         static_cast<ssize_t>(size);
}

}  // namespace

std::optional<WaveFileHeader> ParseWaveFileHeader(
    std::span<const uint8_t> bytes, uint64_t file_size) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  const std::optional<ChunkPlaces> places = FindChunks(bytes);
  if (!places) return std::nullopt;
  WaveFileHeader header;
  const uint8_t* f = bytes.data() + places->fmt_body;
  header.format_tag = Le16(f);
  header.channels = Le16(f + 2);
  header.samples_per_sec = Le32(f + 4);
  header.avg_bytes_per_sec = Le32(f + 8);
  header.block_align = Le16(f + 12);
  header.bits_per_sample = Le16(f + 14);
  // The sub-format GUID starts with the coding's own tag.
  if (header.format_tag == kWaveTagExtensible && Le32(f - 4) >= 40 &&
      places->fmt_body + 26 <= bytes.size()) {
    header.format_tag = Le16(f + 24);
  }
  if (places->fact_body) {
    header.fact_samples = Le32(bytes.data() + *places->fact_body);
  }
  const uint32_t size = Le32(bytes.data() + places->data_chunk + 4);
  const uint64_t body = places->data_chunk + 8;
  const uint64_t available = file_size > body ? file_size - body : 0;
  header.data_bytes = size < available ? size : available;
  return header;
}

std::optional<WaveFileHeader> ReadWaveFileHeader(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<WaveFileHeader> header = ReadWaveFileHeader(fd);
  ::close(fd);
  return header;
}

std::optional<WaveFileHeader> ReadWaveFileHeader(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  std::vector<uint8_t> bytes(kHeaderReadBytes);
  ssize_t got;
  do {
    got = ::pread(fd, bytes.data(), bytes.size(), 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return std::nullopt;
  bytes.resize(static_cast<size_t>(got));
  return ParseWaveFileHeader(bytes, static_cast<uint64_t>(st.st_size));
}

bool RepairWaveFileHeader(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { ::close(*f); });
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  std::vector<uint8_t> bytes(kHeaderReadBytes);
  const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), 0);
  if (got < 0) return false;
  bytes.resize(static_cast<size_t>(got));
  const std::optional<ChunkPlaces> places = FindChunks(bytes);
  if (!places) return false;

  const uint64_t body = places->data_chunk + 8;
  if (body > file_size) return false;
  const uint64_t available = file_size - body;
  const uint32_t declared = Le32(bytes.data() + places->data_chunk + 4);
  // A data chunk followed by further chunks belongs to a file that was
  // written to its end.
  if (declared < available &&
      ChunkFollows(fd, body + declared + (declared & 1u), file_size)) {
    return true;
  }

  const uint8_t* f = bytes.data() + places->fmt_body;
  const uint16_t tag = Le16(f);
  const uint16_t block_align = Le16(f + 12) == 0 ? 1 : Le16(f + 12);
  const uint64_t blocks =
      std::min<uint64_t>(available, UINT32_MAX - body) / block_align;
  const uint64_t data_bytes = blocks * block_align;
  uint8_t field[4];
  if (data_bytes < available &&
      ::ftruncate(fd, static_cast<off_t>(body + data_bytes)) != 0) {
    return false;
  }
  PutLe32(field, static_cast<uint32_t>(data_bytes));
  if (!WriteAt(fd, field, 4, places->data_chunk + 4)) return false;
  PutLe32(field, static_cast<uint32_t>(body + data_bytes - 8));
  if (!WriteAt(fd, field, 4, 4)) return false;
  if (places->fact_body) {
    const uint64_t samples =
        tag == kTagGsm610 ? blocks * kGsmSamplesPerBlock : blocks;
    PutLe32(field,
            static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX)));
    if (!WriteAt(fd, field, 4, *places->fact_body)) return false;
  }
  return ::fsync(fd) == 0;
}

}  // namespace lw
