#include "callstore/call_record.h"

#include <gtest/gtest.h>

#include <string>

namespace lw {
namespace {

TEST(CallRecordTest, TrimFieldDropsBlanksAndZeroBytes) {
  EXPECT_EQ(TrimField("  a b  "), "a b");
  EXPECT_EQ(TrimField(std::string_view("1\0\0\0", 4)), "1");
  EXPECT_EQ(TrimField(std::string_view("\0 \0", 3)), "");
  CallRecord r{};
  EXPECT_EQ(FieldText(r.note), "");
}

TEST(CallRecordTest, TypeCodesCompareTrimmed) {
  EXPECT_FALSE(IsMessageType("1 "));
  EXPECT_TRUE(IsMessageType(" 4"));
  EXPECT_FALSE(IsMessageType("5"));
  EXPECT_EQ(CallTypeText("3 "), "Incoming Recorded Call");
  EXPECT_EQ(CallTypeText("x"), "");
}

TEST(CallRecordTest, PutFieldPadsAndCutsOnCharacterBoundaries) {
  // Given texts for a 4-byte field, expect blank padding, no UTF-8
  // character split and bytes that are not UTF-8 cut like single bytes.
  const struct {
    std::string value;
    std::string field;
  } cases[] = {
      {"", "    "},
      {"ab", "ab  "},
      {"abcde", "abcd"},
      {"abc\xC3\xBC", "abc "},                    // "ü" would be split
      {"ab\xC3\xBCx", "ab\xC3\xBC"},              // "ü" ends at the width
      {"ab\xE2\x82\xAC", "ab  "},                 // "€" would be split
      {"\xF0\x9F\x98\x80x", "\xF0\x9F\x98\x80"},  // 4-byte char fits
      {"a\xF0\x9F\x98\x80", "a   "},
      {"abc\xC3\x28", "abc\xC3"},  // not a character: cut
      {"abc\x80\x80", "abc\x80"},  // stray continuation bytes
      {"ab\xFF\xFE\xFD", "ab\xFF\xFE"},
      {"abc\xED\xA0\x80", "abc\xED"},  // a surrogate is no character
      {"abc\xC3", "abc\xC3"},          // fits: passed through
  };
  for (const auto& c : cases) {
    char field[4];
    PutField(field, c.value);
    EXPECT_EQ(std::string(field, 4), c.field) << c.value;
  }
}

TEST(CallRecordTest, RecordingNameIsBoundedAndLeadsBackFromTheRecord) {
  // Given caller texts of any length and bytes, expect names that fit a
  // file name, stay in the day folder, and are the same when rebuilt from
  // the stored record.
  const std::string stamp = "_03-15-2005_10-15-30.wav";
  const std::string a32(32, 'a');
  const struct {
    std::string name;
    std::string number;
    std::string expected;
  } cases[] = {
      {"UNKNOWN", "UNKNOWN", "UNKNOWN_UNKNOWN" + stamp},
      {std::string(40, 'a'), "5551234", a32 + "_5551234" + stamp},
      {std::string(250, 'a'), std::string(250, '9'),
       a32 + "_" + std::string(32, '9') + stamp},
      {std::string(31, 'a') + "\xC3\xBC", "1",
       std::string(31, 'a') + "_1" + stamp},
      {std::string(30, 'a') + "  b", "1", std::string(30, 'a') + "_1" + stamp},
      {"../x", "1\\2", ".._x_1_2" + stamp},
      {std::string("A\0B\tC\nD\x7F", 8), "1", "A_B_C_D__1" + stamp},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       "1",
       "Gr\xC3\xBC\xC3\x9F"
       "e_1" +
           stamp},
      {"Gr\xFC\xDF"
       "e",
       "1", "Gr__e_1" + stamp},
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
