// A full option reload as the line controller does after every call: about
// seventy values read through one RegistryRoutines, the section changed
// before each group. Goal: well under a millisecond.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "drivers/sqlite/sqlite_settings_store.h"
#include "settings/registry_routines.h"
#include "temp_dir.h"

namespace {

using Section = std::pair<const char*, std::vector<const char*>>;

const std::vector<Section>& Catalogue() {
  static const std::vector<Section> kSections = {
      {"RemoteAccess\\TabPhoneAccess",
       {"txtDigitsToEnter", "cmbConfirmDigit", "chkAllowRemoteAccess",
        "chkAllowCallerNameNumAccess", "txtAccessCallerName",
        "txtAccessCallerNumber"}},
      {"Access\\Phone\\Messages",
       {"txtRCTTSWllcome", "txtRCTTSBefore", "txtRCTTSAfter"}},
      {"Access\\Phone\\Digits",
       {"cmbFirstMessageDigit", "cmbNextMessageDigit", "cmbPrevMessageDigit",
        "cmbCloseRCDigit", "cmbPlayMessageDigit", "cmbDelRCDigit"}},
      {"Properties\\TabTTS", {"TTSVoices", "sldrTTS"}},
      {"", {"bRun"}},
      {"Properties\\TabGeneral", {"chkDoEventsWhenGUI"}},
      {"Answer\\TabAnsweringMachine",
       {"chkRunAnsIfNotAnswered", "txtNumOfRing", "CmbGreetsMessages",
        "cmdRecordMessage", "chkMaxRec", "cmbAnsweringFormatRec",
        "chkPreScreen", "txtMassagesPath", "txtRecLong"}},
      {"Answer\\TabCallsRecord",
       {"chkDetectPickUp", "cmbRecWhen", "lblNumOfCallToRec", "chkLegalRecMSG",
        "cmbLegalRecMSG", "cmbRecordFormatRec", "chkMaxRecCall",
        "chkRecPreScreen", "cmbMaxRecCall"}},
      {"Answer\\TabDisconnectMode",
       {"chkDropOnDisconnect", "chkDropIfSilnce", "txtSilenceSec",
        "cSliderSilence", "chkDropOnDisconnectRec", "chkDropIfSilnceRec",
        "txtSilenceSecRec", "cSliderSilenceRec", "txtListRecMoreThen",
        "chkCutTheSilense", "chkRecCutTheSilense", "chkDropIfDigit",
        "txtDropIfDigit"}},
      {"Events\\TabInCommingCall",
       {"chkWhenCallerID", "chkViewLineControl_IC",
        "cmbCallDisplayStyleIncomming", "chkICViewCD", "chkPlayInCall",
        "CmbPlayWhenCall", "chkSayInCommingCall", "IC_txtTTS"}},
      {"Events\\TabDisconnectCall",
       {"chkDCViewCD", "chkPlayInDis", "CmbPlayWhenDis", "chkSayInDisCall",
        "DC_txtTTS", "chkOnlyIfGotMessage"}},
      {"Forward\\Mail", {"chkSendToMail", "cmbActMail", "txtMailTo"}},
      {"MailForward\\Details", {"txtFromMail", "txtSubject", "txtMessage"}},
      {"MailForward\\SMTP",
       {"txtSMTP", "txtSMTPUserName", "txtSMTPPass", "MAPI"}},
      {"Forward\\App", {"chkApp", "cmbActApp", "txtAppTo", "chkBGAPP"}},
      {"Properties\\TabGeneral",
       {"txtlNumOfItemsInLast", "chkListMessagesOnly"}},
  };
  return kSections;
}

void BM_FullOptionReload(benchmark::State& state) {
  lw::testing::TempDir dir;
  lw::SqliteSettingsStore store(dir / "registry.db");
  lw::RegistryRoutines reg(store);
  int count = 0;
  for (const auto& [section, names] : Catalogue()) {
    reg.SetSubkey(section);
    reg.CreateKey();
    for (const char* name : names) {
      // Most values are present; every seventh is missing, as on a
      // machine where the user never saved that page.
      if (++count % 7 == 0) continue;
      reg.SetRegistryValue(name, std::string("value of ") + name, lw::REG_SZ);
    }
  }
  int values = 0;
  for (auto _ : state) {
    values = 0;
    for (const auto& [section, names] : Catalogue()) {
      reg.SetSubkey(section);
      for (const char* name : names) {
        lw::RegValue v = reg.GetRegistryValue(name);
        benchmark::DoNotOptimize(v);
        ++values;
      }
    }
  }
  state.counters["values"] = values;
}
BENCHMARK(BM_FullOptionReload)->Unit(benchmark::kMicrosecond);

// One value on its own, for scale.
void BM_GetRegistryValue(benchmark::State& state) {
  lw::testing::TempDir dir;
  lw::SqliteSettingsStore store(dir / "registry.db");
  lw::RegistryRoutines reg(store);
  reg.SetSubkey("Answer\\TabAnsweringMachine");
  reg.CreateKey();
  reg.SetRegistryValue("txtNumOfRing", std::string("3"), lw::REG_SZ);
  for (auto _ : state) {
    lw::RegValue v = reg.GetRegistryValue("txtNumOfRing");
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_GetRegistryValue);

}  // namespace

BENCHMARK_MAIN();
