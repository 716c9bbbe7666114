#include "base/wave_file_header.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

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
  const WaveFileHeader h =
      ParseWaveFileHeader(bytes, bytes.size() + 12).value();
  EXPECT_EQ(std::tuple(h.format_tag, h.channels, h.samples_per_sec,
                       h.avg_bytes_per_sec, h.data_bytes, h.fact_samples),
            std::tuple(1, 2, 44100u, 264600u, 12u, std::optional(10000u)));
  // A data chunk that claims more than the file holds is cut to the file.
  EXPECT_EQ(ParseWaveFileHeader(bytes, bytes.size() + 5).value().data_bytes,
            5u);
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

}  // namespace
}  // namespace lw
