#include "callstore/call_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "callstore/test_util.h"
#include "devices/fake/fake_clock.h"
#include "temp_dir.h"

namespace lw {
namespace {

using testing::MakeRecord;
using testing::ReadFile;
using testing::WriteFile;

constexpr char kDay[] = "\\Data\\Log\\2005\\03\\15\\";
constexpr char kDayLine[] = "\\Data\\Log\\2005\\03\\15\\\r\n";

std::string Bytes(const CallRecord& r) { return std::string(r.bytes(), 467); }

class CallStoreTest : public ::testing::Test {
 protected:
  std::string Native(const std::string& rel) const { return dir_ / rel; }
  std::string DataFile() const { return Native("Data/Log/2005/03/15/Data"); }
  std::string List() const { return ReadFile(Native("Data/Last")); }
  void SetList(std::string_view text) { WriteFile(Native("Data/Last"), text); }
  int64_t Save(std::string_view name, std::string_view type,
               std::string_view read_mark = "0") {
    return store_.SaveCall(MakeRecord(name, "1", "03/15/2005", type, read_mark),
                           kDay, false);
  }
  CallCounts Counts() const {
    CallCounts counts{9, 9, 9, 9};
    store_.CountLastCalls(counts);
    return counts;
  }

  lw::testing::TempDir dir_;
  FakeClock clock_{LocalDateTime{2005, 3, 15, 10, 15, 30, 2}};
  CallStore store_{dir_.path(), clock_};
};

TEST_F(CallStoreTest, ListKeepsItsLimit) {
  // Given a limit of 3 and three entries, expect the oldest dropped; a list
  // longer than a lowered limit is cut on the next save; below 1 means 100.
  store_.SetNumOfItemsInLast(3);
  SetList("3:\\A\\\r\n2:\\B\\\r\n1:\\C\\\r\n");
  store_.AddToLastCalls(9, kDay);
  EXPECT_EQ(List(), std::string("9:") + kDayLine + "3:\\A\\\r\n2:\\B\\\r\n");
  store_.SetNumOfItemsInLast(1);
  store_.AddToLastCalls(10, kDay);
  EXPECT_EQ(List(), std::string("10:") + kDayLine);

  std::string old;
  for (int i = 100; i >= 1; --i) old += std::to_string(i) + ":\\X\\\r\n";
  SetList(old);
  store_.SetNumOfItemsInLast(0);
  store_.AddToLastCalls(101, "\\X\\");
  std::vector<std::string> lines;
  ASSERT_TRUE(store_.ReadLastCalls(lines));
  ASSERT_EQ(lines.size(), 100u);
  EXPECT_EQ(lines.front(), "101:\\X\\");
  EXPECT_EQ(lines.back(), "2:\\X\\");
}

TEST_F(CallStoreTest, GetLastCallFillsInfoAndRebuildsMessagePath) {
  // Given a recorded call from a contact and a later plain call, expect
  // position 2 to give the first with its contact and recording path,
  // position 1 the second without; outside the list nothing changes.
  CallInfo info;
  info.caller_name = "keep";
  const CallInfo before = info;
  EXPECT_TRUE(store_.GetLastCall(1, info, true));  // no list at all
  testing::WriteContacts(dir_.path(),
                         {testing::MakeContact("Mum", "MOTHER", "5551234")});
  store_.SaveCall(MakeRecord("MOTHER", "5551234", "03/15/2005", "2"), kDay,
                  false);
  store_.SaveCall(MakeRecord("X", "9", "03/15/2005", "0"), kDay, false);
  EXPECT_TRUE(store_.GetLastCall(3, info, true));
  EXPECT_TRUE(store_.GetLastCall(0, info, true));
  EXPECT_EQ(info, before);

  EXPECT_FALSE(store_.GetLastCall(2, info, false));
  EXPECT_EQ(info,
            (CallInfo{"MOTHER", "5551234", "10:15:30", "03/15/2005",
                      dir_.path() + "/Data/Log/2005/03/15/"
                                    "MOTHER_5551234_03-15-2005_10-15-30.wav",
                      "0:00:07", "Mum", 0, "2"}));
  EXPECT_FALSE(store_.GetLastCall(1, info, false));
  EXPECT_EQ(std::tie(info.call_type, info.message_path, info.contact),
            std::tuple("0", "", ""));
}

TEST_F(CallStoreTest, ReadMarksAndUnreadCounts) {
  // Given two unread messages, an unread call and a read message, expect
  // the counts to fall as entries are read with mark-read and the mark
  // written into the record alone; a record that is not there is not made.
  Save("A", "0");
  Save("B", "3");
  Save("C", "2");
  Save("D", "4", "1");
  EXPECT_EQ(Counts(), (CallCounts{4, 3, 3, 2}));
  CallInfo info;
  EXPECT_FALSE(store_.GetLastCall(2, info, true));  // "C", record 3
  EXPECT_EQ(info.read_mark, 0);                     // as it was before
  EXPECT_EQ(ReadFile(DataFile())[2 * 467 + 146], '1');
  EXPECT_EQ(Counts(), (CallCounts{4, 3, 2, 1}));
  store_.GetLastCall(4, info, true);  // "A": a call, not a message
  EXPECT_EQ(Counts(), (CallCounts{4, 3, 1, 1}));

  const std::string data = ReadFile(DataFile());
  store_.SetReadMark(5, kDay, "1");
  store_.SetReadMark(1, "\\Data\\Log\\2005\\03\\14\\", "1");
  EXPECT_EQ(ReadFile(DataFile()), data);
  EXPECT_FALSE(std::filesystem::exists(Native("Data/Log/2005/03/14")));
}

TEST_F(CallStoreTest, RemoveFromLastCallsKeepsTheListWhole) {
  // Given positions outside the list, expect it unchanged; when the
  // temporary file cannot be made, the old list stays whole.
  SetList("2:\\A\\\r\n1:\\C\\\r\n");
  store_.RemoveFromLastCalls(3);
  store_.RemoveFromLastCalls(0);
  EXPECT_EQ(List(), "2:\\A\\\r\n1:\\C\\\r\n");
  std::filesystem::create_directories(Native("Data/Last.tmp"));
  store_.AddToLastCalls(3, kDay);
  store_.RemoveFromLastCalls(1);
  EXPECT_EQ(List(), "2:\\A\\\r\n1:\\C\\\r\n");
}

TEST_F(CallStoreTest, ListLinesThatLeadNowhereAreCountedAndKept) {
  // Lines may end in LF or CR alone; a line that leads to no record counts
  // as a call and nothing more, reads as an empty call and stays on a
  // rewrite.
  Save("A", "2");
  SetList(std::string("1:") + kDay + "\ngarbage\r7:..\\..\\etc\\\r\n1:" + kDay);
  EXPECT_EQ(Counts(), (CallCounts{4, 2, 2, 2}));
  CallInfo info;
  for (int i = 2; i <= 3; ++i) {
    info.caller_name = "before";
    EXPECT_FALSE(store_.GetLastCall(i, info, true));
    EXPECT_EQ(info, CallInfo{});
  }
  store_.AddToLastCalls(2, kDay);
  std::vector<std::string> lines;
  ASSERT_TRUE(store_.ReadLastCalls(lines));
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                std::string("2:") + kDay, std::string("1:") + kDay, "garbage",
                "7:..\\..\\etc\\", std::string("1:") + kDay}));

  int64_t n = 0;
  std::string folder;
  for (const char* refused :
       {"12", "-3:\\Data\\", "3:Data\\", "99999999999999999999:\\D\\"})
    EXPECT_FALSE(SplitLastCallLine(refused, n, folder)) << refused;
  EXPECT_TRUE(SplitLastCallLine(" 7x:\\a:b\\", n, folder));
  EXPECT_EQ(folder, "\\a:b\\");
  EXPECT_EQ(DayFolderText({2005, 3, 5}), "\\Data\\Log\\2005\\03\\05\\");
}

TEST_F(CallStoreTest, TornDataFileIsWrittenOverAndStaleEntriesLeave) {
  // Given one whole record, 100 bytes of a cut-short second one and list
  // entries for 2 and 3 of that day, expect record 2 unreadable, then the
  // next save to land whole as record 2 and the stale entries gone.
  const CallRecord first = MakeRecord("A", "1", "03/15/2005", "2");
  WriteFile(DataFile(), Bytes(first) + Bytes(first).substr(0, 100));
  const std::string other_day = "2:\\Data\\Log\\2005\\03\\14\\\r\n";
  SetList(std::string("2:") + kDayLine + "3:" + kDayLine + "1:" + kDayLine +
          other_day);
  CallRecord out{};
  EXPECT_TRUE(store_.ReadCallRecord(out, kDay, 1));
  EXPECT_FALSE(store_.ReadCallRecord(out, kDay, 2));
  EXPECT_EQ(Counts(), (CallCounts{4, 1, 1, 1}));

  const CallRecord next = MakeRecord("B", "2", "03/15/2005", "0");
  EXPECT_EQ(store_.SaveCall(next, kDay, false), 2);
  EXPECT_EQ(ReadFile(DataFile()), Bytes(first) + Bytes(next));
  EXPECT_EQ(List(), std::string("2:") + kDayLine + "1:" + kDayLine + other_day);
  EXPECT_EQ(store_.SaveCall(next, kDay, true), 3);
}

TEST_F(CallStoreTest, UnusableFilesAreLeftAlone) {
  // Given a folder in place of the list, expect the call still appended and
  // the list neither read nor replaced; given one in place of the data
  // file, expect nothing stored and the list unchanged.
  std::filesystem::create_directories(Native("Data/Last"));
  EXPECT_EQ(Save("A", "2"), 1);
  EXPECT_EQ(ReadFile(DataFile()).size(), 467u);
  CallInfo info;
  EXPECT_TRUE(store_.GetLastCall(1, info, true));
  EXPECT_EQ(Counts(), CallCounts{});
  store_.RemoveFromLastCalls(1);
  EXPECT_TRUE(std::filesystem::is_directory(Native("Data/Last")));

  std::filesystem::remove(Native("Data/Last"));
  std::filesystem::remove(DataFile());
  std::filesystem::create_directories(DataFile());
  SetList("1:\\A\\\r\n");
  EXPECT_EQ(Save("A", "2"), 0);
  EXPECT_EQ(List(), "1:\\A\\\r\n");
  store_.SetReadMark(1, kDay, "1");
  CallRecord out{};
  EXPECT_FALSE(store_.ReadCallRecord(out, kDay, 1));
}

}  // namespace
}  // namespace lw
