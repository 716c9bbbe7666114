#include "callstore/wave_formats.h"

#include <gtest/gtest.h>

#include <string>

namespace lw {
namespace {

std::string Bytes(const WaveFormatRecord& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

TEST(WaveFormatsTest, RecordsAreByteExact) {
  WaveFormatTable table;
  InitWaveFormats(table);
  const std::string zeros(10, '\0');
  EXPECT_EQ(
      Bytes(table.formats[kWaveFormatPcm]),
      std::string("\x01\0\x01\0\x40\x1F\0\0\x80\x3E\0\0\x02\0\x10\0\0\0", 18) +
          zeros);
  EXPECT_EQ(
      Bytes(table.formats[kWaveFormatMuLaw]),
      std::string("\x07\0\x01\0\x40\x1F\0\0\x40\x1F\0\0\x01\0\x08\0\0\0", 18) +
          zeros);
  EXPECT_EQ(Bytes(table.formats[kWaveFormatGsm610]),
            std::string("\x31\0\x01\0\x40\x1F\0\0\x59\x06\0\0\x41\0\0\0\x02\0"
                        "\x40\x01",
                        20) +
                std::string(8, '\0'));
  EXPECT_EQ(Bytes(table.formats[kWaveFormatTrueSpeech]),
            std::string("\x22\0\x01\0\x40\x1F\0\0\x2B\x04\0\0\x20\0\x01\0\x20"
                        "\0\x01\0\xF0\0\0\xF0\x40",
                        25) +
                std::string(3, '\0'));
}

}  // namespace
}  // namespace lw
