#include "settings/call_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "callstore/contacts.h"
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
  o.sGreetsMessage = ".wav";
  o.sMessagesPath = "\\Data\\Log";
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
  void PutDword(const std::string& section, const std::string& name,
                int32_t value) {
    const uint32_t u = static_cast<uint32_t>(value);
    const char bytes[4] = {static_cast<char>(u), static_cast<char>(u >> 8),
                           static_cast<char>(u >> 16),
                           static_cast<char>(u >> 24)};
    PutRaw(section, name, REG_DWORD, std::string(bytes, 4));
  }
  void Remove(const std::string& section, const std::string& name) {
    store_.DeleteValue(HKEY_LOCAL_MACHINE, kProductKey + "\\" + section, name);
  }

  void Load() { LoadCallOptions(reg_, journal_, options_, process_, hooks_); }

  // The system journal's entries without their time: "source->text(code)".
  std::vector<std::string> JournalEntries() {
    std::vector<std::string> entries;
    std::ifstream in(dir_ / "Journal/12-04-2026_Sys.txt", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t at = line.find(" : ");
      entries.push_back(at == std::string::npos ? line : line.substr(at + 3));
    }
    return entries;
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
  struct Case {
    RegValue value;
    int32_t error;
    bool result;
  };
  const Case cases[] = {
      {RegValue{}, 0, false},
      {std::string("0.0"), 0, false},
      {std::string("0.4"), 0, true},
      {std::string(" -1 "), 0, true},
      {std::string("tRUE"), 0, true},
      {std::string("FALSE"), 0, false},
      {int32_t{0}, 0, false},
      {int32_t{-7}, 0, true},
      {std::string(""), kErrTypeMismatch, false},
      {std::string("yes"), kErrTypeMismatch, false},
      {std::string("1\0", 2), kErrTypeMismatch, false},
      {std::string("Truex"), kErrTypeMismatch, false},
      {std::string("1e999"), kErrOverflow, false},
      {RegBytes{'1'}, kErrTypeMismatch, false},
  };
  for (const Case& c : cases) {
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
  struct Case {
    RegValue value;
    int32_t error16;
    int16_t result16;
    int32_t error32;
    int32_t result32;
  };
  const Case cases[] = {
      {RegValue{}, 0, 0, 0, 0},
      {std::string(" -12\t"), 0, -12, 0, -12},
      {std::string("+7"), 0, 7, 0, 7},
      {std::string("2.5"), 0, 2, 0, 2},
      {std::string("-3.5"), 0, -4, 0, -4},
      {std::string(".5e1"), 0, 5, 0, 5},
      {std::string("-32768"), 0, -32768, 0, -32768},
      {std::string("32767"), 0, 32767, 0, 32767},
      {std::string("2147483647"), kErrOverflow, 0, 0, 2147483647},
      {std::string("32767.5"), kErrOverflow, 0, 0, 32768},
      {std::string("2147483648"), kErrOverflow, 0, kErrOverflow, 0},
      {std::string("1e-400"), 0, 0, 0, 0},
      {int32_t{40000}, kErrOverflow, 0, 0, 40000},
      {std::string("  "), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("True"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("0x10"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("1e"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("."), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("inf"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {RegBytes{'1'}, kErrTypeMismatch, 0, kErrTypeMismatch, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(RegValueText(c.value));
    int16_t n = 99;
    EXPECT_EQ(OptionToInt16(c.value, n), c.error16);
    EXPECT_EQ(n, c.error16 == 0 ? c.result16 : 99);
    int32_t l = 99;
    EXPECT_EQ(OptionToInt32(c.value, l), c.error32);
    EXPECT_EQ(l, c.error32 == 0 ? c.result32 : 99);
  }
}

TEST(OptionConversionTest, RealsAndTexts) {
  double d = 9;
  EXPECT_EQ(OptionToDouble(std::string("1.25"), d), 0);
  EXPECT_EQ(d, 1.25);
  EXPECT_EQ(OptionToDouble(std::string("-3E-1"), d), 0);
  EXPECT_EQ(d, -0.3);
  EXPECT_EQ(OptionToDouble(RegValue{}, d), 0);
  EXPECT_EQ(d, 0.0);
  d = 9;
  EXPECT_EQ(OptionToDouble(std::string("1e400"), d), kErrOverflow);
  EXPECT_EQ(OptionToDouble(std::string("1.5 min"), d), kErrTypeMismatch);
  EXPECT_EQ(d, 9.0);

  EXPECT_EQ(OptionToText(RegValue{}), "");
  EXPECT_EQ(OptionToText(int32_t{-12}), "-12");
  EXPECT_EQ(OptionToText(std::string(" a b ")), " a b ");
}

TEST_F(CallOptionsTest, FreshInstallationReadsOffZeroAndEmpty) {
  // given an empty store and a record full of values, expect every field
  // off, 0 or empty, the greeting ".wav", the store folder "\Data\Log";
  // a greeting and store folder get ".wav" and "\Data\Log" appended
  options_.bDetectPickUP = true;
  options_.sMailTo = "a@b";
  options_.bAllowRemoteAccess = true;
  options_.ContactBlock = true;
  process_ = {true, true, 20};
  Load();
  EXPECT_EQ(options_, Fresh());
  EXPECT_EQ(process_, ProcessWideOptions{});
  EXPECT_TRUE(JournalEntries().empty());

  PutDword("Answer\\TabAnsweringMachine", "CmbGreetsMessages", 7);
  Put("Answer\\TabAnsweringMachine", "txtMassagesPath", "D:\\Calls");
  Load();
  EXPECT_EQ(options_.sGreetsMessage, "7.wav");
  EXPECT_EQ(options_.sMessagesPath, "D:\\Calls\\Data\\Log");
}

TEST_F(CallOptionsTest, BadValuesAreJournalledAndTheNextValueIsStillRead) {
  // given "txtNumOfRing" = "abc" after a load that set it to 5, expect it 0,
  // one journal line per bad value in reading order, and every later value
  // (up to the last one read) still read
  Put("Answer\\TabAnsweringMachine", "txtNumOfRing", "5");
  Load();
  ASSERT_EQ(options_.nNumOfRing, 5);

  Put("Answer\\TabAnsweringMachine", "txtNumOfRing", "abc");
  Put("Answer\\TabAnsweringMachine", "cmdRecordMessage", "1");
  Put("Answer\\TabCallsRecord", "chkDetectPickUp", "");
  Put("Answer\\TabCallsRecord", "lblNumOfCallToRec", "9999999999");
  Put("Forward\\Mail", "cmbActMail", "1.5.");
  PutRaw("Forward\\App", "chkApp", REG_BINARY, "\x01");
  Put("Forward\\App", "txtAppTo", "run <Number>");
  Put("Properties\\TabGeneral", "chkListMessagesOnly", "1");
  Load();

  CallOptions expected = Fresh();
  expected.bRecordMessage = true;
  expected.sAppTo = "run <Number>";
  expected.bListMessagesOnly = true;
  EXPECT_EQ(options_, expected);
  EXPECT_EQ(JournalEntries(), (std::vector<std::string>{
                                  "ErrSetDefaultCallOption->Type mismatch(13)",
                                  "ErrSetDefaultCallOption->Type mismatch(13)",
                                  "ErrSetDefaultCallOption->Overflow(6)",
                                  "ErrSetDefaultCallOption->Type mismatch(13)",
                                  "ErrSetDefaultCallOption->Type mismatch(13)",
                              }));
}

TEST_F(CallOptionsTest, RemoteAccessSwitchesKeepTheirValueOnABadValue) {
  // given remote access switched on by one load and "yes" at the next,
  // expect it still on, journalled under "ErrGetOptions", the next value
  // still read; a line option with a bad value falls back to off instead
  Put("RemoteAccess\\TabPhoneAccess", "chkAllowRemoteAccess", "1");
  Put("Answer\\TabCallsRecord", "chkDetectPickUp", "1");
  Load();
  ASSERT_TRUE(options_.bAllowRemoteAccess);
  ASSERT_TRUE(options_.bDetectPickUP);

  Put("RemoteAccess\\TabPhoneAccess", "chkAllowRemoteAccess", "yes");
  Put("RemoteAccess\\TabPhoneAccess", "chkAllowCallerNameNumAccess", "1");
  Put("Answer\\TabCallsRecord", "chkDetectPickUp", "yes");
  Load();
  EXPECT_TRUE(options_.bAllowRemoteAccess);
  EXPECT_TRUE(options_.bAllowCallerNameNumAccess);
  EXPECT_FALSE(options_.bDetectPickUP);
  EXPECT_EQ(JournalEntries(), (std::vector<std::string>{
                                  "ErrGetOptions->Type mismatch(13)",
                                  "ErrSetDefaultCallOption->Type mismatch(13)",
                              }));

  // A missing value is no error: it reads as off.
  Remove("RemoteAccess\\TabPhoneAccess", "chkAllowRemoteAccess");
  Load();
  EXPECT_FALSE(options_.bAllowRemoteAccess);
}

TEST_F(CallOptionsTest, ContactChoicesLastUntilTheNextLoad) {
  // given a contact that blocks the caller and brings its own forwarding,
  // expect the record to carry them until the options are loaded again
  Put("Forward\\Mail", "chkSendToMail", "1");
  Put("Forward\\Mail", "txtMailTo", "line@example.org");
  Put("MailForward\\SMTP", "txtSMTP", "smtp.example.org");
  Load();
  const CallOptions loaded = options_;

  ContactRecord contact;
  std::memset(contact.bytes(), ' ', ContactRecord::kSize);
  contact.call_handling[0] = '2';
  contact.forwarding[0] = '3';
  contact.send_to_mail[0] = '0';
  contact.act_mail[0] = '2';
  const std::string mail = "contact@example.org";
  std::copy(mail.begin(), mail.end(), contact.mail_to);
  ContactOverlay overlay = ToContactOverlay(options_);
  Contacts::ApplyContact(contact, overlay, MakeRegistryTextReader(reg_));
  ApplyContactOverlay(overlay, options_);

  EXPECT_TRUE(options_.ContactBlock);
  EXPECT_FALSE(options_.bSendToMail);
  EXPECT_EQ(options_.nActMail, 2);
  EXPECT_EQ(options_.sMailTo, mail);
  EXPECT_EQ(options_.sSMTP, "smtp.example.org");
  Load();
  EXPECT_EQ(options_, loaded);
}

}  // namespace
}  // namespace lw
