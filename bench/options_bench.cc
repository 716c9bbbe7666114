// The line options reloaded as after every call: LoadCallOptions over a
// settings store file that holds the whole catalogue (every value present,
// so every read finds its row). Goal: under a millisecond per reload.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "journal/journal.h"
#include "settings/call_options.h"
#include "temp_dir.h"

namespace {

struct Value {
  const char* section;
  const char* name;
  const char* text;
};

// Every value of the line options, with the kind of text the desktop
// application writes.
const Value kCatalogue[] = {
    {"RemoteAccess\\TabPhoneAccess", "txtDigitsToEnter", "4711"},
    {"RemoteAccess\\TabPhoneAccess", "cmbConfirmDigit", "#"},
    {"RemoteAccess\\TabPhoneAccess", "chkAllowRemoteAccess", "1"},
    {"RemoteAccess\\TabPhoneAccess", "chkAllowCallerNameNumAccess", "0"},
    {"RemoteAccess\\TabPhoneAccess", "txtAccessCallerName", "Owner"},
    {"RemoteAccess\\TabPhoneAccess", "txtAccessCallerNumber", "5550100"},
    {"Access\\Phone\\Messages", "txtRCTTSWllcome", "Welcome. <Count> calls."},
    {"Access\\Phone\\Messages", "txtRCTTSBefore", "Call from <Name>"},
    {"Access\\Phone\\Messages", "txtRCTTSAfter", "End of message"},
    {"Access\\Phone\\Digits", "cmbFirstMessageDigit", "1"},
    {"Access\\Phone\\Digits", "cmbNextMessageDigit", "6"},
    {"Access\\Phone\\Digits", "cmbPrevMessageDigit", "4"},
    {"Access\\Phone\\Digits", "cmbCloseRCDigit", "0"},
    {"Access\\Phone\\Digits", "cmbPlayMessageDigit", "5"},
    {"Access\\Phone\\Digits", "cmbDelRCDigit", "7"},
    {"Properties\\TabTTS", "TTSVoices", "0"},
    {"Properties\\TabTTS", "sldrTTS", "0"},
    {"", "bRun", "1"},
    {"Properties\\TabGeneral", "chkDoEventsWhenGUI", "0"},
    {"Properties\\TabGeneral", "txtlNumOfItemsInLast", "100"},
    {"Properties\\TabGeneral", "chkListMessagesOnly", "0"},
    {"Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "1"},
    {"Answer\\TabAnsweringMachine", "txtNumOfRing", "4"},
    {"Answer\\TabAnsweringMachine", "CmbGreetsMessages", "Default"},
    {"Answer\\TabAnsweringMachine", "cmdRecordMessage", "1"},
    {"Answer\\TabAnsweringMachine", "chkMaxRec", "1"},
    {"Answer\\TabAnsweringMachine", "cmbAnsweringFormatRec", "2"},
    {"Answer\\TabAnsweringMachine", "chkPreScreen", "0"},
    {"Answer\\TabAnsweringMachine", "txtMassagesPath", ""},
    {"Answer\\TabAnsweringMachine", "txtRecLong", "2"},
    {"Answer\\TabCallsRecord", "chkDetectPickUp", "1"},
    {"Answer\\TabCallsRecord", "cmbRecWhen", "0"},
    {"Answer\\TabCallsRecord", "lblNumOfCallToRec", "3"},
    {"Answer\\TabCallsRecord", "chkLegalRecMSG", "0"},
    {"Answer\\TabCallsRecord", "cmbLegalRecMSG", "Notice.wav"},
    {"Answer\\TabCallsRecord", "cmbRecordFormatRec", "1"},
    {"Answer\\TabCallsRecord", "chkMaxRecCall", "1"},
    {"Answer\\TabCallsRecord", "chkRecPreScreen", "0"},
    {"Answer\\TabCallsRecord", "cmbMaxRecCall", "30"},
    {"Answer\\TabDisconnectMode", "chkDropOnDisconnect", "1"},
    {"Answer\\TabDisconnectMode", "chkDropIfSilnce", "1"},
    {"Answer\\TabDisconnectMode", "txtSilenceSec", "10"},
    {"Answer\\TabDisconnectMode", "cSliderSilence", "12"},
    {"Answer\\TabDisconnectMode", "chkDropOnDisconnectRec", "1"},
    {"Answer\\TabDisconnectMode", "chkDropIfSilnceRec", "0"},
    {"Answer\\TabDisconnectMode", "txtSilenceSecRec", "20"},
    {"Answer\\TabDisconnectMode", "cSliderSilenceRec", "8"},
    {"Answer\\TabDisconnectMode", "txtListRecMoreThen", "2"},
    {"Answer\\TabDisconnectMode", "chkCutTheSilense", "0"},
    {"Answer\\TabDisconnectMode", "chkRecCutTheSilense", "0"},
    {"Answer\\TabDisconnectMode", "chkDropIfDigit", "1"},
    {"Answer\\TabDisconnectMode", "txtDropIfDigit", "#"},
    {"Events\\TabInCommingCall", "chkWhenCallerID", "1"},
    {"Events\\TabInCommingCall", "chkViewLineControl_IC", "1"},
    {"Events\\TabInCommingCall", "cmbCallDisplayStyleIncomming", "1"},
    {"Events\\TabInCommingCall", "chkICViewCD", "1"},
    {"Events\\TabInCommingCall", "chkPlayInCall", "1"},
    {"Events\\TabInCommingCall", "CmbPlayWhenCall", "Ring.wav"},
    {"Events\\TabInCommingCall", "chkSayInCommingCall", "0"},
    {"Events\\TabInCommingCall", "IC_txtTTS", "Call from <Name> <Number>"},
    {"Events\\TabDisconnectCall", "chkDCViewCD", "1"},
    {"Events\\TabDisconnectCall", "chkPlayInDis", "0"},
    {"Events\\TabDisconnectCall", "CmbPlayWhenDis", "Bye.wav"},
    {"Events\\TabDisconnectCall", "chkSayInDisCall", "0"},
    {"Events\\TabDisconnectCall", "DC_txtTTS", "<Name> left a message"},
    {"Events\\TabDisconnectCall", "chkOnlyIfGotMessage", "1"},
    {"Forward\\Mail", "chkSendToMail", "1"},
    {"Forward\\Mail", "cmbActMail", "1"},
    {"Forward\\Mail", "txtMailTo", "owner@example.org"},
    {"MailForward\\Details", "txtFromMail", "line@example.org"},
    {"MailForward\\Details", "txtSubject", "Call from <Name>"},
    {"MailForward\\Details", "txtMessage", "<Date> <Time> <Number>"},
    {"MailForward\\SMTP", "txtSMTP", "smtp.example.org"},
    {"MailForward\\SMTP", "txtSMTPUserName", "line"},
    {"MailForward\\SMTP", "txtSMTPPass", "secret"},
    {"MailForward\\SMTP", "MAPI", "0"},
    {"Forward\\App", "chkApp", "0"},
    {"Forward\\App", "cmbActApp", "0"},
    {"Forward\\App", "txtAppTo", "notify <Number>"},
    {"Forward\\App", "chkBGAPP", "1"},
};

void BM_LoadCallOptions(benchmark::State& state) {
  lw::testing::TempDir dir;
  std::filesystem::create_directory(dir / "Journal");
  const std::string db = dir / "registry.db";
  {
    lw::SqliteSettingsStore writer(db);
    std::vector<lw::StoreChange> changes;
    for (const Value& v : kCatalogue) {
      lw::StoreChange c;
      c.op = lw::StoreChange::Op::kSetValue;
      c.key = std::string(lw::kKeyRoot) + "\\" + v.section;
      c.name = v.name;
      c.type = lw::REG_SZ;
      c.data = std::string(v.text) + std::string(1, '\0');
      changes.push_back(std::move(c));
    }
    if (writer.Apply(changes) != lw::StoreStatus::kOk) {
      state.SkipWithError("cannot write the catalogue");
      return;
    }
  }
  lw::SqliteSettingsStore store(db);
  lw::RegistryRoutines registry(store);
  lw::FakeClock clock;
  lw::Journal journal(clock, dir.path());
  journal.SetSwitches(true, false);
  lw::LineOptionHooks hooks;
  int32_t voice = 0;
  hooks.SetLineVoice = [&voice](int32_t v) { voice = v; };
  hooks.ResetPerCallState = [] {};
  lw::CallOptions options;
  lw::ProcessWideOptions process;
  for (auto _ : state) {
    lw::LoadCallOptions(registry, journal, options, process, hooks);
    benchmark::DoNotOptimize(options);
    benchmark::DoNotOptimize(process);
  }
  if (!options.detect_pick_up || options.mail_to != "owner@example.org" ||
      process.NumOfItemsInLast != 100)
    state.SkipWithError("the catalogue was not read");
  state.counters["values"] = static_cast<double>(std::size(kCatalogue) + 2);
}
BENCHMARK(BM_LoadCallOptions)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
