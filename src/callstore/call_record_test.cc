#include "callstore/call_record.h"

#include <gtest/gtest.h>

#include <string>

namespace lw {
namespace {

TEST(CallRecordTest, PutFieldPadsAndCuts) {
  char field[6];
  PutField(field, "ab");
  EXPECT_EQ(std::string(field, 6), "ab    ");
  PutField(field, "abcdefgh");
  EXPECT_EQ(std::string(field, 6), "abcdef");
  PutField(field, "");
  EXPECT_EQ(std::string(field, 6), "      ");
}

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

TEST(CallRecordTest, RecordingName) {
  EXPECT_EQ(RecordingName("UNKNOWN", "UNKNOWN", "03/15/2005", "10:15:30"),
            "UNKNOWN_UNKNOWN_03-15-2005_10-15-30.wav");
  // Text from the caller cannot lead out of the day folder.
  EXPECT_EQ(RecordingName("../x", "1\\2", "03/15/2005", "10:15:30"),
            ".._x_1_2_03-15-2005_10-15-30.wav");
}

}  // namespace
}  // namespace lw
