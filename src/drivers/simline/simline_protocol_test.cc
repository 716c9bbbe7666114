#include "drivers/simline/simline_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lw {
namespace {

using namespace std::string_literals;

TEST(SimlineProtocolTest, EncodesFramesByteExact) {
  EXPECT_EQ(EncodeSimline(SimlineOf(SimlineType::kOffer)), "O\x00\x00"s);
  EXPECT_EQ(EncodeSimline(SimlineOf(SimlineType::kHungUp)), "h\x00\x00"s);

  SimlineMessage cid = SimlineOf(SimlineType::kCallerId);
  cid.name = "Ann";
  cid.number = "555";
  EXPECT_EQ(EncodeSimline(cid),
            "C\x07\x00"
            "Ann\x00"
            "555"s);

  SimlineMessage offered = SimlineOf(SimlineType::kOffered);
  offered.line_open = true;
  EXPECT_EQ(EncodeSimline(offered), "o\x01\x00\x01"s);

  SimlineMessage digit = SimlineOf(SimlineType::kDigit);
  digit.digit = '#';
  EXPECT_EQ(EncodeSimline(digit), "D\x01\x00#"s);

  SimlineMessage dialed = SimlineOf(SimlineType::kDialed);
  dialed.number = "12";
  EXPECT_EQ(EncodeSimline(dialed),
            "d\x02\x00"
            "12"s);

  const std::vector<int16_t> samples = {1, -2, 0x1234};
  EXPECT_EQ(EncodeSimline(SimlineAudio(samples)),
            "A\x06\x00\x01\x00\xfe\xff\x34\x12"s);
}

TEST(SimlineProtocolTest, DecodesStreamArrivingByteByByte) {
  // given messages of every kind, texts with zero bytes and audio longer
  // than a frame, expect them back from a stream fed a byte at a time:
  // texts ending at the zero, audio cut to one frame
  SimlineMessage cid = SimlineOf(SimlineType::kCallerId);
  cid.name = "A\0B"s;
  cid.number = "5551234";
  SimlineMessage digit = SimlineOf(SimlineType::kDigit);
  digit.digit = '5';
  std::vector<SimlineMessage> sent = {
      SimlineOf(SimlineType::kOffer),
      SimlineOf(SimlineType::kRing),
      cid,
      SimlineAudio(std::vector<int16_t>{-32768, 32767}),
      digit,
      SimlineAudio(std::vector<int16_t>(kSimlineMaxSamples + 10, 7)),
      SimlineOf(SimlineType::kHangup)};
  std::string stream;
  for (const auto& m : sent) stream += EncodeSimline(m);
  sent[2].name = "A";
  sent[5].samples.resize(kSimlineMaxSamples);

  SimlineDecoder d;
  std::vector<SimlineMessage> got;
  SimlineMessage m;
  for (char c : stream) {
    d.Feed(std::string_view(&c, 1));
    while (d.Next(&m) == SimlineDecoder::Result::kMessage) got.push_back(m);
  }
  EXPECT_EQ(got, sent);
  EXPECT_EQ(d.buffered(), 0u);
  EXPECT_FALSE(d.failed());
}

TEST(SimlineProtocolTest, RefusesMalformedFramesAndStaysFailed) {
  const std::vector<std::string> bad = {
      "Z\x00\x00"s,   // unknown type
      "R\x01\x00x"s,  // payload where none belongs
      "C\x03\x00"
      "abc"s,                 // caller id without separator
      "C\x03\x00\x00\x00x"s,  // two separators
      "D\x01\x00x"s,          // not a keypad digit
      "D\x02\x00"
      "12"s,                     // two digits
      "A\x03\x00\x01\x02\x03"s,  // odd audio length
      "A\x00\x00"s,              // empty audio
      "o\x01\x00\x02"s,          // offered flag neither 0 nor 1
      "d\x02\x00\x31\x00"s,      // zero byte in a number
  };
  for (const std::string& frame : bad) {
    SimlineDecoder d;
    d.Feed(frame + EncodeSimline(SimlineOf(SimlineType::kRing)));
    SimlineMessage m;
    EXPECT_EQ(d.Next(&m), SimlineDecoder::Result::kFailed) << frame;
    EXPECT_FALSE(d.error().empty());
    d.Feed(EncodeSimline(SimlineOf(SimlineType::kRing)));
    EXPECT_EQ(d.Next(&m), SimlineDecoder::Result::kFailed);
  }
}

}  // namespace
}  // namespace lw
