// Passing a finished call on: by mail (through the mail control, or as a
// mail request to the desktop side on channel 111) and by starting the
// owner's program with the call's details. The call state machine decides
// which calls go (the "cmbActMail" and "cmbActApp" rule) and calls the two
// hooks that WireForwarding plugs in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "callstore/call_record.h"
#include "line/line_state.h"
#include "notify/program_starter.h"

namespace lw {

// What is attached for the current call: the absolute path of its recording
// for a voice message ("2") or a recorded incoming call ("3"), otherwise
// empty text.
std::string CallAttachment(const CurrentCall& call);

// The mail request of channel 111: "SendMail", recipient, subject, text and
// attachment (or "NOFILE"), joined by DC4 with none after the last.
std::string MapiRequest(const std::string& to, const std::string& subject,
                        const std::string& text, const std::string& attachment);

// The percentage of a mail sent, to the nearest whole number; -1 when
// `total` is not positive.
int32_t MailPercent(int32_t total, int32_t done);

// Sends the current call by mail as the options say.
void SendMailForCall(LineState& s);

// Starts the forwarding program for the current call. The template is split
// into words before each word is filled from the call; a template that does
// not split, or a program that cannot be started, is journalled with the
// source "Error Send To APP ->".
void SendToApp(LineState& s, ProgramStarter& programs);

// The words of the program's command line for the current call; false with
// `error` when the template does not split into words or has no program.
bool AppCommandLine(const LineState& s, std::vector<std::string>& argv,
                    std::string& error);

// Plugs the forwarding hooks into the line and the mail control's events
// into the "MAIL" and "LineStatus" messages. Called once Mail1 is made.
void WireForwarding(LineState& s);

}  // namespace lw
