#include "journal/journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "devices/fake/fake_clock.h"
#include "loopback.h"

namespace lw {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::ReadFile;

class JournalTest : public ::testing::Test {
 protected:
  JournalTest() : journal_(clock_, dir_.path()) {
    fs::create_directory(dir_ / "Journal");
    journal_.SetSwitches(true, true);
  }
  std::string JournalFile(const std::string& name) {
    return dir_ / ("Journal/" + name);
  }

  testing::TempDir dir_;
  FakeClock clock_{{2026, 12, 4, 14, 3, 22, 5}};
  Journal journal_;
};

TEST_F(JournalTest, LinesAreExactAndInCallOrder) {
  // given three system entries in the same second and web texts with 8-bit
  // and control bytes, expect the lines in that order, the texts unchanged
  // and the files closed to others
  journal_.LogSys("Opening Linewarden 1.0 Process", 0, "");
  journal_.LogSys("Line busy", -2147483647 - 1, "OpenLine:Tapi1.LineOpen(0)");
  journal_.LogSys("", 2147483647, "ErrGetOptions");
  journal_.LogWWW("GET / HTTP/1.0");
  clock_.Advance(1000);
  journal_.LogWWW("caf\xe9\tA\0B"s);
  EXPECT_EQ(ReadFile(JournalFile("12-04-2026_Sys.txt")),
            "14:03:22 : ->Opening Linewarden 1.0 Process(0)\r\n"
            "14:03:22 : OpenLine:Tapi1.LineOpen(0)->Line busy(-2147483648)\r\n"
            "14:03:22 : ErrGetOptions->(2147483647)\r\n");
  EXPECT_EQ(ReadFile(JournalFile("12-04-2026_WWW.txt")),
            "14:03:22 : GET / HTTP/1.0\r\n"
            "14:03:23 : caf\xe9\tA\0B\r\n"s);
  struct stat st {};
  ASSERT_EQ(::stat(JournalFile("12-04-2026_Sys.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0007, 0u);
}

TEST_F(JournalTest, NewDayStartsNewFileAndLeavesOldOne) {
  // given a file already holding another writer's line, expect it appended to
  testing::WriteFile(JournalFile("12-04-2026_Sys.txt"), "older\r\n");
  journal_.LogSys("a", 1, "s");
  clock_.SetNow({2026, 12, 5, 0, 0, 1, 6});
  journal_.LogSys("b", 2, "s");
  EXPECT_EQ(ReadFile(JournalFile("12-04-2026_Sys.txt")),
            "older\r\n14:03:22 : s->a(1)\r\n");
  EXPECT_EQ(ReadFile(JournalFile("12-05-2026_Sys.txt")),
            "00:00:01 : s->b(2)\r\n");
}

TEST_F(JournalTest, UnwritableFilesArePassedOverOrCaughtUp) {
  // given today's system journal name taken by a folder, expect its line
  // passed over and the web journal still written; given a file that takes
  // nothing (a full disk), expect its line written before the next one once
  // there is room; given no journal folder, expect none created
  fs::create_directory(JournalFile("12-04-2026_Sys.txt"));
  journal_.LogSys("x", 0, "");
  journal_.LogWWW("w");
  EXPECT_EQ(ReadFile(JournalFile("12-04-2026_WWW.txt")), "14:03:22 : w\r\n");
  fs::remove(JournalFile("12-04-2026_Sys.txt"));
  fs::create_symlink("/dev/full", JournalFile("12-04-2026_Sys.txt"));
  journal_.LogSys("first", 0, "A");
  fs::remove(JournalFile("12-04-2026_Sys.txt"));
  journal_.LogSys("second", 0, "B");
  EXPECT_EQ(ReadFile(JournalFile("12-04-2026_Sys.txt")),
            "14:03:22 : A->first(0)\r\n14:03:22 : B->second(0)\r\n");
  Journal nowhere(clock_, dir_ / "no/such/app");
  nowhere.SetSwitches(true, true);
  nowhere.LogSys("x", 0, "");
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

}  // namespace
}  // namespace lw
