#include "drivers/sndfile_wave/wave_file_header.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace lw {
namespace {

TEST(WaveFileHeaderTest, ReadsExtensibleFormatPastAnOddChunk) {
  // Given an extensible 24-bit stereo header, a 3-byte LIST chunk with its
  // pad byte and a fact chunk before the data, expect the sub-format's tag
  // and the counts as written.
  const std::vector<uint8_t> bytes = {
      'R', 'I', 'F', 'F', 0x00, 0x00, 0x00, 0x00, 'W', 'A', 'V', 'E',
      // LIST chunk, 3 bytes + pad byte
      'L', 'I', 'S', 'T', 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c', 0x00,
      // fmt chunk, 40 bytes, WAVE_FORMAT_EXTENSIBLE
      'f', 'm', 't', ' ', 0x28, 0x00, 0x00, 0x00,      //
      0xFE, 0xFF, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00,  // tag, 2 ch, 44100
      0x98, 0x09, 0x04, 0x00, 0x06, 0x00, 0x18, 0x00,  // 264600 B/s, 6, 24
      0x16, 0x00, 0x18, 0x00, 0x03, 0x00, 0x00, 0x00,  // cb, valid, mask
      0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,  // sub-format GUID
      0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,  //
      'f', 'a', 'c', 't', 0x04, 0x00, 0x00, 0x00, 0x10, 0x27, 0x00, 0x00, 'd',
      'a', 't', 'a', 0x0C, 0x00, 0x00, 0x00};
  auto header = ParseWaveFileHeader(bytes, bytes.size() + 12);
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->format_tag, 1);
  EXPECT_EQ(header->channels, 2);
  EXPECT_EQ(header->samples_per_sec, 44100u);
  EXPECT_EQ(header->avg_bytes_per_sec, 264600u);
  EXPECT_EQ(header->block_align, 6);
  EXPECT_EQ(header->bits_per_sample, 24);
  EXPECT_EQ(header->data_bytes, 12u);
  ASSERT_TRUE(header->fact_samples.has_value());
  EXPECT_EQ(*header->fact_samples, 10000u);

  // A data chunk that claims more than the file holds is cut to the file.
  auto short_file = ParseWaveFileHeader(bytes, bytes.size() + 5);
  ASSERT_TRUE(short_file.has_value());
  EXPECT_EQ(short_file->data_bytes, 5u);
}

TEST(WaveFileHeaderTest, RefusesWhatIsNotAWaveHeader) {
  // Given other RIFF kinds, headers without fmt or data, and cut-off
  // chunks, expect nothing and no read past the bytes.
  const std::vector<uint8_t> gsm_fmt = {
      'R',  'I',  'F',  'F',  0x00, 0x00, 0x00, 0x00, 'W',  'A',
      'V',  'E',  'f',  'm',  't',  ' ',  0x14, 0x00, 0x00, 0x00,
      0x31, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x59, 0x06,
      0x00, 0x00, 0x41, 0x00, 0x00, 0x00, 0x02, 0x00, 0x40, 0x01};
  EXPECT_FALSE(ParseWaveFileHeader(gsm_fmt, 1000).has_value());  // no data

  std::vector<uint8_t> avi = gsm_fmt;
  avi[8] = 'A', avi[9] = 'V', avi[10] = 'I', avi[11] = ' ';
  EXPECT_FALSE(ParseWaveFileHeader(avi, 1000).has_value());

  const std::vector<uint8_t> data_first = {
      'R', 'I', 'F', 'F', 0x00, 0x00, 0x00, 0x00, 'W',  'A',
      'V', 'E', 'd', 'a', 't',  'a',  0x00, 0x00, 0x00, 0x00};
  EXPECT_FALSE(ParseWaveFileHeader(data_first, 1000).has_value());

  std::vector<uint8_t> cut(gsm_fmt.begin(), gsm_fmt.begin() + 26);
  EXPECT_FALSE(ParseWaveFileHeader(cut, 26).has_value());

  // A chunk size near 4 GiB jumps past the end instead of wrapping.
  std::vector<uint8_t> huge = {'R', 'I', 'F',  'F',  0,    0,   0,
                               0,   'W', 'A',  'V',  'E',  'J', 'U',
                               'N', 'K', 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_FALSE(ParseWaveFileHeader(huge, 1000).has_value());
  EXPECT_FALSE(ParseWaveFileHeader({}, 0).has_value());
}

// A mono 8 kHz header as a recorder leaves it at its start: RIFF and data
// sizes 0, a fact chunk for GSM 6.10; then `body` bytes of sound.
std::string RecordingCutOff(bool gsm, size_t body, uint32_t declared = 0) {
  std::string h = "RIFF";
  h += std::string(4, '\0') + "WAVEfmt ";
  const std::string pcm_fmt(
      "\x10\0\0\0\x01\0\x01\0\x40\x1F\0\0\x80\x3E\0\0\x02\0\x10\0", 20);
  const std::string gsm_fmt(
      "\x14\0\0\0\x31\0\x01\0\x40\x1F\0\0\x59\x06\0\0\x41\0\0\0\x02\0\x40\x01",
      24);
  h += gsm ? gsm_fmt + std::string("fact\x04\0\0\0\0\0\0\0", 12) : pcm_fmt;
  h += "data";
  for (int i = 0; i < 4; ++i) h += static_cast<char>(declared >> (8 * i));
  return h + std::string(body, '\x55');
}

uint32_t Le32At(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = v << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  return v;
}

TEST(WaveFileHeaderTest, RepairRunsDataToTheLastWholeBlock) {
  // Given recordings cut off with a stale header and a piece of a block at
  // the end, expect the data chunk, RIFF size and fact count to cover the
  // whole blocks and the piece to be cut off; a file with a chunk after its
  // data was written to its end and is left as it is.
  const struct {
    std::string bytes;
    size_t data_at;       // offset of the data chunk's size field
    uint32_t data_bytes;  // expected after the repair
    uint32_t fact;        // expected fact count, 0: no fact chunk
  } cases[] = {
      {RecordingCutOff(false, 1001), 40, 1000, 0},
      {RecordingCutOff(true, 3 * 65 + 10), 56, 3 * 65, 3 * 320},
      {RecordingCutOff(false, 1000, 1000), 40, 1000, 0},
      {RecordingCutOff(false, 4, 4) + std::string("LIST\x02\0\0\0ab", 10), 40,
       4, 0},
  };
  lw::testing::TempDir dir;
  for (const auto& c : cases) {
    const std::string path = dir / "cut.wav";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    ASSERT_TRUE(RepairWaveFileHeader(path));
    std::ifstream in(path, std::ios::binary);
    const std::string after{std::istreambuf_iterator<char>(in),
                            std::istreambuf_iterator<char>()};
    EXPECT_EQ(Le32At(after, c.data_at), c.data_bytes);
    if (c.bytes.find("LIST") != std::string::npos) {
      EXPECT_EQ(after, c.bytes) << "a complete file is left alone";
      continue;
    }
    EXPECT_EQ(after.size(), c.data_at + 4 + c.data_bytes);
    EXPECT_EQ(Le32At(after, 4), after.size() - 8);
    if (c.fact != 0) {
      EXPECT_EQ(Le32At(after, 48), c.fact);
    }
    auto header = ReadWaveFileHeader(path);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->data_bytes, c.data_bytes);
  }
  EXPECT_FALSE(RepairWaveFileHeader(dir / "missing.wav"));
}

}  // namespace
}  // namespace lw
