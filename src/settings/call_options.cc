#include "settings/call_options.h"

#include <strings.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>

#include "base/text.h"

namespace lw {
namespace {

constexpr char kTagGetOptions[] = "ErrGetOptions";
constexpr char kTagLoadCallOptions[] = "ErrSetDefaultCallOption";

constexpr int32_t kErrOutOfMemory = 7;
constexpr int32_t kErrInternal = 51;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Text as a decimal number: blanks, an optional sign, digits with an optional
// fraction (at least one digit in all), an optional exponent, blanks.
int32_t ParseNumberText(std::string_view text, double& out) {
  text = Trim(text);
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  // Where the first significant digit stands relative to the decimal point
  // (for telling overflow from underflow when the value is out of range).
  int64_t magnitude = 0;
  bool significant = false;
  size_t digits = 0;
  for (; i < n && IsDigit(text[i]); ++i, ++digits) {
    if (text[i] != '0') significant = true;
    if (significant) ++magnitude;
  }
  if (i < n && text[i] == '.') {
    for (++i; i < n && IsDigit(text[i]); ++i, ++digits) {
      if (significant) continue;
      if (text[i] != '0')
        significant = true;
      else
        --magnitude;
    }
  }
  if (digits == 0) return kErrTypeMismatch;
  int64_t exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
      negative = text[i++] == '-';
    size_t exponent_digits = 0;
    for (; i < n && IsDigit(text[i]); ++i, ++exponent_digits) {
      if (exponent < 1'000'000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (exponent_digits == 0) return kErrTypeMismatch;
    if (negative) exponent = -exponent;
  }
  if (i != n) return kErrTypeMismatch;

  // from_chars takes a minus sign but no plus sign.
  const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
  double value = 0;
  auto [ptr, ec] = std::from_chars(begin, text.data() + n, value);
  if (ec == std::errc::result_out_of_range) {
    if (significant && magnitude + exponent > 0) return kErrOverflow;
    value = 0;  // too small to hold: zero
  } else if (ec != std::errc() || ptr != text.data() + n) {
    return kErrTypeMismatch;
  }
  out = value;
  return 0;
}

template <typename Int>
int32_t RoundToInt(double value, Int& out) {
  // Halves go to the even neighbour (the default rounding mode).
  const double rounded = std::nearbyint(value);
  if (!(rounded >= static_cast<double>(std::numeric_limits<Int>::min()) &&
        rounded <= static_cast<double>(std::numeric_limits<Int>::max())))
    return kErrOverflow;
  out = static_cast<Int>(rounded);
  return 0;
}

template <typename Int>
int32_t ToInteger(const RegValue& value, Int& out) {
  if (IsEmpty(value)) {
    out = 0;
    return 0;
  }
  if (const int32_t* number = std::get_if<int32_t>(&value))
    return RoundToInt(static_cast<double>(*number), out);
  const std::string* text = std::get_if<std::string>(&value);
  if (text == nullptr) return kErrTypeMismatch;
  double parsed = 0;
  if (int32_t err = ParseNumberText(*text, parsed)) return err;
  return RoundToInt(parsed, out);
}

void JournalException(Journal& journal, const char* tag) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    journal.LogSys("Out of memory", kErrOutOfMemory, tag);
  } catch (...) {
    journal.LogSys("Internal error", kErrInternal, tag);
  }
}

// Reads values of the current section with the conversions of their kinds;
// a failed conversion is journalled under `tag_` and the field left alone.
class OptionReader {
 public:
  OptionReader(RegistryRoutines& registry, Journal& journal, const char* tag)
      : registry_(registry), journal_(journal), tag_(tag) {}

  void Section(const char* section) { registry_.SetSubkey(section); }

  void Boolean(const char* name, bool& field) {
    Check(OptionToBoolean(Get(name), field));
  }
  void Int16(const char* name, int16_t& field) {
    Check(OptionToInt16(Get(name), field));
  }
  void Int32(const char* name, int32_t& field) {
    Check(OptionToInt32(Get(name), field));
  }
  void Real(const char* name, double& field) {
    Check(OptionToDouble(Get(name), field));
  }
  std::string Text(const char* name) { return OptionToText(Get(name)); }
  void Text(const char* name, std::string& field) { field = Text(name); }

 private:
  RegValue Get(const char* name) { return registry_.GetRegistryValue(name); }
  void Check(int32_t err) {
    if (err != 0) journal_.LogSys(ConversionErrorText(err), err, tag_);
  }

  RegistryRoutines& registry_;
  Journal& journal_;
  const char* tag_;
};

// Sets every field that LoadCallOptions fills to False, 0 or the empty text;
// the fields of GetOptions keep their values.
void ResetLoadedFields(CallOptions& o) {
  CallOptions fresh;
  fresh.sDigitsToEnter = std::move(o.sDigitsToEnter);
  fresh.sConfirmDigit = std::move(o.sConfirmDigit);
  fresh.bAllowRemoteAccess = o.bAllowRemoteAccess;
  fresh.bAllowCallerNameNumAccess = o.bAllowCallerNameNumAccess;
  fresh.sAccessCallerName = std::move(o.sAccessCallerName);
  fresh.sAccessCallerNumber = std::move(o.sAccessCallerNumber);
  fresh.RCMSGWellcome = std::move(o.RCMSGWellcome);
  fresh.RCMSGBeforeCall = std::move(o.RCMSGBeforeCall);
  fresh.RCMSGAfterCall = std::move(o.RCMSGAfterCall);
  fresh.RCFirstDigit = std::move(o.RCFirstDigit);
  fresh.RCNextDigit = std::move(o.RCNextDigit);
  fresh.RCPrevDigit = std::move(o.RCPrevDigit);
  fresh.RCCloseRC = std::move(o.RCCloseRC);
  fresh.RCPlay = std::move(o.RCPlay);
  fresh.RCDelete = std::move(o.RCDelete);
  o = std::move(fresh);
}

}  // namespace

const char* ConversionErrorText(int32_t number) {
  switch (number) {
    case kErrOverflow:
      return "Overflow";
    case kErrTypeMismatch:
      return "Type mismatch";
    default:
      return "Internal error";
  }
}

int32_t OptionToBoolean(const RegValue& value, bool& out) {
  if (IsEmpty(value)) {
    out = false;
    return 0;
  }
  if (const int32_t* number = std::get_if<int32_t>(&value)) {
    out = *number != 0;
    return 0;
  }
  const std::string* text = std::get_if<std::string>(&value);
  if (text == nullptr) return kErrTypeMismatch;
  const std::string_view trimmed = Trim(*text);
  if (trimmed.size() == 4 && strncasecmp(trimmed.data(), "true", 4) == 0) {
    out = true;
    return 0;
  }
  if (trimmed.size() == 5 && strncasecmp(trimmed.data(), "false", 5) == 0) {
    out = false;
    return 0;
  }
  double parsed = 0;
  if (int32_t err = ParseNumberText(trimmed, parsed)) return err;
  out = parsed != 0;
  return 0;
}

int32_t OptionToInt16(const RegValue& value, int16_t& out) {
  return ToInteger(value, out);
}

int32_t OptionToInt32(const RegValue& value, int32_t& out) {
  return ToInteger(value, out);
}

int32_t OptionToDouble(const RegValue& value, double& out) {
  if (IsEmpty(value)) {
    out = 0;
    return 0;
  }
  if (const int32_t* number = std::get_if<int32_t>(&value)) {
    out = *number;
    return 0;
  }
  const std::string* text = std::get_if<std::string>(&value);
  if (text == nullptr) return kErrTypeMismatch;
  return ParseNumberText(*text, out);
}

std::string OptionToText(const RegValue& value) { return RegValueText(value); }

void GetOptions(RegistryRoutines& registry, Journal& journal, CallOptions& o,
                const LineOptionHooks& hooks) noexcept {
  try {
    OptionReader r(registry, journal, kTagGetOptions);
    r.Section("RemoteAccess\\TabPhoneAccess");
    r.Text("txtDigitsToEnter", o.sDigitsToEnter);
    r.Text("cmbConfirmDigit", o.sConfirmDigit);
    r.Boolean("chkAllowRemoteAccess", o.bAllowRemoteAccess);
    r.Boolean("chkAllowCallerNameNumAccess", o.bAllowCallerNameNumAccess);
    r.Text("txtAccessCallerName", o.sAccessCallerName);
    r.Text("txtAccessCallerNumber", o.sAccessCallerNumber);

    r.Section("Access\\Phone\\Messages");
    r.Text("txtRCTTSWllcome", o.RCMSGWellcome);
    r.Text("txtRCTTSBefore", o.RCMSGBeforeCall);
    r.Text("txtRCTTSAfter", o.RCMSGAfterCall);

    r.Section("Access\\Phone\\Digits");
    r.Text("cmbFirstMessageDigit", o.RCFirstDigit);
    r.Text("cmbNextMessageDigit", o.RCNextDigit);
    r.Text("cmbPrevMessageDigit", o.RCPrevDigit);
    r.Text("cmbCloseRCDigit", o.RCCloseRC);
    r.Text("cmbPlayMessageDigit", o.RCPlay);
    r.Text("cmbDelRCDigit", o.RCDelete);
  } catch (...) {
    JournalException(journal, kTagGetOptions);
  }
  LoadTTSOptions(registry, hooks);
}

void LoadTTSOptions(RegistryRoutines& registry,
                    const LineOptionHooks& hooks) noexcept {
  // Each step reads its value itself; a value that cannot be converted, or a
  // voice or rate the speech engine refuses, skips only that step.
  auto step = [&registry](const char* name, const auto& apply) {
    try {
      int32_t value = 0;
      if (OptionToInt32(registry.GetRegistryValue(name), value) != 0) return;
      apply(value);
    } catch (...) {
    }
  };
  auto voice = [](const std::function<void(int32_t)>& set) {
    return [&set](int32_t value) {
      if (set) set(value);
    };
  };
  auto rate = [](const std::function<void(int16_t)>& set) {
    return [&set](int32_t value) {
      int16_t narrow = 0;
      if (RoundToInt(static_cast<double>(value), narrow) != 0) return;
      if (set) set(narrow);
    };
  };
  try {
    registry.SetSubkey("Properties\\TabTTS");
  } catch (...) {
    return;
  }
  step("TTSVoices", voice(hooks.SetLineVoice));
  step("sldrTTS", rate(hooks.SetLineRate));
  step("TTSVoices", voice(hooks.TTSSetVoice));
  step("sldrTTS", rate(hooks.SetRate));
}

void LoadCallOptions(RegistryRoutines& registry, Journal& journal,
                     CallOptions& o, ProcessWideOptions& process,
                     const LineOptionHooks& hooks) noexcept {
  GetOptions(registry, journal, o, hooks);
  if (hooks.ResetPerCallState) {
    try {
      hooks.ResetPerCallState();
    } catch (...) {
      JournalException(journal, kTagLoadCallOptions);
    }
  }
  try {
    ResetLoadedFields(o);
    // The process-wide values it fills are reset with the record's fields.
    process.GUIRunning = false;
    process.DoEventsWhenGUI = false;
    process.NumOfItemsInLast = 0;
    OptionReader r(registry, journal, kTagLoadCallOptions);

    r.Section("");
    r.Boolean("bRun", process.GUIRunning);

    r.Section("Properties\\TabGeneral");
    r.Boolean("chkDoEventsWhenGUI", process.DoEventsWhenGUI);

    r.Section("Answer\\TabAnsweringMachine");
    r.Boolean("chkRunAnsIfNotAnswered", o.bRunAnsIfNotAnswered);
    r.Int16("txtNumOfRing", o.nNumOfRing);
    o.sGreetsMessage = r.Text("CmbGreetsMessages") + ".wav";
    r.Boolean("cmdRecordMessage", o.bRecordMessage);
    r.Boolean("chkMaxRec", o.limit_message_length);
    r.Int16("cmbAnsweringFormatRec", o.nAnsweringFormatRec);
    r.Boolean("chkPreScreen", o.bPreScreen);
    o.sMessagesPath = r.Text("txtMassagesPath") + "\\Data\\Log";
    r.Real("txtRecLong", o.dRecLong);

    r.Section("Answer\\TabCallsRecord");
    r.Boolean("chkDetectPickUp", o.bDetectPickUP);
    r.Int16("cmbRecWhen", o.nRecWhen);
    r.Int32("lblNumOfCallToRec", o.lNumOfCallToRec);
    r.Boolean("chkLegalRecMSG", o.bLegalRecMSG);
    r.Text("cmbLegalRecMSG", o.sLegalRecMSG);
    r.Int16("cmbRecordFormatRec", o.nRecordFormatRec);
    r.Boolean("chkMaxRecCall", o.bMaxRecCall);
    r.Boolean("chkRecPreScreen", o.bRecPreScreen);
    r.Real("cmbMaxRecCall", o.dMaxRecCall);

    r.Section("Answer\\TabDisconnectMode");
    r.Boolean("chkDropOnDisconnect", o.bDropOnDisconnect);
    r.Boolean("chkDropIfSilnce", o.bDropIfSilence);
    r.Int32("txtSilenceSec", o.lSilenceSec);
    r.Int16("cSliderSilence", o.nSilenceLevel);
    r.Boolean("chkDropOnDisconnectRec", o.bDropOnDisconnectRec);
    r.Boolean("chkDropIfSilnceRec", o.bDropIfSilenceRec);
    r.Int32("txtSilenceSecRec", o.lSilenceSecRec);
    r.Int16("cSliderSilenceRec", o.nSilenceLevelRec);
    r.Int32("txtListRecMoreThen", o.lListRecMoreThen);
    r.Boolean("chkCutTheSilense", o.bCutTheSilence);
    r.Boolean("chkRecCutTheSilense", o.bRecCutTheSilence);
    r.Boolean("chkDropIfDigit", o.bDropIfDigit);
    r.Text("txtDropIfDigit", o.sDropIfDigit);

    r.Section("Events\\TabInCommingCall");
    r.Boolean("chkWhenCallerID", o.bWhenCallerID);
    r.Boolean("chkViewLineControl_IC", o.bViewLineControl_IC);
    r.Int16("cmbCallDisplayStyleIncomming", o.nCallDisplayStyle_IC);
    r.Boolean("chkICViewCD", o.bViewCD_IC);
    r.Boolean("chkPlayInCall", o.bPlaySound_IC);
    r.Text("CmbPlayWhenCall", o.sPlaySound_IC);
    r.Boolean("chkSayInCommingCall", o.bSay_IC);
    r.Text("IC_txtTTS", o.sSay_IC);

    r.Section("Events\\TabDisconnectCall");
    r.Boolean("chkDCViewCD", o.bViewCD_DC);
    r.Boolean("chkPlayInDis", o.bPlaySound_DC);
    r.Text("CmbPlayWhenDis", o.sPlaySound_DC);
    r.Boolean("chkSayInDisCall", o.bSay_DC);
    r.Text("DC_txtTTS", o.sSay_DC);
    r.Boolean("chkOnlyIfGotMessage", o.bOnlyIfGotMessage);

    r.Section("Forward\\Mail");
    r.Boolean("chkSendToMail", o.bSendToMail);
    r.Int16("cmbActMail", o.nActMail);
    r.Text("txtMailTo", o.sMailTo);

    r.Section("MailForward\\Details");
    r.Text("txtFromMail", o.sFromMail);
    r.Text("txtSubject", o.sSubject);
    r.Text("txtMessage", o.sMessage);

    r.Section("MailForward\\SMTP");
    r.Text("txtSMTP", o.sSMTP);
    r.Text("txtSMTPUserName", o.sSMTPUserName);
    r.Text("txtSMTPPass", o.sSMTPPass);
    // Only the text "1" selects the relay ("True" does not); a number 1
    // reads as the text "1".
    o.bMAPI = r.Text("MAPI") == "1";

    r.Section("Forward\\App");
    r.Boolean("chkApp", o.bApp);
    r.Int16("cmbActApp", o.nActApp);
    r.Text("txtAppTo", o.sAppTo);
    r.Boolean("chkBGAPP", o.bBGApp);

    r.Section("Properties\\TabGeneral");
    r.Int32("txtlNumOfItemsInLast", process.NumOfItemsInLast);
    r.Boolean("chkListMessagesOnly", o.bListMessagesOnly);
  } catch (...) {
    JournalException(journal, kTagLoadCallOptions);
  }
}

ContactOverlay ToContactOverlay(const CallOptions& options) { return options; }

void ApplyContactOverlay(const ContactOverlay& overlay, CallOptions& options) {
  static_cast<ContactOverlay&>(options) = overlay;
}

RegistryTextReader MakeRegistryTextReader(RegistryRoutines& registry) {
  return [&registry](const std::string& section, const std::string& name) {
    registry.SetSubkey(section);
    return OptionToText(registry.GetRegistryValue(name));
  };
}

}  // namespace lw
