// The line options: the line controller's option record `CallOptions`, the
// process-wide values read with it, and the three routines that fill them
// from the settings (`GetOptions`, `LoadTTSOptions`, `LoadCallOptions`).
// Option names are the settings' value names; the record's fields carry the
// prefixes b (Boolean), n (16-bit), l (32-bit), d (real) and s (text) and the
// suffixes _IC (incoming call) and _DC (disconnected call).
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

// The options a caller's contact can change (ContactBlock, ContactIgnore,
// the answering switches, the incoming-call announcements and the
// forwarding) are the ContactOverlay part of the record; their value names
// are noted there.
struct CallOptions : ContactOverlay {
  // "RemoteAccess\TabPhoneAccess" (GetOptions).
  std::string sDigitsToEnter;              // txtDigitsToEnter
  std::string sConfirmDigit;               // cmbConfirmDigit
  bool bAllowRemoteAccess = false;         // chkAllowRemoteAccess
  bool bAllowCallerNameNumAccess = false;  // chkAllowCallerNameNumAccess
  std::string sAccessCallerName;           // txtAccessCallerName
  std::string sAccessCallerNumber;         // txtAccessCallerNumber

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

  // Everything below is set to False, 0 or the empty text at the start of
  // every LoadCallOptions.

  // "Properties\TabGeneral".
  bool bListMessagesOnly = false;  // chkListMessagesOnly

  // "Answer\TabAnsweringMachine".
  bool limit_message_length = false;  // chkMaxRec
  int16_t nAnsweringFormatRec = 0;    // cmbAnsweringFormatRec
  bool bPreScreen = false;            // chkPreScreen
  std::string sMessagesPath;          // txtMassagesPath + "\Data\Log"
  double dRecLong = 0;                // txtRecLong

  // "Answer\TabCallsRecord".
  int16_t nRecWhen = 0;          // cmbRecWhen
  int32_t lNumOfCallToRec = 0;   // lblNumOfCallToRec
  bool bLegalRecMSG = false;     // chkLegalRecMSG
  std::string sLegalRecMSG;      // cmbLegalRecMSG
  int16_t nRecordFormatRec = 0;  // cmbRecordFormatRec
  bool bMaxRecCall = false;      // chkMaxRecCall
  bool bRecPreScreen = false;    // chkRecPreScreen
  double dMaxRecCall = 0;        // cmbMaxRecCall

  // "Answer\TabDisconnectMode".
  bool bDropOnDisconnect = false;     // chkDropOnDisconnect
  bool bDropIfSilence = false;        // chkDropIfSilnce
  int32_t lSilenceSec = 0;            // txtSilenceSec
  int16_t nSilenceLevel = 0;          // cSliderSilence
  bool bDropOnDisconnectRec = false;  // chkDropOnDisconnectRec
  bool bDropIfSilenceRec = false;     // chkDropIfSilnceRec
  int32_t lSilenceSecRec = 0;         // txtSilenceSecRec
  int16_t nSilenceLevelRec = 0;       // cSliderSilenceRec
  int32_t lListRecMoreThen = 0;       // txtListRecMoreThen
  bool bCutTheSilence = false;        // chkCutTheSilense
  bool bRecCutTheSilence = false;     // chkRecCutTheSilense
  bool bDropIfDigit = false;          // chkDropIfDigit
  std::string sDropIfDigit;           // txtDropIfDigit

  // "Events\TabInCommingCall".
  bool bWhenCallerID = false;  // chkWhenCallerID

  // "Events\TabDisconnectCall".
  bool bViewCD_DC = false;         // chkDCViewCD
  bool bPlaySound_DC = false;      // chkPlayInDis
  std::string sPlaySound_DC;       // CmbPlayWhenDis
  bool bSay_DC = false;            // chkSayInDisCall
  std::string sSay_DC;             // DC_txtTTS
  bool bOnlyIfGotMessage = false;  // chkOnlyIfGotMessage

  // "Forward\Mail".

  // "MailForward\Details".
  std::string sFromMail;  // txtFromMail
  std::string sSubject;   // txtSubject
  std::string sMessage;   // txtMessage

  // "MailForward\SMTP".
  std::string sSMTP;          // txtSMTP
  std::string sSMTPUserName;  // txtSMTPUserName
  std::string sSMTPPass;      // txtSMTPPass
  bool bMAPI = false;         // MAPI: only the text "1" selects it

  // "Forward\App".
  bool bBGApp = false;  // chkBGAPP

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
