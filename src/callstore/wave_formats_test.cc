#include "callstore/wave_formats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace lw {
namespace {

std::vector<uint8_t> Bytes(const WaveFormatRecord& r) {
  std::vector<uint8_t> out(sizeof r);
  std::memcpy(out.data(), &r, sizeof r);
  return out;
}

TEST(WaveFormatsTest, RecordsAreByteExact) {
  WaveFormatTable table;
  InitWaveFormats(table);
  const std::vector<uint8_t> pcm = {0x01, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00,
                                    0x00, 0x80, 0x3E, 0x00, 0x00, 0x02, 0x00,
                                    0x10, 0x00, 0x00, 0x00, 0,    0,    0,
                                    0,    0,    0,    0,    0,    0,    0};
  const std::vector<uint8_t> mulaw = {0x07, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00,
                                      0x00, 0x40, 0x1F, 0x00, 0x00, 0x01, 0x00,
                                      0x08, 0x00, 0x00, 0x00, 0,    0,    0,
                                      0,    0,    0,    0,    0,    0,    0};
  const std::vector<uint8_t> gsm = {0x31, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00,
                                    0x00, 0x59, 0x06, 0x00, 0x00, 0x41, 0x00,
                                    0x00, 0x00, 0x02, 0x00, 0x40, 0x01, 0,
                                    0,    0,    0,    0,    0,    0,    0};
  const std::vector<uint8_t> truespeech = {
      0x22, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x2B, 0x04,
      0x00, 0x00, 0x20, 0x00, 0x01, 0x00, 0x20, 0x00, 0x01, 0x00,
      0xF0, 0x00, 0x00, 0xF0, 0x40, 0,    0,    0};
  EXPECT_EQ(Bytes(table.formats[kWaveFormatPcm]), pcm);
  EXPECT_EQ(Bytes(table.formats[kWaveFormatMuLaw]), mulaw);
  EXPECT_EQ(Bytes(table.formats[kWaveFormatGsm610]), gsm);
  EXPECT_EQ(Bytes(table.formats[kWaveFormatTrueSpeech]), truespeech);
}

TEST(WaveFormatsTest, SelectCopiesIntoCurrentSlotAndIgnoresBadIndex) {
  // Given index 1, expect the mu-law record in the slot; an index outside
  // 0..3 leaves the previous format there.
  WaveFormatTable table;
  InitWaveFormats(table);
  EXPECT_TRUE(SelectRecordingFormat(table, 1));
  EXPECT_EQ(Bytes(table.current), Bytes(table.formats[1]));
  EXPECT_FALSE(SelectRecordingFormat(table, 4));
  EXPECT_FALSE(SelectRecordingFormat(table, -1));
  EXPECT_EQ(Bytes(table.current), Bytes(table.formats[1]));

  WaveFormatRecord dest;
  std::memset(static_cast<void*>(&dest), 0xAA, sizeof dest);
  SelectWaveFormat(table.formats[3], dest);
  EXPECT_EQ(Bytes(dest), Bytes(table.formats[3]));
}

}  // namespace
}  // namespace lw
