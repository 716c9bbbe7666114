// Line commands arrive on channel 108 from any program that can bind it, in
// any state of the line. The input is a script that mixes such commands
// with what the far end does (calls, rings, caller identification, digits,
// hang-ups), the passing of time and the settings the desktop application
// writes, so the commands meet the call state machine in every state.
// Nothing may crash, and whatever happened, the day's data file holds whole
// records only and every line of the latest-call list leads to one of them.
#include <sys/stat.h>

#include <memory>
#include <string_view>

#include "callstore/call_store.h"
#include "drivers/simline/sim_far_end_test_util.h"
#include "fuzz_home.h"
#include "line/line_controller.h"
#include "settings/registry_routines.h"

using lw::fuzz::Check;

namespace {

// Settings that change how a call goes. Forwarding to a program and the
// messages path are left out: the input would choose a program to start or
// a folder outside the home.
// clang-format off
constexpr const char* kSettings[][2] = {
    {"Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered"}, {"Answer\\TabAnsweringMachine", "txtNumOfRing"},
    {"Answer\\TabAnsweringMachine", "cmdRecordMessage"}, {"Answer\\TabAnsweringMachine", "CmbGreetsMessages"},
    {"Answer\\TabAnsweringMachine", "chkMaxRec"}, {"Answer\\TabAnsweringMachine", "txtRecLong"},
    {"Answer\\TabAnsweringMachine", "cmbAnsweringFormatRec"}, {"Answer\\TabCallsRecord", "chkDetectPickUp"},
    {"Answer\\TabCallsRecord", "cmbRecWhen"}, {"Answer\\TabCallsRecord", "lblNumOfCallToRec"},
    {"Answer\\TabCallsRecord", "cmbRecordFormatRec"}, {"Answer\\TabCallsRecord", "chkMaxRecCall"},
    {"Answer\\TabCallsRecord", "cmbMaxRecCall"}, {"Answer\\TabDisconnectMode", "chkDropIfDigit"},
    {"Answer\\TabDisconnectMode", "txtDropIfDigit"}, {"Answer\\TabDisconnectMode", "chkDropIfSilnce"},
    {"Answer\\TabDisconnectMode", "txtSilenceSec"}, {"Answer\\TabDisconnectMode", "txtListRecMoreThen"},
    {"RemoteAccess\\TabPhoneAccess", "chkAllowRemoteAccess"}, {"RemoteAccess\\TabPhoneAccess", "txtDigitsToEnter"},
    {"Events\\TabInCommingCall", "chkWhenCallerID"}, {"Events\\TabInCommingCall", "chkSayInCommingCall"},
    {"Events\\TabInCommingCall", "IC_txtTTS"}, {"Properties\\TabGeneral", "txtlNumOfItemsInLast"},
    {"Properties\\TabGeneral", "chkListMessagesOnly"}, {"Properties\\TabDevices\\CallerID", "Tapi"},
};
// clang-format on

// The first byte of `text` chooses the setting, the rest is its value.
void SetSetting(lw::RegistryRoutines& reg, const std::string& text) {
  const auto& s = kSettings[text.empty() ? 0
                                         : static_cast<uint8_t>(text[0]) %
                                               std::size(kSettings)];
  reg.CreateKey(s[0]);
  reg.SetSubkey(s[0]);
  reg.SetRegistryValue(s[1], text.empty() ? text : text.substr(1), lw::REG_SZ);
}

// The records the latest-call list leads to must all be there, whole.
void CheckStore(const std::string& home, lw::Clock& clock) {
  const std::string day = home + "/Data/Log/2026/12/04/Data";
  struct stat st;
  Check(::stat(day.c_str(), &st) != 0 ||
        st.st_size % static_cast<off_t>(lw::CallRecord::kSize) == 0);
  lw::CallStore store(home, clock);
  std::vector<std::string> lines;
  Check(store.ReadLastCalls(lines));
  for (const std::string& line : lines) {
    int64_t number = 0;
    std::string folder;
    lw::CallRecord record{};
    Check(lw::SplitLastCallLine(line, number, folder) &&
          store.ReadCallRecord(record, folder, number));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lw::fuzz::FuzzProcess p({"Journal", "Greets"});
  lw::FakeDevices& fake = p.fake;
  p.journal.SetSwitches(true, false);
  lw::RegistryRoutines reg(p.store);
  lw::ProcessState process;
  process.AppPath = p.home.path();
  fake.wave_files().Set(p.home.path() + "/Greets/Hello.wav",
                        lw::WaveFileInfo{1, 1, 8000, 3});

  // Steps: an action byte, a length byte, then that many bytes of text.
  std::string_view script(reinterpret_cast<const char*>(data), size);
  struct Step {
    uint8_t action;
    std::string text;
  };
  std::vector<Step> steps;
  while (script.size() >= 2 && steps.size() < 64) {
    const auto action = static_cast<uint8_t>(script[0]);
    const size_t length =
        std::min<size_t>(static_cast<uint8_t>(script[1]), script.size() - 2);
    steps.push_back({action, std::string(script.substr(2, length))});
    script.remove_prefix(2 + length);
  }
  // Settings at the head of the script are there before the line loads.
  size_t first = 0;
  for (; first < steps.size() && steps[first].action % 12 == 11; ++first)
    SetSetting(reg, steps[first].text);

  // No local voice: the announcement texts are the templates' (fuzzed by
  // callstore_fuzz).
  auto line = std::make_unique<lw::LineController>(fake.devices(), p.store,
                                                   p.journal, process, nullptr);
  line->Load();
  line->OpenLine();
  lw::testing::SimFarEnd far(fake.line());
  for (size_t i = first; i < steps.size(); ++i) {
    const std::string& text = steps[i].text;
    switch (steps[i].action % 12) {
      case 0:
      case 1:
        fake.channels().Send(lw::kChannelIn, text);
        break;
      case 2:
        far.Offer();
        break;
      case 3:
        far.Ring();
        break;
      case 4: {
        const size_t half = text.size() / 2;
        far.CallerId(text.substr(0, half), text.substr(half));
        break;
      }
      case 5:
        far.HangUp();
        break;
      case 6:
        far.Digits(text);
        break;
      case 7:
        // Waits for the next outgoing call, answers the one dialled now.
        far.WaitCall();
        far.AnswerCall();
        break;
      case 8:
        far.PickUp();
        break;
      case 9:
        if (lw::FakeWave* wave = fake.wave(0)) wave->FinishPlay();
        break;
      case 10:
        // Up to about 15 minutes, past every limit of a call.
        fake.clock().Advance(
            text.empty() ? 1 : static_cast<uint64_t>(text.size()) * 3600);
        break;
      default:
        SetSetting(reg, text);
        break;
    }
  }
  fake.clock().Advance(1);
  line->Unload();
  line.reset();
  CheckStore(p.home.path(), fake.clock());
  return 0;
}
