// The line options that a caller's contact entry can change for the current
// call: the part of the line option record (CallOptions) that a contact
// lookup reads and lays back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lw {

struct ContactOverlay {
  // Call handling results, turned into block_call / ignore_call by the
  // caller identification handler. Cleared when the options are loaded.
  bool ContactBlock = false;
  bool ContactIgnore = false;

  // Answering ("Answer\TabCallsRecord", "Answer\TabAnsweringMachine").
  bool detect_pick_up = false;          // chkDetectPickUp
  bool answer_if_not_answered = false;  // chkRunAnsIfNotAnswered
  std::string greeting_file;            // CmbGreetsMessages + ".wav"
  bool record_message = false;          // cmdRecordMessage
  int16_t rings_to_answer = 0;          // txtNumOfRing

  // Incoming-call announcements ("Events\TabInCommingCall").
  bool show_line_control_on_call = false;  // chkViewLineControl_IC
  int16_t call_display_style = 0;          // cmbCallDisplayStyleIncomming
  bool show_call_on_incoming = false;      // chkICViewCD
  bool play_sound_on_incoming = false;     // chkPlayInCall
  std::string incoming_sound;              // CmbPlayWhenCall
  bool say_on_incoming = false;            // chkSayInCommingCall
  std::string incoming_text;               // IC_txtTTS

  // Forwarding ("Forward\Mail", "Forward\App").
  bool forward_by_mail = false;  // chkSendToMail
  int16_t mail_when = 0;         // cmbActMail
  std::string mail_to;           // txtMailTo
  bool forward_to_app = false;   // chkApp
  int16_t app_when = 0;          // cmbActApp
  std::string app_command;       // txtAppTo

  friend bool operator==(const ContactOverlay&,
                         const ContactOverlay&) = default;
};

// Reads one registry value as text (empty when missing): section below the
// product key, value name. Contacts whose announcements follow the line's
// general settings have those read afresh through it.
using RegistryTextReader = std::function<std::string(const std::string& section,
                                                     const std::string& name)>;

}  // namespace lw
