#include "settings/call_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
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

// Forwards to a real store and notes every value read as "section:name".
class RecordingStore : public SettingsStore {
 public:
  explicit RecordingStore(SettingsStore& base, std::vector<std::string>& log)
      : base_(base), log_(log) {}
  StoreStatus KeyExists(uint32_t root, std::string_view key) override {
    return base_.KeyExists(root, key);
  }
  StoreStatus CreateKey(uint32_t root, std::string_view key) override {
    return base_.CreateKey(root, key);
  }
  StoreStatus DeleteKey(uint32_t root, std::string_view key,
                        bool with_subkeys) override {
    return base_.DeleteKey(root, key, with_subkeys);
  }
  StoreStatus GetValue(uint32_t root, std::string_view key,
                       std::string_view name, uint32_t* type,
                       std::string* data) override {
    std::string section = NormalizeKeyPath(key);
    section.erase(0, std::min(section.size(), kProductKey.size() + 1));
    log_.push_back(section + ":" + std::string(name));
    return base_.GetValue(root, key, name, type, data);
  }
  StoreStatus SetValue(uint32_t root, std::string_view key,
                       std::string_view name, uint32_t type,
                       std::string_view data) override {
    return base_.SetValue(root, key, name, type, data);
  }
  StoreStatus DeleteValue(uint32_t root, std::string_view key,
                          std::string_view name) override {
    return base_.DeleteValue(root, key, name);
  }
  StoreStatus ListSubkeys(uint32_t root, std::string_view key,
                          std::vector<std::string>* names) override {
    return base_.ListSubkeys(root, key, names);
  }
  StoreStatus ListValues(uint32_t root, std::string_view key,
                         std::vector<StoredValue>* values) override {
    return base_.ListValues(root, key, values);
  }
  StoreStatus ReadTree(uint32_t root, std::string_view key,
                       std::vector<StoredKey>* keys) override {
    return base_.ReadTree(root, key, keys);
  }
  StoreStatus Apply(std::span<const StoreChange> changes) override {
    return base_.Apply(changes);
  }
  std::string LastError() const override { return base_.LastError(); }

 private:
  SettingsStore& base_;
  std::vector<std::string>& log_;
};

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
  std::vector<std::string> reads_;
  RecordingStore recording_{store_, reads_};
  RegistryRoutines reg_{recording_};
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
      {std::string("0"), 0, false},
      {std::string("1"), 0, true},
      {std::string("-1"), 0, true},
      {std::string("2"), 0, true},
      {std::string("0.0"), 0, false},
      {std::string("0.4"), 0, true},
      {std::string(" 1 "), 0, true},
      {std::string("True"), 0, true},
      {std::string("tRUE"), 0, true},
      {std::string("FALSE"), 0, false},
      {int32_t{0}, 0, false},
      {int32_t{-7}, 0, true},
      {std::string(""), kErrTypeMismatch, false},
      {std::string("yes"), kErrTypeMismatch, false},
      {std::string("1x"), kErrTypeMismatch, false},
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
      {std::string("12"), 0, 12, 0, 12},
      {std::string(" -12\t"), 0, -12, 0, -12},
      {std::string("+7"), 0, 7, 0, 7},
      {std::string("2.5"), 0, 2, 0, 2},
      {std::string("3.5"), 0, 4, 0, 4},
      {std::string("-2.5"), 0, -2, 0, -2},
      {std::string("1e3"), 0, 1000, 0, 1000},
      {std::string(".5e1"), 0, 5, 0, 5},
      {std::string("32767"), 0, 32767, 0, 32767},
      {std::string("-32768"), 0, -32768, 0, -32768},
      {std::string("32768"), kErrOverflow, 0, 0, 32768},
      {std::string("-32769"), kErrOverflow, 0, 0, -32769},
      {std::string("32767.5"), kErrOverflow, 0, 0, 32768},
      {std::string("2147483647"), kErrOverflow, 0, 0, 2147483647},
      {std::string("2147483648"), kErrOverflow, 0, kErrOverflow, 0},
      {std::string("1e400"), kErrOverflow, 0, kErrOverflow, 0},
      {std::string("1e-400"), 0, 0, 0, 0},
      {int32_t{40000}, kErrOverflow, 0, 0, 40000},
      {int32_t{-5}, 0, -5, 0, -5},
      {std::string(""), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("  "), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("abc"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("True"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("0x10"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
      {std::string("1,5"), kErrTypeMismatch, 0, kErrTypeMismatch, 0},
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
  EXPECT_EQ(OptionToDouble(int32_t{3}, d), 0);
  EXPECT_EQ(d, 3.0);
  EXPECT_EQ(OptionToDouble(RegValue{}, d), 0);
  EXPECT_EQ(d, 0.0);
  d = 9;
  EXPECT_EQ(OptionToDouble(std::string("1e400"), d), kErrOverflow);
  EXPECT_EQ(OptionToDouble(std::string("1.5 min"), d), kErrTypeMismatch);
  EXPECT_EQ(OptionToDouble(std::string(""), d), kErrTypeMismatch);
  EXPECT_EQ(d, 9.0);

  EXPECT_EQ(OptionToText(RegValue{}), "");
  EXPECT_EQ(OptionToText(int32_t{-12}), "-12");
  EXPECT_EQ(OptionToText(std::string(" a b ")), " a b ");

  EXPECT_STREQ(ConversionErrorText(kErrOverflow), "Overflow");
  EXPECT_STREQ(ConversionErrorText(kErrTypeMismatch), "Type mismatch");
}

TEST_F(CallOptionsTest, FreshInstallationReadsOffZeroAndEmpty) {
  // given an empty store and a record full of values, expect every field
  // off, 0 or empty, the greeting ".wav", the store folder "\Data\Log"
  options_.bDetectPickUP = true;
  options_.nNumOfRing = 4;
  options_.sMailTo = "a@b";
  options_.bAllowRemoteAccess = true;
  options_.sDigitsToEnter = "12";
  options_.ContactBlock = true;
  process_ = {true, true, 20};
  Load();
  EXPECT_EQ(options_, Fresh());
  EXPECT_EQ(process_, ProcessWideOptions{});
  EXPECT_TRUE(JournalEntries().empty());
}

TEST_F(CallOptionsTest, ProcessWideValuesComeFromTheProductKeyAndGeneralTab) {
  // given the running flag as a number and the general values as text,
  // expect the three process-wide values and no record field changed
  PutDword("", "bRun", 1);
  Put("Properties\\TabGeneral", "chkDoEventsWhenGUI", "True");
  Put("Properties\\TabGeneral", "txtlNumOfItemsInLast", "250");
  Load();
  EXPECT_EQ(process_, (ProcessWideOptions{true, true, 250}));
  EXPECT_EQ(options_, Fresh());
}

TEST_F(CallOptionsTest, GreetingGetsWavAppendedAndStoreFolderDataLog) {
  // given a greeting name and a store folder, expect ".wav" and
  // "\Data\Log" appended, also to an empty text and to a number
  Put("Answer\\TabAnsweringMachine", "CmbGreetsMessages", "Hello");
  Put("Answer\\TabAnsweringMachine", "txtMassagesPath", "D:\\Calls");
  Load();
  EXPECT_EQ(options_.sGreetsMessage, "Hello.wav");
  EXPECT_EQ(options_.sMessagesPath, "D:\\Calls\\Data\\Log");
  Put("Answer\\TabAnsweringMachine", "CmbGreetsMessages", "");
  Put("Answer\\TabAnsweringMachine", "txtMassagesPath", "");
  Load();
  EXPECT_EQ(options_.sGreetsMessage, ".wav");
  EXPECT_EQ(options_.sMessagesPath, "\\Data\\Log");
  PutDword("Answer\\TabAnsweringMachine", "CmbGreetsMessages", 7);
  Load();
  EXPECT_EQ(options_.sGreetsMessage, "7.wav");
}

TEST_F(CallOptionsTest, MapiOnlyForTheTextOne) {
  // given "MAPI" = "True", expect False, while "chkSendToMail" = "True" is
  // True; only "1" (or the number 1) selects the relay, and nothing is
  // journalled for other texts
  Put("MailForward\\SMTP", "MAPI", "True");
  Put("Forward\\Mail", "chkSendToMail", "True");
  Load();
  EXPECT_FALSE(options_.bMAPI);
  EXPECT_TRUE(options_.bSendToMail);
  for (const char* text : {"2", "-1", " 1", "1 ", "01", "", "abc"}) {
    SCOPED_TRACE(text);
    Put("MailForward\\SMTP", "MAPI", text);
    Load();
    EXPECT_FALSE(options_.bMAPI);
  }
  Put("MailForward\\SMTP", "MAPI", "1");
  Load();
  EXPECT_TRUE(options_.bMAPI);
  PutDword("MailForward\\SMTP", "MAPI", 1);
  Load();
  EXPECT_TRUE(options_.bMAPI);
  EXPECT_TRUE(JournalEntries().empty());
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

TEST_F(CallOptionsTest, ProcessWideValuesFallBackToTheResetValueOnABadValue) {
  // given 30 latest calls, then "many", expect the reset value 0 (a list of
  // 100 in the call store) and a journal line, and the value read after it
  // (the last of all) still read
  Put("Properties\\TabGeneral", "txtlNumOfItemsInLast", "30");
  Put("", "bRun", "1");
  Load();
  Put("Properties\\TabGeneral", "txtlNumOfItemsInLast", "many");
  Put("", "bRun", "running");
  Put("Properties\\TabGeneral", "chkListMessagesOnly", "1");
  Load();
  EXPECT_EQ(process_.NumOfItemsInLast, 0);
  EXPECT_FALSE(process_.GUIRunning);
  EXPECT_TRUE(options_.bListMessagesOnly);
  EXPECT_EQ(JournalEntries().size(), 2u);
}

TEST_F(CallOptionsTest, ReadsInCatalogueOrderWithHooksInPlace) {
  // given speech values and hooks, expect every value read once in the
  // catalogue's order, the speech values twice (line voice, then speech
  // window), and the per-call reset between GetOptions and the rest
  Put("Properties\\TabTTS", "TTSVoices", "2");
  Put("Properties\\TabTTS", "sldrTTS", "-3");
  hooks_.SetLineVoice = [&](int32_t v) {
    reads_.push_back("SetLineVoice " + std::to_string(v));
  };
  hooks_.SetLineRate = [&](int16_t v) {
    reads_.push_back("SetLineRate " + std::to_string(v));
  };
  hooks_.TTSSetVoice = [&](int32_t v) {
    reads_.push_back("TTSSetVoice " + std::to_string(v));
  };
  hooks_.SetRate = [&](int16_t v) {
    reads_.push_back("SetRate " + std::to_string(v));
  };
  hooks_.ResetPerCallState = [&] { reads_.push_back("ResetPerCallState"); };
  reads_.clear();
  Load();
  const std::vector<std::string> expected = {
      "RemoteAccess\\TabPhoneAccess:txtDigitsToEnter",
      "RemoteAccess\\TabPhoneAccess:cmbConfirmDigit",
      "RemoteAccess\\TabPhoneAccess:chkAllowRemoteAccess",
      "RemoteAccess\\TabPhoneAccess:chkAllowCallerNameNumAccess",
      "RemoteAccess\\TabPhoneAccess:txtAccessCallerName",
      "RemoteAccess\\TabPhoneAccess:txtAccessCallerNumber",
      "Access\\Phone\\Messages:txtRCTTSWllcome",
      "Access\\Phone\\Messages:txtRCTTSBefore",
      "Access\\Phone\\Messages:txtRCTTSAfter",
      "Access\\Phone\\Digits:cmbFirstMessageDigit",
      "Access\\Phone\\Digits:cmbNextMessageDigit",
      "Access\\Phone\\Digits:cmbPrevMessageDigit",
      "Access\\Phone\\Digits:cmbCloseRCDigit",
      "Access\\Phone\\Digits:cmbPlayMessageDigit",
      "Access\\Phone\\Digits:cmbDelRCDigit",
      "Properties\\TabTTS:TTSVoices",
      "SetLineVoice 2",
      "Properties\\TabTTS:sldrTTS",
      "SetLineRate -3",
      "Properties\\TabTTS:TTSVoices",
      "TTSSetVoice 2",
      "Properties\\TabTTS:sldrTTS",
      "SetRate -3",
      "ResetPerCallState",
      ":bRun",
      "Properties\\TabGeneral:chkDoEventsWhenGUI",
      "Answer\\TabAnsweringMachine:chkRunAnsIfNotAnswered",
      "Answer\\TabAnsweringMachine:txtNumOfRing",
      "Answer\\TabAnsweringMachine:CmbGreetsMessages",
      "Answer\\TabAnsweringMachine:cmdRecordMessage",
      "Answer\\TabAnsweringMachine:chkMaxRec",
      "Answer\\TabAnsweringMachine:cmbAnsweringFormatRec",
      "Answer\\TabAnsweringMachine:chkPreScreen",
      "Answer\\TabAnsweringMachine:txtMassagesPath",
      "Answer\\TabAnsweringMachine:txtRecLong",
      "Answer\\TabCallsRecord:chkDetectPickUp",
      "Answer\\TabCallsRecord:cmbRecWhen",
      "Answer\\TabCallsRecord:lblNumOfCallToRec",
      "Answer\\TabCallsRecord:chkLegalRecMSG",
      "Answer\\TabCallsRecord:cmbLegalRecMSG",
      "Answer\\TabCallsRecord:cmbRecordFormatRec",
      "Answer\\TabCallsRecord:chkMaxRecCall",
      "Answer\\TabCallsRecord:chkRecPreScreen",
      "Answer\\TabCallsRecord:cmbMaxRecCall",
      "Answer\\TabDisconnectMode:chkDropOnDisconnect",
      "Answer\\TabDisconnectMode:chkDropIfSilnce",
      "Answer\\TabDisconnectMode:txtSilenceSec",
      "Answer\\TabDisconnectMode:cSliderSilence",
      "Answer\\TabDisconnectMode:chkDropOnDisconnectRec",
      "Answer\\TabDisconnectMode:chkDropIfSilnceRec",
      "Answer\\TabDisconnectMode:txtSilenceSecRec",
      "Answer\\TabDisconnectMode:cSliderSilenceRec",
      "Answer\\TabDisconnectMode:txtListRecMoreThen",
      "Answer\\TabDisconnectMode:chkCutTheSilense",
      "Answer\\TabDisconnectMode:chkRecCutTheSilense",
      "Answer\\TabDisconnectMode:chkDropIfDigit",
      "Answer\\TabDisconnectMode:txtDropIfDigit",
      "Events\\TabInCommingCall:chkWhenCallerID",
      "Events\\TabInCommingCall:chkViewLineControl_IC",
      "Events\\TabInCommingCall:cmbCallDisplayStyleIncomming",
      "Events\\TabInCommingCall:chkICViewCD",
      "Events\\TabInCommingCall:chkPlayInCall",
      "Events\\TabInCommingCall:CmbPlayWhenCall",
      "Events\\TabInCommingCall:chkSayInCommingCall",
      "Events\\TabInCommingCall:IC_txtTTS",
      "Events\\TabDisconnectCall:chkDCViewCD",
      "Events\\TabDisconnectCall:chkPlayInDis",
      "Events\\TabDisconnectCall:CmbPlayWhenDis",
      "Events\\TabDisconnectCall:chkSayInDisCall",
      "Events\\TabDisconnectCall:DC_txtTTS",
      "Events\\TabDisconnectCall:chkOnlyIfGotMessage",
      "Forward\\Mail:chkSendToMail",
      "Forward\\Mail:cmbActMail",
      "Forward\\Mail:txtMailTo",
      "MailForward\\Details:txtFromMail",
      "MailForward\\Details:txtSubject",
      "MailForward\\Details:txtMessage",
      "MailForward\\SMTP:txtSMTP",
      "MailForward\\SMTP:txtSMTPUserName",
      "MailForward\\SMTP:txtSMTPPass",
      "MailForward\\SMTP:MAPI",
      "Forward\\App:chkApp",
      "Forward\\App:cmbActApp",
      "Forward\\App:txtAppTo",
      "Forward\\App:chkBGAPP",
      "Properties\\TabGeneral:txtlNumOfItemsInLast",
      "Properties\\TabGeneral:chkListMessagesOnly",
  };
  EXPECT_EQ(reads_, expected);
  EXPECT_EQ(reg_.Subkey(), "Properties\\TabGeneral");
}

TEST_F(CallOptionsTest, SpeechSettingsSkipWhatCannotBeAppliedSilently) {
  // given a voice that is no number and a rate beyond 16 bits, expect those
  // steps skipped without a journal line; a refusing engine skips one step
  std::vector<std::string> applied;
  hooks_.SetLineVoice = [&](int32_t v) {
    applied.push_back("line voice " + std::to_string(v));
    throw std::runtime_error("no such voice");
  };
  hooks_.SetLineRate = [&](int16_t v) {
    applied.push_back("line rate " + std::to_string(v));
  };
  hooks_.TTSSetVoice = [&](int32_t v) {
    applied.push_back("voice " + std::to_string(v));
  };
  hooks_.SetRate = [&](int16_t v) {
    applied.push_back("rate " + std::to_string(v));
  };
  Put("Properties\\TabTTS", "TTSVoices", "1");
  Put("Properties\\TabTTS", "sldrTTS", "40000");
  LoadTTSOptions(reg_, hooks_);
  EXPECT_EQ(applied, (std::vector<std::string>{"line voice 1", "voice 1"}));

  applied.clear();
  Put("Properties\\TabTTS", "TTSVoices", "Default");
  Put("Properties\\TabTTS", "sldrTTS", "10");
  LoadTTSOptions(reg_, hooks_);
  EXPECT_EQ(applied, (std::vector<std::string>{"line rate 10", "rate 10"}));

  // Missing values apply voice 0 and rate 0; unset hooks are skipped.
  applied.clear();
  Remove("Properties\\TabTTS", "TTSVoices");
  Remove("Properties\\TabTTS", "sldrTTS");
  hooks_.SetRate = nullptr;
  GetOptions(reg_, journal_, options_, hooks_);
  EXPECT_EQ(applied, (std::vector<std::string>{"line voice 0", "line rate 0",
                                               "voice 0"}));
  EXPECT_TRUE(JournalEntries().empty());
}

TEST_F(CallOptionsTest, FailingPerCallResetIsJournalledAndTheReadingGoesOn) {
  // given a per-call reset that fails, expect a journal line and the
  // options read all the same
  hooks_.ResetPerCallState = [] { throw std::runtime_error("boom"); };
  Put("Forward\\Mail", "txtMailTo", "owner@example.org");
  Load();
  EXPECT_EQ(options_.sMailTo, "owner@example.org");
  EXPECT_EQ(JournalEntries(), (std::vector<std::string>{
                                  "ErrSetDefaultCallOption->Internal error(51)",
                              }));
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

TEST_F(CallOptionsTest, ContactOverlayCarriesEveryContactOption) {
  // given distinct values in every option a contact can change, expect them
  // through the overlay and back, and nothing else touched
  CallOptions o = Fresh();
  o.ContactBlock = true;
  o.ContactIgnore = true;
  o.bDetectPickUP = true;
  o.bRunAnsIfNotAnswered = true;
  o.sGreetsMessage = "g.wav";
  o.bRecordMessage = true;
  o.nNumOfRing = 3;
  o.bViewLineControl_IC = true;
  o.nCallDisplayStyle_IC = 4;
  o.bViewCD_IC = true;
  o.bPlaySound_IC = true;
  o.sPlaySound_IC = "ring.wav";
  o.bSay_IC = true;
  o.sSay_IC = "<Name>";
  o.bSendToMail = true;
  o.nActMail = 5;
  o.sMailTo = "m";
  o.bApp = true;
  o.nActApp = 6;
  o.sAppTo = "a";
  const ContactOverlay overlay = ToContactOverlay(o);
  EXPECT_NE(overlay, ContactOverlay{});

  CallOptions target;
  target.bMAPI = true;
  target.sSMTP = "kept";
  ApplyContactOverlay(overlay, target);
  EXPECT_EQ(ToContactOverlay(target), overlay);
  CallOptions expected = o;
  expected.bMAPI = true;
  expected.sSMTP = "kept";
  expected.sMessagesPath.clear();
  EXPECT_EQ(target, expected);
}

TEST_F(CallOptionsTest, TextReaderReadsAnySectionAsText) {
  // given values of the incoming-call section, expect them as text
  PutDword("Events\\TabInCommingCall", "cmbCallDisplayStyleIncomming", 2);
  Put("Events\\TabInCommingCall", "IC_txtTTS", "Call from <Name>");
  const RegistryTextReader read = MakeRegistryTextReader(reg_);
  EXPECT_EQ(read("Events\\TabInCommingCall", "cmbCallDisplayStyleIncomming"),
            "2");
  EXPECT_EQ(read("Events\\TabInCommingCall", "IC_txtTTS"), "Call from <Name>");
  EXPECT_EQ(read("Events\\TabInCommingCall", "missing"), "");
}

}  // namespace
}  // namespace lw
