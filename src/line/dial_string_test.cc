#include "line/dial_string.h"

#include <gtest/gtest.h>

#include <string>

#include "journal/journal.h"

namespace lw {
namespace {

TEST(DialStringTest, OnlyWhatATelephoneDials) {
  const struct {
    std::string number;
    bool plain;  // on a line without SIP addresses
    bool sip;    // on a line with them
  } cases[] = {
      {"5551234", true, true},
      {"*31#0049,,1234", true, true},
      {"+4930123", true, true},
      {"", false, false},
      {"555+1234", false, false},  // "+" only in front
      {"555 1234", false, false},  // separators are not dialled
      {std::string("555\0", 4), false, false},
      {"\xef\xbc\x95", false, false},  // a full-width digit
      {"sip:alice@example.org", false, true},
      {"SIPS:bob@10.0.0.1:5061;transport=tls", false, true},
      {"sip:@host", false, false},
      {"alice@example.org", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(JournalShown(c.number));
    EXPECT_EQ(IsDialable(c.number, DialCapability::kNumbers), c.plain);
    EXPECT_EQ(IsDialable(c.number, DialCapability::kNumbersAndSipAddresses),
              c.sip);
  }
}

TEST(DialStringTest, JournalShowsOutsideTextOnOneLine) {
  EXPECT_EQ(JournalShown("555\r\n\x01"), "555\\x0D\\x0A\\x01");
  EXPECT_EQ(JournalShown("Gr\xc3\xbc\xc3\x9f"
                         "e caf\xe9"),
            "Gr\xc3\xbc\xc3\x9f"
            "e caf\\xE9");
  EXPECT_EQ(JournalShown("\xc2\x85\xf0\x9f\x93"), "\\xC2\\x85\\xF0\\x9F\\x93");
  EXPECT_EQ(JournalShown("\xc3\xa9\xc3\xa9\xc3\xa9", 2), "\xc3\xa9\xc3\xa9...");
}

}  // namespace
}  // namespace lw
