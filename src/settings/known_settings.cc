#include "settings/known_settings.h"

#include <algorithm>
#include <array>
#include <limits>

#include "base/text.h"
#include "settings/call_options.h"

namespace lw {
namespace {

using K = SettingKind;

constexpr const char* kAnswer = "Answer\\TabAnsweringMachine";
constexpr const char* kRecord = "Answer\\TabCallsRecord";
constexpr const char* kDisconnect = "Answer\\TabDisconnectMode";
constexpr const char* kIncoming = "Events\\TabInCommingCall";
constexpr const char* kHangUp = "Events\\TabDisconnectCall";
constexpr const char* kGeneral = "Properties\\TabGeneral";
constexpr const char* kDevices = "Properties\\TabDevices";
constexpr const char* kCallerId = "Properties\\TabDevices\\CallerID";
constexpr const char* kSip = "Properties\\TabDevices\\SipLine";
constexpr const char* kPhone = "RemoteAccess\\TabPhoneAccess";
constexpr const char* kWeb = "RemoteAccess\\TabInternetAccess";
constexpr const char* kDigits = "Access\\Phone\\Digits";

constexpr KnownSetting kTable[] = {
    {"", "bRun", K::kSwitch},
    {"Language", "Select", K::kText},
    {kGeneral, "ChkRunAsProc", K::kFlag},
    {kGeneral, "chkModemSoundControl", K::kFlag},
    {kGeneral, "chkDoEventsWhenGUI", K::kSwitch},
    {kGeneral, "txtlNumOfItemsInLast", K::kInt32},
    {kGeneral, "chkListMessagesOnly", K::kSwitch},
    {"Properties\\TabLog", "chkLogSys", K::kInt16},
    {"Properties\\TabLog", "chkLogWWW", K::kInt16},
    {"Properties\\TabLineStat", "cmbLineStat", K::kText},
    {"Properties\\TabLineStat", "txtTimeOn", K::kText},
    {"Properties\\TabLineStat", "txtTimeOff", K::kText},
    {kDevices, "cmbSoundDev", K::kText},
    {kDevices, "cmbModemDev", K::kText},
    {kCallerId, "Tapi", K::kFlag},
    {kCallerId, "cmbATCommands", K::kText},
    {"Properties\\TabDevices\\VoiceModem", "txtModemPorts", K::kText},
    {kSip, "txtSipAddress", K::kText},
    {kSip, "txtSipAuthUser", K::kText},
    {kSip, "txtSipPassword", K::kText},
    {kSip, "txtSipRegistrar", K::kText},
    {kSip, "txtSipOutboundProxy", K::kText},
    {kSip, "txtSipListen", K::kText},
    {kSip, "chkSipRegister", K::kFlag},
    {kSip, "txtSipRingSeconds", K::kInt32},
    {"Properties\\TabTTS", "TTSVoices", K::kInt32},
    {"Properties\\TabTTS", "sldrTTS", K::kInt16},
    {kAnswer, "chkRunAnsIfNotAnswered", K::kSwitch},
    {kAnswer, "txtNumOfRing", K::kInt16},
    {kAnswer, "CmbGreetsMessages", K::kText},
    {kAnswer, "cmdRecordMessage", K::kSwitch},
    {kAnswer, "chkMaxRec", K::kSwitch},
    {kAnswer, "cmbAnsweringFormatRec", K::kInt16},
    {kAnswer, "chkPreScreen", K::kSwitch},
    {kAnswer, "txtMassagesPath", K::kText},
    {kAnswer, "txtRecLong", K::kReal},
    {"Answer\\TabScreening", "chkScreenUnknown", K::kSwitch},
    {"Answer\\TabScreening", "txtScreenPrompt", K::kText},
    {"Answer\\TabScreening", "cmbScreenDigit", K::kText},
    {"Answer\\TabScreening", "txtScreenSeconds", K::kInt32},
    {kRecord, "chkDetectPickUp", K::kSwitch},
    {kRecord, "cmbRecWhen", K::kInt16},
    {kRecord, "lblNumOfCallToRec", K::kInt32},
    {kRecord, "chkLegalRecMSG", K::kSwitch},
    {kRecord, "cmbLegalRecMSG", K::kText},
    {kRecord, "cmbRecordFormatRec", K::kInt16},
    {kRecord, "chkMaxRecCall", K::kSwitch},
    {kRecord, "chkRecPreScreen", K::kSwitch},
    {kRecord, "cmbMaxRecCall", K::kReal},
    {kDisconnect, "chkDropOnDisconnect", K::kSwitch},
    {kDisconnect, "chkDropIfSilnce", K::kSwitch},
    {kDisconnect, "txtSilenceSec", K::kInt32},
    {kDisconnect, "cSliderSilence", K::kInt16},
    {kDisconnect, "chkDropOnDisconnectRec", K::kSwitch},
    {kDisconnect, "chkDropIfSilnceRec", K::kSwitch},
    {kDisconnect, "txtSilenceSecRec", K::kInt32},
    {kDisconnect, "cSliderSilenceRec", K::kInt16},
    {kDisconnect, "txtListRecMoreThen", K::kInt32},
    {kDisconnect, "chkCutTheSilense", K::kSwitch},
    {kDisconnect, "chkRecCutTheSilense", K::kSwitch},
    {kDisconnect, "chkDropIfDigit", K::kSwitch},
    {kDisconnect, "txtDropIfDigit", K::kText},
    {kIncoming, "chkWhenCallerID", K::kSwitch},
    {kIncoming, "chkViewLineControl_IC", K::kSwitch},
    {kIncoming, "cmbCallDisplayStyleIncomming", K::kInt16},
    {kIncoming, "chkICViewCD", K::kSwitch},
    {kIncoming, "chkPlayInCall", K::kSwitch},
    {kIncoming, "CmbPlayWhenCall", K::kText},
    {kIncoming, "chkSayInCommingCall", K::kSwitch},
    {kIncoming, "IC_txtTTS", K::kText},
    {kHangUp, "chkDCViewCD", K::kSwitch},
    {kHangUp, "chkPlayInDis", K::kSwitch},
    {kHangUp, "CmbPlayWhenDis", K::kText},
    {kHangUp, "chkSayInDisCall", K::kSwitch},
    {kHangUp, "DC_txtTTS", K::kText},
    {kHangUp, "chkOnlyIfGotMessage", K::kSwitch},
    {"Forward\\Mail", "chkSendToMail", K::kSwitch},
    {"Forward\\Mail", "cmbActMail", K::kInt16},
    {"Forward\\Mail", "txtMailTo", K::kText},
    {"MailForward\\Details", "txtFromMail", K::kText},
    {"MailForward\\Details", "txtSubject", K::kText},
    {"MailForward\\Details", "txtMessage", K::kText},
    {"MailForward\\SMTP", "txtSMTP", K::kText},
    {"MailForward\\SMTP", "txtSMTPUserName", K::kText},
    {"MailForward\\SMTP", "txtSMTPPass", K::kText},
    {"MailForward\\SMTP", "MAPI", K::kFlag},
    {"Forward\\Outbox", "txtOutboxRetrySeconds", K::kText},
    {"Forward\\App", "chkApp", K::kSwitch},
    {"Forward\\App", "cmbActApp", K::kInt16},
    {"Forward\\App", "txtAppTo", K::kText},
    {"Forward\\App", "chkBGAPP", K::kSwitch},
    {"Forward\\Webhook", "chkWebhook", K::kSwitch},
    {"Forward\\Webhook", "cmbActWebhook", K::kInt16},
    {"Forward\\Webhook", "txtWebhookURL", K::kText},
    {"Forward\\Webhook", "txtWebhookHeaders", K::kText},
    {kPhone, "txtDigitsToEnter", K::kText},
    {kPhone, "cmbConfirmDigit", K::kText},
    {kPhone, "chkAllowRemoteAccess", K::kSwitch},
    {kPhone, "chkAllowCallerNameNumAccess", K::kSwitch},
    {kPhone, "txtAccessCallerName", K::kText},
    {kPhone, "txtAccessCallerNumber", K::kText},
    {"Access\\Phone\\Messages", "txtRCTTSWllcome", K::kText},
    {"Access\\Phone\\Messages", "txtRCTTSBefore", K::kText},
    {"Access\\Phone\\Messages", "txtRCTTSAfter", K::kText},
    {kDigits, "cmbFirstMessageDigit", K::kText},
    {kDigits, "cmbNextMessageDigit", K::kText},
    {kDigits, "cmbPrevMessageDigit", K::kText},
    {kDigits, "cmbCloseRCDigit", K::kText},
    {kDigits, "cmbPlayMessageDigit", K::kText},
    {kDigits, "cmbDelRCDigit", K::kText},
    {kWeb, "chkAllowWWWRemoteAccess", K::kInt32},
    {kWeb, "txtWWWPort", K::kInt32},
    {kWeb, "chkWWWProtect", K::kInt32},
    {kWeb, "txtWWWUserName", K::kText},
    {kWeb, "txtWWWPass", K::kText},
    {kWeb, "chkWWWHttpHeaders", K::kSwitch},
    {kWeb, "txtWWWListen", K::kText},
    {kWeb, "txtWWWRequestSeconds", K::kInt32},
};

// Edit distance without regard to case.
size_t Distance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::span<const KnownSetting> KnownSettings() { return kTable; }

const KnownSetting* FindKnownSetting(std::string_view section,
                                     std::string_view name) {
  for (const KnownSetting& s : kTable)
    if (EqualsNoCase(s.section, section) && EqualsNoCase(s.name, name))
      return &s;
  return nullptr;
}

bool IsKnownSection(std::string_view section) {
  return std::any_of(
      std::begin(kTable), std::end(kTable),
      [&](const KnownSetting& s) { return EqualsNoCase(s.section, section); });
}

std::vector<std::string> NearestSettingNames(std::string_view section,
                                             std::string_view name,
                                             size_t count) {
  const bool known = IsKnownSection(section);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const KnownSetting& s : kTable) {
    const std::string candidate = known ? s.name : s.section;
    if (known && !EqualsNoCase(s.section, section)) continue;
    if (std::any_of(ranked.begin(), ranked.end(),
                    [&](const auto& r) { return r.second == candidate; }))
      continue;
    ranked.emplace_back(Distance(known ? name : section, candidate), candidate);
  }
  std::stable_sort(
      ranked.begin(), ranked.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  // The nearest only: those at the smallest distance.
  std::vector<std::string> nearest;
  for (size_t i = 0; i < ranked.size() && i < count; ++i) {
    if (ranked[i].first != ranked[0].first) break;
    nearest.push_back(ranked[i].second);
  }
  return nearest;
}

std::string SettingValueProblem(SettingKind kind, const std::string& text) {
  const RegValue value = text;
  switch (kind) {
    case K::kText:
      return "";
    case K::kFlag:
      return text == "0" || text == "1" ? "" : "\"1\" (on) or \"0\" (off)";
    case K::kSwitch: {
      bool on = false;
      return OptionToBoolean(value, on) == 0
                 ? ""
                 : "\"1\" (on), \"0\" (off), \"True\" or \"False\"";
    }
    case K::kInt16: {
      int16_t n = 0;
      return OptionToInt16(value, n) == 0
                 ? ""
                 : "a whole number from -32768 to 32767";
    }
    case K::kInt32: {
      int32_t n = 0;
      return OptionToInt32(value, n) == 0
                 ? ""
                 : "a whole number from -2147483648 to 2147483647";
    }
    case K::kReal: {
      double n = 0;
      return OptionToDouble(value, n) == 0 ? "" : "a number such as 2 or 1.5";
    }
  }
  return "";
}

}  // namespace lw
