#include "callstore/call_record.h"

#include <gtest/gtest.h>

#include <string>

namespace lw {
namespace {

TEST(CallRecordTest, PutFieldPadsAndCutsOnCharacterBoundaries) {
  // Given texts for a 4-byte field, expect blank padding, no UTF-8
  // character split and bytes that are not UTF-8 cut like single bytes;
  // reading back drops blanks and zero bytes.
  const struct {
    std::string value;
    std::string field;
  } cases[] = {
      {"ab", "ab  "},
      {"abcde", "abcd"},
      {"abc\xC3\xBC", "abc "},                    // "ü" would be split
      {"ab\xC3\xBCx", "ab\xC3\xBC"},              // "ü" ends at the width
      {"\xF0\x9F\x98\x80x", "\xF0\x9F\x98\x80"},  // 4-byte char fits
      {"abc\xC3\x28", "abc\xC3"},                 // not a character: cut
      {"abc\x80\x80", "abc\x80"},                 // stray continuation bytes
      {"abc\xED\xA0\x80", "abc\xED"},             // a surrogate is none
  };
  for (const auto& c : cases) {
    char field[4];
    PutField(field, c.value);
    EXPECT_EQ(std::string(field, 4), c.field) << c.value;
  }
  EXPECT_EQ(TrimField(std::string_view(" 1\0 \0", 5)), "1");
}

TEST(CallRecordTest, RecordingNameIsBoundedAndLeadsBackFromTheRecord) {
  // Given caller texts of any length and bytes, expect names that fit a
  // file name, stay in the day folder, and are the same when rebuilt from
  // the stored record.
  const std::string stamp = "_03-15-2005_10-15-30.wav";
  const std::string a30(30, 'a');
  const struct {
    std::string name;
    std::string number;
    std::string expected;
  } cases[] = {
      {std::string(250, 'a'), std::string(250, '9'),
       a30 + "aa_" + std::string(32, '9') + stamp},
      {a30 + "a\xC3\xBC", "1", a30 + "a_1" + stamp},
      {a30 + "  b", "1", a30 + "_1" + stamp},
      {"../x", "1\\2", ".._x_1_2" + stamp},
      {std::string("A\0B\tC\nD\x7F", 8), "1", "A_B_C_D__1" + stamp},
      {"Gr\xC3\xBC\xC3\x9F", "1", "Gr\xC3\xBC\xC3\x9F_1" + stamp},
      {"Gr\xFC\xDF", "1", "Gr___1" + stamp},
  };
  for (const auto& c : cases) {
    const std::string name =
        RecordingName(c.name, c.number, "03/15/2005", "10:15:30");
    EXPECT_EQ(name, c.expected);
    EXPECT_LE(name.size(), kMaxRecordingName);
    CallRecord record{};
    PutField(record.caller_name, c.name);
    PutField(record.caller_number, c.number);
    EXPECT_EQ(RecordingName(FieldText(record.caller_name),
                            FieldText(record.caller_number), "03/15/2005",
                            "10:15:30"),
              name);
  }
}

}  // namespace
}  // namespace lw
