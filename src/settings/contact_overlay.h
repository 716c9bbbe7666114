// The line options that a caller's contact entry can change for the current
// call: the part of the line option record (CallOptions) that a contact
// lookup reads and lays back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lw {

struct ContactOverlay {
  // Call handling results, turned into bBlockCall / bIgnoreCall by the
  // caller identification handler. Cleared when the options are loaded.
  bool ContactBlock = false;
  bool ContactIgnore = false;

  // Answering ("Answer\TabCallsRecord", "Answer\TabAnsweringMachine").
  bool bDetectPickUP = false;         // chkDetectPickUp
  bool bRunAnsIfNotAnswered = false;  // chkRunAnsIfNotAnswered
  std::string sGreetsMessage;         // CmbGreetsMessages + ".wav"
  bool bRecordMessage = false;        // cmdRecordMessage
  int16_t nNumOfRing = 0;             // txtNumOfRing

  // Incoming-call announcements ("Events\TabInCommingCall").
  bool bViewLineControl_IC = false;  // chkViewLineControl_IC
  int16_t nCallDisplayStyle_IC = 0;  // cmbCallDisplayStyleIncomming
  bool bViewCD_IC = false;           // chkICViewCD
  bool bPlaySound_IC = false;        // chkPlayInCall
  std::string sPlaySound_IC;         // CmbPlayWhenCall
  bool bSay_IC = false;              // chkSayInCommingCall
  std::string sSay_IC;               // IC_txtTTS

  // Forwarding ("Forward\Mail", "Forward\App").
  bool bSendToMail = false;  // chkSendToMail
  int16_t nActMail = 0;      // cmbActMail
  std::string sMailTo;       // txtMailTo
  bool bApp = false;         // chkApp
  int16_t nActApp = 0;       // cmbActApp
  std::string sAppTo;        // txtAppTo

  friend bool operator==(const ContactOverlay&,
                         const ContactOverlay&) = default;
};

// Reads one registry value as text (empty when missing): section below the
// product key, value name. Contacts whose announcements follow the line's
// general settings have those read afresh through it.
using RegistryTextReader = std::function<std::string(const std::string& section,
                                                     const std::string& name)>;

}  // namespace lw
