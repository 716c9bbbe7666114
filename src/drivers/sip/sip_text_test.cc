#include "drivers/sip/sip_text.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

TEST(SipCallerIdentityTest, AssertedIdentityElseFromWithheldPartsEmpty) {
  // given the headers of offered calls, expect the caller's name and number
  // as the line reports them
  struct Case {
    const char* asserted;
    const char* from;
    const char* name;
    const char* number;
  } cases[] = {
      {"", "\"Alice\" <sip:5551234@example.org>;tag=9", "Alice", "5551234"},
      {"", "Bob Smith <sips:bob@example.org;transport=tls>", "Bob Smith",
       "bob"},
      {"", "sip:5550000@example.org;tag=1", "", "5550000"},
      {"\"Front Desk\" <sip:+15551234@pbx>, <tel:+15551234>",
       "\"Alice\" <sip:5551234@example.org>", "Front Desk", "+15551234"},
      {"<tel:+4930123;phone-context=x>", "\"Carol\" <sip:c@h>", "Carol",
       "+4930123"},
      {"", "\"Anonymous\" <sip:anonymous@anonymous.invalid>;tag=1", "",
       "WITHHELD"},
      {"", "\"Say \\\"hi\\\"\" <sip:%35%35@h>", "Say \"hi\"", "55"},
      {"", "\"unterminated <sip:1@h>", "unterminated <sip:1@h>", ""},
      {"", "<>", "", ""},
  };
  for (const Case& c : cases) {
    const NameAndUser caller = CallerIdentity(c.asserted, c.from);
    EXPECT_EQ(caller.name, c.name) << c.from;
    EXPECT_EQ(caller.user, c.number) << c.from;
  }
}

TEST(SipFormatsTest, FirstG711AndTelephoneEventOfTheOffer) {
  // given offered formats, expect the first PCMU or PCMA one (0 and 8 also
  // without an rtpmap) and the telephone-event one, -1 for what is missing
  const SdpFormat offer[] = {
      {9, "G722"}, {96, "telephone-EVENT"}, {8, ""}, {0, "PCMU"}};
  const ChosenFormats chosen = ChooseFormats(offer);
  EXPECT_EQ(chosen.audio_pt, 8);
  EXPECT_TRUE(chosen.alaw);
  EXPECT_EQ(chosen.event_pt, 96);
  const SdpFormat none[] = {{0, "opus"}, {18, ""}};
  EXPECT_EQ(ChooseFormats(none).audio_pt, -1);
  EXPECT_EQ(ChooseFormats(none).event_pt, -1);
}

TEST(SipDigitTest, PayloadsAndBodiesNameTheirKey) {
  // given telephone-event payloads and dtmf-relay bodies, expect their keys
  const uint8_t five_end[] = {5, 0x80, 0, 160};
  const uint8_t hash[] = {11, 0x0a, 0, 80};
  const uint8_t flash[] = {16, 0, 0, 0};
  EXPECT_EQ(ParseTelephoneEvent(five_end, 4)->key, '5');
  EXPECT_TRUE(ParseTelephoneEvent(five_end, 4)->end);
  EXPECT_EQ(ParseTelephoneEvent(hash, 4)->key, '#');
  EXPECT_FALSE(ParseTelephoneEvent(hash, 4)->end);
  EXPECT_FALSE(ParseTelephoneEvent(flash, 4));
  EXPECT_FALSE(ParseTelephoneEvent(hash, 3));
  EXPECT_EQ(ParseDtmfRelay("Signal=5\r\nDuration=160\r\n"), '5');
  EXPECT_EQ(ParseDtmfRelay("Duration=160\r\nsignal = #\r\n"), '#');
  EXPECT_EQ(ParseDtmfRelay("Signal=11"), '#');
  EXPECT_FALSE(ParseDtmfRelay("Signal=55\r\n"));
  EXPECT_FALSE(ParseDtmfRelay("Duration=160"));
}

TEST(SipDigitTest, OneReportPerKeyPressWhateverTheMix) {
  // given the reports of key presses from telephone events, INFO and tones,
  // expect one report per press
  using Source = DigitPresses::Source;
  DigitPresses presses;
  // A telephone event: packets while the key is down, three at its end.
  EXPECT_TRUE(presses.Take(Source::kTelephoneEvent, '1', 800, 0));
  for (int i = 0; i < 5; ++i)
    EXPECT_FALSE(presses.Take(Source::kTelephoneEvent, '1', 800, 20 * i));
  // The same key again is a new press with a new timestamp.
  EXPECT_TRUE(presses.Take(Source::kTelephoneEvent, '1', 2400, 300));
  // The phone also sent the press as INFO and the tone was heard.
  EXPECT_FALSE(presses.Take(Source::kInfo, '1', 0, 350));
  EXPECT_FALSE(presses.Take(Source::kInBand, '1', 0, 400));
  // Quick presses of one key by INFO are each a press.
  EXPECT_TRUE(presses.Take(Source::kInfo, '2', 0, 1000));
  EXPECT_TRUE(presses.Take(Source::kInfo, '2', 0, 1100));
  // Another source long after is a press of its own.
  EXPECT_TRUE(presses.Take(Source::kInBand, '2', 0, 1700));
}

}  // namespace
}  // namespace lw
