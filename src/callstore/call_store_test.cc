#include "callstore/call_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "callstore/test_util.h"
#include "devices/fake/fake_clock.h"
#include "journal/journal.h"
#include "temp_dir.h"

namespace lw {
namespace {

using testing::MakeContact;
using testing::MakeRecord;
using testing::ReadFile;
using testing::WriteContacts;
using testing::WriteFile;

constexpr char kDay[] = "\\Data\\Log\\2005\\03\\15\\";
constexpr char kOtherDay[] = "\\Data\\Log\\2005\\03\\14\\";

class CallStoreTest : public ::testing::Test {
 protected:
  std::string Native(const std::string& rel) const { return dir_ / rel; }
  std::string DataFile() const { return Native("Data/Log/2005/03/15/Data"); }
  std::string List() const { return ReadFile(Native("Data/Last")); }
  void SetList(std::string_view text) { WriteFile(Native("Data/Last"), text); }

  lw::testing::TempDir dir_;
  FakeClock clock_{LocalDateTime{2005, 3, 15, 10, 15, 30, 2}};
  CallStore store_{dir_.path(), clock_};
};

TEST_F(CallStoreTest, FirstCallOfDayMakesDataFileAndListHead) {
  // Given no data yet (not even the day folder), expect a 467-byte data
  // file and the line "1:<day>".
  const CallRecord rec = MakeRecord("Alice", "5551234", "03/15/2005", "2");
  EXPECT_EQ(store_.SaveCall(rec, kDay, false), 1);
  const std::string data = ReadFile(DataFile());
  ASSERT_EQ(data.size(), 467u);
  EXPECT_EQ(data, std::string(rec.bytes(), 467));
  EXPECT_EQ(List(), "1:\\Data\\Log\\2005\\03\\15\\\r\n");

  EXPECT_EQ(store_.SaveCall(rec, kDay, false), 2);
  EXPECT_EQ(ReadFile(DataFile()).size(), 934u);
  EXPECT_EQ(List(),
            "2:\\Data\\Log\\2005\\03\\15\\\r\n"
            "1:\\Data\\Log\\2005\\03\\15\\\r\n");
}

TEST_F(CallStoreTest, ListKeepsLimitNewestFirst) {
  // Given a limit of 3 and three entries, expect the new one first and the
  // oldest dropped.
  store_.SetNumOfItemsInLast(3);
  SetList("3:\\A\\\r\n2:\\B\\\r\n1:\\C\\\r\n");
  store_.AddToLastCalls(9, kDay);
  EXPECT_EQ(List(), "9:\\Data\\Log\\2005\\03\\15\\\r\n3:\\A\\\r\n2:\\B\\\r\n");

  // A list longer than a lowered limit is cut on the next save.
  store_.SetNumOfItemsInLast(1);
  store_.AddToLastCalls(10, kDay);
  EXPECT_EQ(List(), "10:\\Data\\Log\\2005\\03\\15\\\r\n");

  // A limit below one means 100.
  std::string old;
  for (int i = 100; i >= 1; --i) old += std::to_string(i) + ":\\X\\\r\n";
  for (int32_t limit : {0, -5}) {
    SetList(old);
    store_.SetNumOfItemsInLast(limit);
    store_.AddToLastCalls(101, "\\X\\");
    std::vector<std::string> lines;
    ASSERT_TRUE(store_.ReadLastCalls(lines));
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines.front(), "101:\\X\\");
    EXPECT_EQ(lines.back(), "2:\\X\\");
  }
}

TEST_F(CallStoreTest, ReadCallRecordRules) {
  CallRecord rec = MakeRecord("Zed", "1", "99/99/2005", "0");
  CallRecord out = MakeRecord("Untouched", "2", "03/15/2005", "3");
  const CallRecord before = out;
  // No data file: false, record unchanged.
  EXPECT_FALSE(store_.ReadCallRecord(out, kDay, 1));
  EXPECT_EQ(std::memcmp(out.bytes(), before.bytes(), 467), 0);

  store_.SaveCall(MakeRecord("Bob", "22", "03/15/2005", "3"), kDay, true);
  store_.SaveCall(rec, kDay, true);
  EXPECT_TRUE(store_.ReadCallRecord(out, kDay, 1));
  EXPECT_EQ(FieldText(out.caller_name), "Bob");
  // A record whose date is not a date is read but reported false.
  EXPECT_FALSE(store_.ReadCallRecord(out, kDay, 2));
  EXPECT_EQ(FieldText(out.caller_name), "Zed");
  // Beyond the end, or before record 1: nothing read.
  out = before;
  EXPECT_FALSE(store_.ReadCallRecord(out, kDay, 3));
  EXPECT_FALSE(store_.ReadCallRecord(out, kDay, 0));
  EXPECT_FALSE(store_.ReadCallRecord(out, kDay, -1));
  EXPECT_EQ(std::memcmp(out.bytes(), before.bytes(), 467), 0);
}

TEST_F(CallStoreTest, GetLastCallFillsInfoAndRebuildsMessagePath) {
  CallInfo info;
  info.caller_name = "keep";
  const CallInfo before = info;
  EXPECT_TRUE(store_.GetLastCall(1, info, true));  // no list at all
  EXPECT_EQ(info, before);

  WriteContacts(dir_.path(), {MakeContact("Mum", "MOTHER", "5551234")});
  store_.SaveCall(
      MakeRecord("MOTHER", "5551234", "03/15/2005", "2", "0", "10:15:30"), kDay,
      false);
  store_.SaveCall(MakeRecord("X", "9", "03/15/2005", "0"), kDay, false);
  // Past either end of the list: nothing changes.
  EXPECT_TRUE(store_.GetLastCall(3, info, true));
  EXPECT_TRUE(store_.GetLastCall(0, info, true));
  EXPECT_EQ(info, before);
  EXPECT_FALSE(store_.GetLastCall(2, info, false));
  EXPECT_EQ(info.caller_name, "MOTHER");
  EXPECT_EQ(info.caller_number, "5551234");
  EXPECT_EQ(info.date, "03/15/2005");
  EXPECT_EQ(info.time, "10:15:30");
  EXPECT_EQ(info.length, "0:00:07");
  EXPECT_EQ(info.call_type, "2");
  EXPECT_EQ(info.read_mark, 0);
  EXPECT_EQ(info.contact, "Mum");
  EXPECT_EQ(info.message_path,
            dir_.path() +
                "/Data/Log/2005/03/15/MOTHER_5551234_03-15-2005_10-15-30.wav");

  // A call without recording has no message path.
  EXPECT_FALSE(store_.GetLastCall(1, info, false));
  EXPECT_EQ(info.call_type, "0");
  EXPECT_EQ(info.message_path, "");
  EXPECT_EQ(info.contact, "");
}

TEST_F(CallStoreTest, MarkReadLowersUnreadCounts) {
  // Given two unread messages and an unread call, expect the counts to fall
  // as entries are read with mark-read, and the mark written to the file.
  store_.SaveCall(MakeRecord("A", "1", "03/15/2005", "0"), kDay, false);
  store_.SaveCall(MakeRecord("B", "2", "03/15/2005", "3"), kDay, false);
  store_.SaveCall(MakeRecord("C", "3", "03/15/2005", "2"), kDay, false);
  store_.SaveCall(MakeRecord("D", "4", "03/15/2005", "4", "1"), kDay, false);
  CallCounts counts;
  store_.CountLastCalls(counts);
  EXPECT_EQ(counts, (CallCounts{4, 3, 3, 2}));

  CallInfo info;
  EXPECT_FALSE(store_.GetLastCall(2, info, true));  // "C", record 3
  EXPECT_EQ(info.read_mark, 0);                     // as it was before marking
  EXPECT_EQ(ReadFile(DataFile())[2 * 467 + 146], '1');
  store_.CountLastCalls(counts);
  EXPECT_EQ(counts, (CallCounts{4, 3, 2, 1}));
  EXPECT_FALSE(store_.GetLastCall(2, info, false));
  EXPECT_EQ(info.read_mark, 1);

  store_.GetLastCall(4, info, true);  // "A": a call, not a message
  store_.CountLastCalls(counts);
  EXPECT_EQ(counts, (CallCounts{4, 3, 1, 1}));
}

TEST_F(CallStoreTest, SetReadMarkTouchesOnlyTheMarkOfExistingRecords) {
  const CallRecord rec = MakeRecord("A", "1", "03/15/2005", "2");
  store_.SaveCall(rec, kDay, true);
  store_.SetReadMark(1, kDay, "1x");
  std::string expected(rec.bytes(), 467);
  expected[146] = '1';
  EXPECT_EQ(ReadFile(DataFile()), expected);
  store_.SetReadMark(1, kDay, "");
  expected[146] = ' ';
  EXPECT_EQ(ReadFile(DataFile()), expected);
  // A record that is not there is not made.
  store_.SetReadMark(2, kDay, "1");
  store_.SetReadMark(1, kOtherDay, "1");
  EXPECT_EQ(ReadFile(DataFile()), expected);
  EXPECT_FALSE(std::filesystem::exists(Native("Data/Log/2005/03/14/Data")));
}

TEST_F(CallStoreTest, RemoveFromLastCalls) {
  SetList("3:\\A\\\r\n2:\\B\\\r\n1:\\C\\\r\n");
  store_.RemoveFromLastCalls(2);
  EXPECT_EQ(List(), "3:\\A\\\r\n1:\\C\\\r\n");
  store_.RemoveFromLastCalls(3);
  store_.RemoveFromLastCalls(0);
  EXPECT_EQ(List(), "3:\\A\\\r\n1:\\C\\\r\n");
  store_.RemoveFromLastCalls(1);
  store_.RemoveFromLastCalls(1);
  EXPECT_EQ(List(), "");
  EXPECT_FALSE(std::filesystem::exists(Native("Data/Last.tmp")));

  // When the temporary file cannot be made, the old list stays whole.
  SetList("1:\\A\\\r\n");
  std::filesystem::create_directories(Native("Data/Last.tmp"));
  store_.AddToLastCalls(2, kDay);
  store_.RemoveFromLastCalls(1);
  EXPECT_EQ(List(), "1:\\A\\\r\n");
}

TEST_F(CallStoreTest, ListLineEndingsAndBadLines) {
  // Lines may end in LF or CR alone; a line that leads to no record counts
  // as a call and nothing more, and reads as an empty call.
  store_.SaveCall(MakeRecord("A", "1", "03/15/2005", "2"), kDay, false);
  SetList(
      "1:\\Data\\Log\\2005\\03\\15\\\n"
      "garbage\r"
      "7:..\\..\\etc\\\r\n"
      "1:\\Data\\Log\\2005\\03\\15\\");
  CallCounts counts;
  store_.CountLastCalls(counts);
  EXPECT_EQ(counts, (CallCounts{4, 2, 2, 2}));
  CallInfo info;
  for (int i = 2; i <= 3; ++i) {
    info.caller_name = "before";
    EXPECT_FALSE(store_.GetLastCall(i, info, true));
    EXPECT_EQ(info, CallInfo{});
  }
  // Rewriting keeps the bad lines as they were.
  store_.AddToLastCalls(2, kDay);
  std::vector<std::string> lines;
  ASSERT_TRUE(store_.ReadLastCalls(lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"2:\\Data\\Log\\2005\\03\\15\\",
                                             "1:\\Data\\Log\\2005\\03\\15\\",
                                             "garbage", "7:..\\..\\etc\\",
                                             "1:\\Data\\Log\\2005\\03\\15\\"}));
}

TEST(SplitLastCallLineTest, Forms) {
  int64_t n = 0;
  std::string folder;
  EXPECT_TRUE(SplitLastCallLine("12:\\Data\\Log\\2005\\03\\15\\", n, folder));
  EXPECT_EQ(n, 12);
  EXPECT_EQ(folder, "\\Data\\Log\\2005\\03\\15\\");
  EXPECT_TRUE(SplitLastCallLine(" 7x:\\a:b\\", n, folder));
  EXPECT_EQ(n, 7);
  EXPECT_EQ(folder, "\\a:b\\");
  EXPECT_FALSE(SplitLastCallLine("12", n, folder));
  EXPECT_FALSE(SplitLastCallLine(":\\Data\\", n, folder));
  EXPECT_FALSE(SplitLastCallLine("-3:\\Data\\", n, folder));
  EXPECT_FALSE(SplitLastCallLine("3:Data\\", n, folder));
  EXPECT_FALSE(SplitLastCallLine("3:\\Data\\..\\..\\", n, folder));
  EXPECT_FALSE(SplitLastCallLine("99999999999999999999:\\D\\", n, folder));
  EXPECT_EQ(DayFolderText({2005, 3, 5}), "\\Data\\Log\\2005\\03\\05\\");
}

TEST_F(CallStoreTest, TornDataFileKeepsWholeRecordsAndNextAppendIsWhole) {
  // Given a data file with one record and 100 bytes of a cut-short second
  // one, expect record 1 readable, record 2 not, and the next save to land
  // whole as record 2 over the torn tail.
  const CallRecord first = MakeRecord("A", "1", "03/15/2005", "2");
  std::string torn(first.bytes(), 467);
  torn += std::string(first.bytes(), 100);
  WriteFile(DataFile(), torn);

  CallRecord out{};
  EXPECT_TRUE(store_.ReadCallRecord(out, kDay, 1));
  EXPECT_FALSE(store_.ReadCallRecord(out, kDay, 2));
  CallCounts counts;
  SetList("2:\\Data\\Log\\2005\\03\\15\\\r\n");
  store_.CountLastCalls(counts);
  EXPECT_EQ(counts, (CallCounts{1, 0, 0, 0}));

  Journal journal(clock_, dir_.path());
  journal.SetSwitches(true, false);
  std::filesystem::create_directories(Native("Journal"));
  CallStore store(dir_.path(), clock_, &journal);
  const CallRecord next = MakeRecord("B", "2", "03/15/2005", "0");
  EXPECT_EQ(store.SaveCall(next, kDay, true), 2);
  const std::string data = ReadFile(DataFile());
  ASSERT_EQ(data.size(), 2u * 467);
  EXPECT_EQ(data.substr(0, 467), std::string(first.bytes(), 467));
  EXPECT_EQ(data.substr(467), std::string(next.bytes(), 467));
  EXPECT_TRUE(store.ReadCallRecord(out, kDay, 2));
  EXPECT_EQ(FieldText(out.caller_name), "B");
  EXPECT_EQ(store.SaveCall(next, kDay, true), 3);
  bool journalled = false;
  for (const auto& e : std::filesystem::directory_iterator(Native("Journal")))
    journalled |= ReadFile(e.path()).find("SaveCall") != std::string::npos;
  EXPECT_TRUE(journalled);
}

TEST_F(CallStoreTest, RepairedTornTailDropsListEntriesPastTheWholeRecords) {
  // Given a list entry for a record that was cut off (2 of a day with one
  // whole record), expect the next save to take number 2 and the list to
  // hold it once, with the other entries kept.
  const CallRecord first = MakeRecord("A", "1", "03/15/2005", "2");
  WriteFile(DataFile(),
            std::string(first.bytes(), 467) + std::string(first.bytes(), 100));
  SetList(
      "2:\\Data\\Log\\2005\\03\\15\\\r\n"
      "3:\\Data\\Log\\2005\\03\\15\\\r\n"
      "1:\\Data\\Log\\2005\\03\\15\\\r\n"
      "2:\\Data\\Log\\2005\\03\\14\\\r\n");
  const CallRecord next = MakeRecord("B", "2", "03/15/2005", "0");
  EXPECT_EQ(store_.SaveCall(next, kDay, false), 2);
  EXPECT_EQ(List(),
            "2:\\Data\\Log\\2005\\03\\15\\\r\n"
            "1:\\Data\\Log\\2005\\03\\15\\\r\n"
            "2:\\Data\\Log\\2005\\03\\14\\\r\n");
}

TEST_F(CallStoreTest, UnreadableListIsNeverReplaced) {
  // Given a list that cannot be read (a folder stands in its place), expect
  // the call still appended to the data file and the list left alone.
  std::filesystem::create_directories(Native("Data/Last"));
  EXPECT_EQ(
      store_.SaveCall(MakeRecord("A", "1", "03/15/2005", "2"), kDay, false), 1);
  EXPECT_EQ(ReadFile(DataFile()).size(), 467u);
  EXPECT_TRUE(std::filesystem::is_directory(Native("Data/Last")));
  CallInfo info;
  EXPECT_TRUE(store_.GetLastCall(1, info, true));
  CallCounts counts{1, 1, 1, 1};
  store_.CountLastCalls(counts);
  EXPECT_EQ(counts, CallCounts{});
  store_.RemoveFromLastCalls(1);
  EXPECT_TRUE(std::filesystem::is_directory(Native("Data/Last")));
}

TEST_F(CallStoreTest, UnwritableDataFileStoresNothing) {
  std::filesystem::create_directories(Native("Data/Log/2005/03/15/Data"));
  SetList("1:\\A\\\r\n");
  EXPECT_EQ(
      store_.SaveCall(MakeRecord("A", "1", "03/15/2005", "2"), kDay, false), 0);
  EXPECT_EQ(List(), "1:\\A\\\r\n");
  CallRecord out{};
  EXPECT_FALSE(store_.ReadCallRecord(out, kDay, 1));
  store_.SetReadMark(1, kDay, "1");
}

}  // namespace
}  // namespace lw
