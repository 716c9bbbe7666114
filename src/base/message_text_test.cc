#include "base/message_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lw {
namespace {

using Lines = std::vector<std::string>;

TEST(MessageTextTest, SplitsAtEveryCrLfOnly) {
  // Given CR LF separators, empty fields and lone CR or LF, expect line 0
  // always there, empty fields kept and lone CR or LF inside their line;
  // joining gives the text back.
  const struct {
    const char* text;
    Lines fields;
  } cases[] = {
      {"LineStatus\r\n0\r\n0\r\nFalse", {"LineStatus", "0", "0", "False"}},
      {"", {""}},
      {"AUTO\r\n\r\n08:00\r\n", {"AUTO", "", "08:00", ""}},
      {"Say\rA\nB\r\n\n\r", {"Say\rA\nB", "\n\r"}},
      {"a\r\r\nb", {"a\r", "b"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitMessage(c.text), c.fields) << c.text;
    EXPECT_EQ(JoinFields(c.fields), c.text);
  }
  EXPECT_EQ(JoinFields({"SendMail", "a@b", "NOFILE"}, kMailFieldSeparator),
            "SendMail\x14"
            "a@b\x14NOFILE");
}

}  // namespace
}  // namespace lw
