// The line options: the line controller's option record `CallOptions`, the
// process-wide values read with it, and the three routines that fill them
// from the settings (`GetOptions`, `LoadTTSOptions`, `LoadCallOptions`).
// The setting names appear only as texts in the routines' option table
// (call_options.cc); each field notes the setting it is read from.
//
// Every value is read with no default, so a missing value gives False, 0 or
// the empty text. A value that is present but cannot be converted (not a
// number, an empty text, out of range) is journalled with the routine's tag
// and its description and number, and the next value is read all the same.
// None of the routines throws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "journal/journal.h"
#include "settings/contact_overlay.h"
#include "settings/registry_routines.h"

namespace lw {

// The screening of unknown callers without its settings: the prompt, the
// key that lets the caller through (one of 0-9, * and #) and the seconds
// (1 to 60) the caller has for it after the prompt.
inline constexpr const char* kDefaultScreenPrompt =
    "To leave a message, press 5.";
inline constexpr const char* kDefaultScreenDigit = "5";
inline constexpr int32_t kDefaultScreenSeconds = 6;
inline constexpr int32_t kMaxScreenSeconds = 60;

// The options a caller's contact can change (ContactBlock, ContactIgnore,
// the answering switches, the incoming-call announcements and the
// forwarding) are the ContactOverlay part of the record; their value names
// are noted there.
struct CallOptions : ContactOverlay {
  // "RemoteAccess\TabPhoneAccess" (GetOptions).
  std::string access_code;              // txtDigitsToEnter
  std::string access_confirm_digit;     // cmbConfirmDigit
  bool allow_remote_access = false;     // chkAllowRemoteAccess
  bool allow_access_by_caller = false;  // chkAllowCallerNameNumAccess
  std::string access_caller_name;       // txtAccessCallerName
  std::string access_caller_number;     // txtAccessCallerNumber

  // "Access\Phone\Messages" (GetOptions): spoken texts of remote access.
  std::string RCMSGWellcome;    // txtRCTTSWllcome
  std::string RCMSGBeforeCall;  // txtRCTTSBefore
  std::string RCMSGAfterCall;   // txtRCTTSAfter

  // "Access\Phone\Digits" (GetOptions): keypad keys of remote access.
  std::string RCFirstDigit;  // cmbFirstMessageDigit
  std::string RCNextDigit;   // cmbNextMessageDigit
  std::string RCPrevDigit;   // cmbPrevMessageDigit
  std::string RCCloseRC;     // cmbCloseRCDigit
  std::string RCPlay;        // cmbPlayMessageDigit
  std::string RCDelete;      // cmbDelRCDigit

  // Everything below is set to False, 0 or the empty text (or the default
  // it is given here) at the start of every LoadCallOptions.

  // "Properties\TabGeneral".
  bool list_messages_only = false;  // chkListMessagesOnly

  // "Answer\TabAnsweringMachine".
  bool limit_message_length = false;  // chkMaxRec
  int16_t message_format = 0;         // cmbAnsweringFormatRec
  bool prescreen_messages = false;    // chkPreScreen
  std::string messages_path;          // txtMassagesPath + "\Data\Log"
  double max_message_minutes = 0;     // txtRecLong

  // "Answer\TabScreening": a caller who matches no contact keys a digit
  // before the greeting. Missing or bad values (bad ones journalled) give
  // the defaults.
  bool screen_unknown = false;                       // chkScreenUnknown
  std::string screen_prompt = kDefaultScreenPrompt;  // txtScreenPrompt
  std::string screen_digit = kDefaultScreenDigit;    // cmbScreenDigit
  int32_t screen_seconds = kDefaultScreenSeconds;    // txtScreenSeconds

  // "Answer\TabCallsRecord".
  int16_t record_when = 0;              // cmbRecWhen
  int32_t record_every_nth_call = 0;    // lblNumOfCallToRec
  bool play_recording_notice = false;   // chkLegalRecMSG
  std::string recording_notice;         // cmbLegalRecMSG
  int16_t recording_format = 0;         // cmbRecordFormatRec
  bool limit_recording_length = false;  // chkMaxRecCall
  bool prescreen_recordings = false;    // chkRecPreScreen
  double max_recording_minutes = 0;     // cmbMaxRecCall

  // "Answer\TabDisconnectMode".
  bool drop_message_on_disconnect = false;    // chkDropOnDisconnect
  bool drop_message_on_silence = false;       // chkDropIfSilnce
  int32_t message_silence_seconds = 0;        // txtSilenceSec
  int16_t message_silence_level = 0;          // cSliderSilence
  bool drop_recording_on_disconnect = false;  // chkDropOnDisconnectRec
  bool drop_recording_on_silence = false;     // chkDropIfSilnceRec
  int32_t recording_silence_seconds = 0;      // txtSilenceSecRec
  int16_t recording_silence_level = 0;        // cSliderSilenceRec
  int32_t list_calls_longer_than = 0;         // txtListRecMoreThen
  bool cut_message_silence = false;           // chkCutTheSilense
  bool cut_recording_silence = false;         // chkRecCutTheSilense
  bool drop_on_digit = false;                 // chkDropIfDigit
  std::string drop_digit;                     // txtDropIfDigit

  // "Events\TabInCommingCall".
  bool announce_after_caller_id = false;  // chkWhenCallerID

  // "Events\TabDisconnectCall".
  bool show_call_on_disconnect = false;       // chkDCViewCD
  bool play_sound_on_disconnect = false;      // chkPlayInDis
  std::string disconnect_sound;               // CmbPlayWhenDis
  bool say_on_disconnect = false;             // chkSayInDisCall
  std::string disconnect_text;                // DC_txtTTS
  bool disconnect_only_with_message = false;  // chkOnlyIfGotMessage

  // "Forward\Mail".

  // "MailForward\Details".
  std::string mail_from;     // txtFromMail
  std::string mail_subject;  // txtSubject
  std::string mail_text;     // txtMessage

  // "MailForward\SMTP".
  std::string smtp_server;      // txtSMTP
  std::string smtp_user;        // txtSMTPUserName
  std::string smtp_password;    // txtSMTPPass
  bool use_mail_relay = false;  // MAPI: only the text "1" selects it

  // "Forward\App".
  bool app_in_background = false;  // chkBGAPP

  // "Forward\Webhook": one HTTP request per call to the owner's URL.
  bool forward_by_webhook = false;  // chkWebhook
  int16_t webhook_when = 0;         // cmbActWebhook, coded as cmbActMail
  std::string webhook_url;          // txtWebhookURL
  std::string webhook_headers;      // txtWebhookHeaders: lines "Name: value"

  // "RemoteAccess\TabInternetAccess": where the web interface serves a
  // call's recording, for the webhook's link to it.
  int32_t web_allowed = 0;  // chkAllowWWWRemoteAccess
  int32_t web_port = 0;     // txtWWWPort
  std::string web_listen;   // txtWWWListen

  friend bool operator==(const CallOptions&, const CallOptions&) = default;
};

// The values read with the line options that the whole process shares. A
// value that cannot be converted keeps its previous value.
struct ProcessWideOptions {
  bool GUIRunning = false;       // bRun (product key)
  bool DoEventsWhenGUI = false;  // chkDoEventsWhenGUI
  int32_t NumOfItemsInLast = 0;  // txtlNumOfItemsInLast

  friend bool operator==(const ProcessWideOptions&,
                         const ProcessWideOptions&) = default;
};

// Where the option routines hand what is applied at once rather than kept:
// the speech settings, and the line controller's per-call state. An unset
// function is skipped; an exception from one is caught and journalled (the
// speech ones silently dropped) and the reading goes on.
struct LineOptionHooks {
  // "TTSVoices" and "sldrTTS": first the line voice, then the speech window.
  std::function<void(int32_t)> SetLineVoice;
  std::function<void(int16_t)> SetLineRate;
  std::function<void(int32_t)> TTSSetVoice;
  std::function<void(int16_t)> SetRate;
  // Clears the line controller's per-call state (every per-call flag but
  // in_call, the recording and remote-access counters). Runs after
  // GetOptions and before the option fields are reset and read, so it sees
  // the options of the call that just ended.
  std::function<void()> ResetPerCallState;
};

// Error numbers and descriptions of failed conversions.
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrTypeMismatch = 13;
// "Overflow", "Type mismatch"; other numbers give "Internal error".
const char* ConversionErrorText(int32_t number);

// The conversions of the option kinds. Each answers 0 and sets `out`, or
// answers the error number and leaves `out` alone. Empty (a missing value)
// gives False or 0. A number (REG_DWORD) converts directly; a byte array is
// a type mismatch. Text is a decimal number with an optional sign, fraction
// and exponent and blanks around it (integers round half to even); a
// Boolean is also "True" or "False" in any case, and any non-zero number
// is true.
int32_t OptionToBoolean(const RegValue& value, bool& out);
int32_t OptionToInt16(const RegValue& value, int16_t& out);
int32_t OptionToInt32(const RegValue& value, int32_t& out);
int32_t OptionToDouble(const RegValue& value, double& out);
// Text options never fail: empty gives "", a number its decimal digits.
std::string OptionToText(const RegValue& value);

// Reads the remote-access sections into `options`, then runs
// LoadTTSOptions. A Boolean that cannot be converted keeps its previous
// value and is journalled with the source "ErrGetOptions".
void GetOptions(RegistryRoutines& registry, Journal& journal,
                CallOptions& options, const LineOptionHooks& hooks) noexcept;

// Reads "TTSVoices" and "sldrTTS" and applies them to the line voice, then
// reads them again for the speech window. Failures are passed over
// silently: the step whose value cannot be converted is skipped.
void LoadTTSOptions(RegistryRoutines& registry,
                    const LineOptionHooks& hooks) noexcept;

// The full reading after every call: GetOptions, the per-call reset hook,
// every other field reset (the three process-wide values too), then the
// remaining sections read in the order of the catalogue. A value that cannot
// be converted leaves its field reset and is journalled with the
// source "ErrSetDefaultCallOption". The registry accessor is left on
// "Properties\TabGeneral".
void LoadCallOptions(RegistryRoutines& registry, Journal& journal,
                     CallOptions& options, ProcessWideOptions& process,
                     const LineOptionHooks& hooks) noexcept;

// The options that a caller's contact can change, taken from and laid back
// onto the record around a contact lookup.
ContactOverlay ToContactOverlay(const CallOptions& options);
void ApplyContactOverlay(const ContactOverlay& overlay, CallOptions& options);

// A reader of single text values for the contact lookup, which reads the
// general incoming-call settings afresh. It moves `registry` to the section
// it reads; the accessor must outlive the reader.
RegistryTextReader MakeRegistryTextReader(RegistryRoutines& registry);

}  // namespace lw
