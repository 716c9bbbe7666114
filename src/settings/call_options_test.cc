#include "settings/call_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "callstore/test_util.h"
#include "devices/fake/fake_clock.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "temp_dir.h"

namespace lw {
namespace {

namespace fs = std::filesystem;

const std::string kProductKey = std::string(kKeyRoot);

// The record as a fresh installation reads it.
CallOptions Fresh() {
  CallOptions o;
  o.greeting_file = ".wav";
  o.messages_path = "\\Data\\Log";
  return o;
}

class CallOptionsTest : public ::testing::Test {
 protected:
  CallOptionsTest() : journal_(clock_, dir_.path()) {
    fs::create_directory(dir_ / "Journal");
    journal_.SetSwitches(true, false);
  }

  void PutRaw(const std::string& section, const std::string& name,
              uint32_t type, const std::string& data) {
    const std::string key = kProductKey + "\\" + section;
    ASSERT_EQ(store_.CreateKey(HKEY_LOCAL_MACHINE, key), StoreStatus::kOk);
    ASSERT_EQ(store_.SetValue(HKEY_LOCAL_MACHINE, key, name, type, data),
              StoreStatus::kOk);
  }
  void Put(const std::string& section, const std::string& name,
           const std::string& text) {
    PutRaw(section, name, REG_SZ, text + std::string(1, '\0'));
  }

  void Load() { LoadCallOptions(reg_, journal_, options_, process_, hooks_); }

  std::string SysJournal() {
    return testing::ReadFile(dir_ / "Journal/12-04-2026_Sys.txt");
  }

  testing::TempDir dir_;
  FakeClock clock_{{2026, 12, 4, 14, 3, 22, 5}};
  Journal journal_;
  SqliteSettingsStore store_{":memory:"};
  RegistryRoutines reg_{store_};
  LineOptionHooks hooks_;
  CallOptions options_;
  ProcessWideOptions process_;
};

TEST(OptionConversionTest, BooleansFromTextNumbersAndNames) {
  const struct {
    RegValue value;
    int32_t error;
    bool result;
  } cases[] = {
      {RegValue{}, 0, false},
      {std::string("0.4"), 0, true},
      {std::string("tRUE"), 0, true},
      {std::string("yes"), kErrTypeMismatch, false},
      {std::string("1\0", 2), kErrTypeMismatch, false},
      {std::string("1e999"), kErrOverflow, false},
      {RegBytes{'1'}, kErrTypeMismatch, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(RegValueText(c.value));
    // A failed conversion leaves the target as it was, both ways round.
    for (bool before : {false, true}) {
      bool out = before;
      EXPECT_EQ(OptionToBoolean(c.value, out), c.error);
      EXPECT_EQ(out, c.error == 0 ? c.result : before);
    }
  }
}

TEST(OptionConversionTest, IntegersRoundHalfToEvenAndOverflowOutOfRange) {
  const struct {
    RegValue value;
    int32_t error16;
    int16_t result16;
    int32_t error32;
    int32_t result32;
  } cases[] = {
      {std::string(" -12\t"), 0, -12, 0, -12},
      {std::string("2.5"), 0, 2, 0, 2},
      {std::string("-3.5"), 0, -4, 0, -4},
      {std::string("32767.5"), kErrOverflow, 0, 0, 32768},
      {std::string("2147483648"), kErrOverflow, 0, kErrOverflow, 0},
      {int32_t{40000}, kErrOverflow, 0, 0, 40000},
      {std::string("True"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("inf"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(RegValueText(c.value));
    int16_t n = 99;
    EXPECT_EQ(OptionToInt16(c.value, n), c.error16);
    EXPECT_EQ(n, c.error16 == 0 ? c.result16 : 99);
    int32_t l = 99;
    EXPECT_EQ(OptionToInt32(c.value, l), c.error32);
    EXPECT_EQ(l, c.error32 == 0 ? c.result32 : 99);
  }
  double d = 9;
  EXPECT_EQ(OptionToDouble(std::string("1.25"), d), 0);
  EXPECT_EQ(OptionToDouble(std::string("1e400"), d), kErrOverflow);
  EXPECT_EQ(OptionToDouble(std::string("1.5 min"), d), kErrTypeMismatch);
  EXPECT_EQ(d, 1.25);
}

TEST_F(CallOptionsTest, FreshInstallationReadsOffZeroAndEmpty) {
  // given an empty store and a record full of values, expect every field
  // off, 0 or empty, the greeting ".wav", the store folder "\Data\Log";
  // a greeting and store folder get ".wav" and "\Data\Log" appended
  options_.mail_to = "a@b";
  options_.allow_remote_access = options_.ContactBlock = true;
  process_ = {true, true, 20};
  Load();
  EXPECT_EQ(options_, Fresh());
  EXPECT_EQ(process_, ProcessWideOptions{});
  EXPECT_EQ(SysJournal(), "");

  PutRaw("Answer\\TabAnsweringMachine", "CmbGreetsMessages", REG_DWORD,
         std::string("\x07\0\0\0", 4));
  Put("Answer\\TabAnsweringMachine", "txtMassagesPath", "D:\\Calls");
  Load();
  EXPECT_EQ(options_.greeting_file, "7.wav");
  EXPECT_EQ(options_.messages_path, "D:\\Calls\\Data\\Log");
}

TEST_F(CallOptionsTest, BadValuesAreJournalledAndTheNextValueIsStillRead) {
  // given bad values after a load that set some of them, expect line
  // options 0 or off but remote access kept on, one journal line per bad
  // value in reading order, and every later value still read
  const std::string am = "Answer\\TabAnsweringMachine";
  const std::string remote = "RemoteAccess\\TabPhoneAccess";
  Put(am, "txtNumOfRing", "5");
  Put(remote, "chkAllowRemoteAccess", "1");
  Load();
  ASSERT_EQ(options_.rings_to_answer, 5);
  ASSERT_TRUE(options_.allow_remote_access);

  Put(am, "txtNumOfRing", "abc");
  Put(am, "cmdRecordMessage", "1");
  Put("Answer\\TabCallsRecord", "chkDetectPickUp", "");
  Put("Answer\\TabCallsRecord", "lblNumOfCallToRec", "9999999999");
  Put("Forward\\Mail", "cmbActMail", "1.5.");
  PutRaw("Forward\\App", "chkApp", REG_BINARY, "\x01");
  Put("Forward\\App", "txtAppTo", "run <Number>");
  Put("Properties\\TabGeneral", "chkListMessagesOnly", "1");
  Put(remote, "chkAllowRemoteAccess", "yes");
  Put(remote, "chkAllowCallerNameNumAccess", "1");
  Load();

  CallOptions expected = Fresh();
  expected.record_message = true;
  expected.app_command = "run <Number>";
  expected.list_messages_only = true;
  expected.allow_remote_access = true;
  expected.allow_access_by_caller = true;
  EXPECT_EQ(options_, expected);
  const std::string m =
      "14:03:22 : ErrSetDefaultCallOption->Type mismatch(13)\r\n";
  const std::string overflow =
      "14:03:22 : ErrSetDefaultCallOption->Overflow(6)\r\n";
  EXPECT_EQ(SysJournal(), "14:03:22 : ErrGetOptions->Type mismatch(13)\r\n" +
                              m + m + overflow + m + m);
}

}  // namespace
}  // namespace lw
