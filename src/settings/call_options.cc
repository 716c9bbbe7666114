#include "settings/call_options.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>

#include "base/text.h"
#include "settings/known_settings.h"

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

  void Section(const char* section) {
    section_ = section;
    registry_.SetSubkey(section);
  }

  void Boolean(const char* name, bool& field) {
    Check(OptionToBoolean(Get(name, SettingKind::kSwitch), field));
  }
  void Int16(const char* name, int16_t& field) {
    Check(OptionToInt16(Get(name, SettingKind::kInt16), field));
  }
  void Int32(const char* name, int32_t& field) {
    Check(OptionToInt32(Get(name, SettingKind::kInt32), field));
  }
  void Real(const char* name, double& field) {
    Check(OptionToDouble(Get(name, SettingKind::kReal), field));
  }
  // A text reading takes a value of any kind.
  std::string Text(const char* name) { return OptionToText(Get(name, {})); }
  void Text(const char* name, std::string& field) { field = Text(name); }

 private:
  // Every value read is one of the known settings, read as its kind (the
  // table lwdctl guards its writes by); a read outside it is an internal
  // error of this reader, journalled like one.
  RegValue Get(const char* name, std::optional<SettingKind> kind) {
    const KnownSetting* known = FindKnownSetting(section_, name);
    if (known == nullptr || (kind && known->kind != *kind))
      journal_.LogSys(ConversionErrorText(kErrInternal), kErrInternal, tag_);
    return registry_.GetRegistryValue(name);
  }
  void Check(int32_t err) {
    if (err != 0) journal_.LogSys(ConversionErrorText(err), err, tag_);
  }

  RegistryRoutines& registry_;
  Journal& journal_;
  const char* tag_;
  const char* section_ = "";
};

// "Answer\TabScreening": a missing value leaves the default, a bad one too,
// with a journal line that names it.
void ReadScreening(OptionReader& r, Journal& journal, CallOptions& o) {
  r.Section("Answer\\TabScreening");
  r.Boolean("chkScreenUnknown", o.screen_unknown);
  const std::string prompt = r.Text("txtScreenPrompt");
  if (!Trim(prompt).empty()) o.screen_prompt = prompt;
  auto bad = [&](const char* name, const std::string& value,
                 const std::string& what, const std::string& kept) {
    journal.LogSys(std::string(name) + " \"" + JournalShown(value) +
                       "\" is not " + what + ": " + kept + " is used",
                   0, kTagLoadCallOptions);
  };

  const std::string digit = r.Text("cmbScreenDigit");
  const std::string_view key = Trim(digit);
  if (key.size() == 1 &&
      std::string_view("0123456789*#").find(key[0]) != std::string_view::npos) {
    o.screen_digit = key;
  } else if (!key.empty()) {
    bad("cmbScreenDigit", digit, "a keypad key (0 to 9, * or #)",
        o.screen_digit);
  }

  const std::string seconds = r.Text("txtScreenSeconds");
  int32_t value = 0;
  if (Trim(seconds).empty()) return;
  if (OptionToInt32(seconds, value) == 0 && value >= 1 &&
      value <= kMaxScreenSeconds) {
    o.screen_seconds = value;
  } else {
    bad("txtScreenSeconds", seconds,
        "a number of seconds from 1 to " + std::to_string(kMaxScreenSeconds),
        std::to_string(o.screen_seconds));
  }
}

// Sets every field that LoadCallOptions fills to False, 0 or the empty text;
// the fields of GetOptions keep their values.
void ResetLoadedFields(CallOptions& o) {
  CallOptions fresh;
  fresh.access_code = std::move(o.access_code);
  fresh.access_confirm_digit = std::move(o.access_confirm_digit);
  fresh.allow_remote_access = o.allow_remote_access;
  fresh.allow_access_by_caller = o.allow_access_by_caller;
  fresh.access_caller_name = std::move(o.access_caller_name);
  fresh.access_caller_number = std::move(o.access_caller_number);
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
  if (EqualsNoCase(trimmed, "true")) {
    out = true;
    return 0;
  }
  if (EqualsNoCase(trimmed, "false")) {
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
    r.Text("txtDigitsToEnter", o.access_code);
    r.Text("cmbConfirmDigit", o.access_confirm_digit);
    r.Boolean("chkAllowRemoteAccess", o.allow_remote_access);
    r.Boolean("chkAllowCallerNameNumAccess", o.allow_access_by_caller);
    r.Text("txtAccessCallerName", o.access_caller_name);
    r.Text("txtAccessCallerNumber", o.access_caller_number);

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
    r.Boolean("chkRunAnsIfNotAnswered", o.answer_if_not_answered);
    r.Int16("txtNumOfRing", o.rings_to_answer);
    o.greeting_file = r.Text("CmbGreetsMessages") + ".wav";
    r.Boolean("cmdRecordMessage", o.record_message);
    r.Boolean("chkMaxRec", o.limit_message_length);
    r.Int16("cmbAnsweringFormatRec", o.message_format);
    r.Boolean("chkPreScreen", o.prescreen_messages);
    o.messages_path = r.Text("txtMassagesPath") + "\\Data\\Log";
    r.Real("txtRecLong", o.max_message_minutes);

    ReadScreening(r, journal, o);

    r.Section("Answer\\TabCallsRecord");
    r.Boolean("chkDetectPickUp", o.detect_pick_up);
    r.Int16("cmbRecWhen", o.record_when);
    r.Int32("lblNumOfCallToRec", o.record_every_nth_call);
    r.Boolean("chkLegalRecMSG", o.play_recording_notice);
    r.Text("cmbLegalRecMSG", o.recording_notice);
    r.Int16("cmbRecordFormatRec", o.recording_format);
    r.Boolean("chkMaxRecCall", o.limit_recording_length);
    r.Boolean("chkRecPreScreen", o.prescreen_recordings);
    r.Real("cmbMaxRecCall", o.max_recording_minutes);

    r.Section("Answer\\TabDisconnectMode");
    r.Boolean("chkDropOnDisconnect", o.drop_message_on_disconnect);
    r.Boolean("chkDropIfSilnce", o.drop_message_on_silence);
    r.Int32("txtSilenceSec", o.message_silence_seconds);
    r.Int16("cSliderSilence", o.message_silence_level);
    r.Boolean("chkDropOnDisconnectRec", o.drop_recording_on_disconnect);
    r.Boolean("chkDropIfSilnceRec", o.drop_recording_on_silence);
    r.Int32("txtSilenceSecRec", o.recording_silence_seconds);
    r.Int16("cSliderSilenceRec", o.recording_silence_level);
    r.Int32("txtListRecMoreThen", o.list_calls_longer_than);
    r.Boolean("chkCutTheSilense", o.cut_message_silence);
    r.Boolean("chkRecCutTheSilense", o.cut_recording_silence);
    r.Boolean("chkDropIfDigit", o.drop_on_digit);
    r.Text("txtDropIfDigit", o.drop_digit);

    r.Section("Events\\TabInCommingCall");
    r.Boolean("chkWhenCallerID", o.announce_after_caller_id);
    r.Boolean("chkViewLineControl_IC", o.show_line_control_on_call);
    r.Int16("cmbCallDisplayStyleIncomming", o.call_display_style);
    r.Boolean("chkICViewCD", o.show_call_on_incoming);
    r.Boolean("chkPlayInCall", o.play_sound_on_incoming);
    r.Text("CmbPlayWhenCall", o.incoming_sound);
    r.Boolean("chkSayInCommingCall", o.say_on_incoming);
    r.Text("IC_txtTTS", o.incoming_text);

    r.Section("Events\\TabDisconnectCall");
    r.Boolean("chkDCViewCD", o.show_call_on_disconnect);
    r.Boolean("chkPlayInDis", o.play_sound_on_disconnect);
    r.Text("CmbPlayWhenDis", o.disconnect_sound);
    r.Boolean("chkSayInDisCall", o.say_on_disconnect);
    r.Text("DC_txtTTS", o.disconnect_text);
    r.Boolean("chkOnlyIfGotMessage", o.disconnect_only_with_message);

    r.Section("Forward\\Mail");
    r.Boolean("chkSendToMail", o.forward_by_mail);
    r.Int16("cmbActMail", o.mail_when);
    r.Text("txtMailTo", o.mail_to);

    r.Section("MailForward\\Details");
    r.Text("txtFromMail", o.mail_from);
    r.Text("txtSubject", o.mail_subject);
    r.Text("txtMessage", o.mail_text);

    r.Section("MailForward\\SMTP");
    r.Text("txtSMTP", o.smtp_server);
    r.Text("txtSMTPUserName", o.smtp_user);
    r.Text("txtSMTPPass", o.smtp_password);
    // Only the text "1" selects the relay ("True" does not); a number 1
    // reads as the text "1".
    o.use_mail_relay = r.Text("MAPI") == "1";

    r.Section("Forward\\App");
    r.Boolean("chkApp", o.forward_to_app);
    r.Int16("cmbActApp", o.app_when);
    r.Text("txtAppTo", o.app_command);
    r.Boolean("chkBGAPP", o.app_in_background);

    r.Section("Forward\\Webhook");
    r.Boolean("chkWebhook", o.forward_by_webhook);
    r.Int16("cmbActWebhook", o.webhook_when);
    r.Text("txtWebhookURL", o.webhook_url);
    r.Text("txtWebhookHeaders", o.webhook_headers);

    r.Section("RemoteAccess\\TabInternetAccess");
    r.Int32("chkAllowWWWRemoteAccess", o.web_allowed);
    r.Int32("txtWWWPort", o.web_port);
    r.Text("txtWWWListen", o.web_listen);

    r.Section("Properties\\TabGeneral");
    r.Int32("txtlNumOfItemsInLast", process.NumOfItemsInLast);
    r.Boolean("chkListMessagesOnly", o.list_messages_only);
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
