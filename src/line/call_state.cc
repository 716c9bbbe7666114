// The call state machine, telephony mode: the telephony control's events
// carry each call from the offer through rings, caller identification and
// the connected call to the wrap-up, where the call is stored, the desktop
// application told and the call forwarded. While the call rings it is
// decided whether the line is taken to record a conversation (somebody
// picked up an extension), answered by the answering machine, blocked or
// left alone; the connected call then goes to recording, the answering
// machine or remote access.
//
// Modem mode (rings and caller identification from the modem's serial port,
// the modem handed to the telephony control for the call) joins this flow
// with the modem channel; until then a line in modem mode is driven by the
// telephony events exactly as in telephony mode.
#include <string>

#include "base/message_text.h"
#include "base/trapped.h"
#include "callstore/call_wrapup.h"
#include "callstore/contacts.h"
#include "line/line_controller.h"
#include "line/line_messages.h"
#include "recording/answering_machine.h"
#include "recording/call_recording.h"
#include "recording/event_sounds.h"

namespace lw {

namespace {

constexpr uint32_t kRingGapIntervalMs = 100;
constexpr uint32_t kIdleIntervalMs = 1000;
constexpr uint32_t kRecLongIntervalMs = 1000;
constexpr uint32_t kSilenceIntervalMs = 100;
constexpr uint32_t kFreqIntervalMs = 100;
// Ticks of the ring gap after which the rings are taken to have stopped
// because somebody answered on an extension (7.1 s).
constexpr int32_t kRingGapTicks = 70;
// A blocked caller is taken off-hook at this ring when not at once.
constexpr int32_t kBlockAtRing = 4;
// TransText entries used as the description of a call.
constexpr int kTransIncomingCall = 1;
constexpr int kTransCallOut = 13;

void TimerOff(const std::unique_ptr<Timer>& timer) {
  if (timer && timer->Enabled()) timer->SetEnabled(false);
}

void TimerOn(const std::unique_ptr<Timer>& timer) {
  if (timer && !timer->Enabled()) timer->SetEnabled(true);
}

// The caller name or number of a call without them.
constexpr const char* kUnknownCaller = "UNKNOWN";
constexpr const char* kBlanks = " \t\r\n\v\f";

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// A caller name or number that was not received, or holds only blanks, is
// "UNKNOWN" in the stored call, the recording's name and the messages.
std::string CallerText(const std::string& received) {
  std::string text = Trim(received);
  return text.empty() ? std::string(kUnknownCaller) : text;
}

// The forwarding rule of "cmbActMail" and "cmbActApp": 0 every call, 1 voice
// messages, 2 recorded incoming calls.
bool ForwardsCallType(int16_t act, const std::string& call_type) {
  switch (act) {
    case 0:
      return true;
    case 1:
      return call_type == kCallTypeVoiceMessage;
    case 2:
      return call_type == kCallTypeIncomingRecorded;
    default:
      return false;
  }
}

}  // namespace

void frmLine::WireCallEvents() {
  Clock& clock = s_.devices.clock;
  auto make = [&clock](std::unique_ptr<Timer>& timer, uint32_t interval,
                       std::function<void()> tick) {
    timer = clock.CreateTimer(std::move(tick));
    timer->SetInterval(interval);
  };
  make(s_.tmrRecRingCounter, kRingGapIntervalMs,
       [this] { tmrRecRingCounter_Timer(); });
  // The idle timer ends a modem-mode call whose caller gave up; it is
  // switched on by the modem channel.
  make(s_.tmrIDLE, kIdleIntervalMs, [] {});
  make(s_.tmrRecLong, kRecLongIntervalMs, [this] {
    Trapped(s_.journal, "tmrRecLong_Timer", [&] { tmrRecLong_Timer(s_); });
  });
  make(s_.tmrSilence, kSilenceIntervalMs, [this] {
    Trapped(s_.journal, "tmrSilence_Timer", [&] { tmrSilence_Timer(s_); });
  });
  make(s_.tmrRecFreqCounter, kFreqIntervalMs, [this] {
    Trapped(s_.journal, "tmrRecFreqCounter_Timer",
            [&] { tmrRecFreqCounter_Timer(s_); });
  });
  s_.WrapUpNow = [this] { WrapUpCall(); };

  TelephonyEvents events;
  events.InComeCall = [this] { Tapi_InComeCall(); };
  events.Ring = [this](int32_t count) { Tapi_Ring(count); };
  events.CallerID = [this](const std::string& name, const std::string& number) {
    Tapi_CallerID(name, number);
  };
  events.Connected = [this] { Tapi_Connected(); };
  events.Disconnected = [this] { Tapi_Disconnected(); };
  events.Idle = [this] { Tapi_Idle(); };
  events.Dialing = [this] { Tapi_Dialing(); };
  events.MonitorDigit = [this](const std::string& digit) {
    Tapi_MonitorDigit(digit);
  };
  s_.Tapi1->SetEvents(std::move(events));

  WaveEvents line_events;
  line_events.PlayDone = [this] {
    Trapped(s_.journal, "Wave1_PlayDone", [&] { Wave1_PlayDone(s_); });
  };
  line_events.LevelReport = [this](int16_t& level) {
    Wave1_LevelReport(s_, level);
  };
  s_.Wave1->SetEvents(std::move(line_events));

  WaveEvents player_events;
  player_events.PlayDone = [this] {
    Trapped(s_.journal, "WavePlayer_PlayDone",
            [&] { WavePlayer_PlayDone(s_); });
  };
  s_.WavePlayer->SetEvents(std::move(player_events));
}

void frmLine::ClearPerCallState() {
  s_.bRecordThisCall = false;
  s_.bRecTheCall = false;
  s_.bAnswerMachine = false;
  s_.bBlockCall = false;
  s_.bIgnoreCall = false;
  s_.bRemoteAccess = false;
  s_.bCallOutRec = false;
  s_.RecordSeconds = 0;
  s_.SilenceTicks = 0;
  s_.LastLevel = 0;
  s_.FreqTicks = 0;
}

void frmLine::LoadOptionsForNextCall() {
  // The option reading clears the per-call state between the remote-access
  // options and the rest (ResetPerCallState).
  LoadCallOptions();
  s_.SilenceThreshold = s_.Options.nSilenceLevel;
  s_.SilenceSeconds = s_.Options.lSilenceSec;
}

void frmLine::StartCallInfo(const std::string& description) {
  s_.Store->SetCallInfo(s_.Call);
  s_.Call.description = description;
  s_.bWrapUpDue = true;
}

void frmLine::StopRingGapAndFreqTimers() {
  TimerOff(s_.tmrRecRingCounter);
  TimerOff(s_.tmrRecFreqCounter);
}

void frmLine::Tapi_InComeCall() {
  Trapped(s_.journal, "ErrTapi1_InComeCall", [&] {
    // Whatever the previous call left playing or recording ends here.
    for (Wave* wave : {s_.Wave1.get(), s_.WavePlayer.get()}) {
      if (wave->IsRecording()) wave->StopRecord();
      if (wave->IsPlaying()) wave->StopPlay();
    }
    s_.bInCall = true;
    s_.journal.LogSys(s_.Tapi1->GetErrorText(0), 0,
                      "Tapi_InComeCall(" + DeviceIndexText(s_) + ")");

    ++s_.IncomingCount;
    LoadOptionsForNextCall();
    StartCallInfo(s_.process.TransText[kTransIncomingCall]);

    const CallOptions& o = s_.Options;
    s_.bRecTheCall = false;
    s_.bRecordThisCall = false;
    if (o.bDetectPickUP) {
      if (o.nRecWhen == 0) {
        s_.bRecordThisCall = true;
      } else if (o.nRecWhen == 1 && s_.IncomingCount == o.lNumOfCallToRec) {
        s_.bRecordThisCall = true;
        s_.IncomingCount = 0;
      }
    }
    if (s_.bRecordThisCall) {
      s_.RingGapTicks = 0;
      TimerOn(s_.tmrRecRingCounter);
    } else {
      TimerOff(s_.tmrRecRingCounter);
    }

    if (!o.bWhenCallerID) PlayIncomingSound(s_);
    SendToDesktop(
        s_, s_.udiOut.get(), kChannelOut,
        {"Tapi_Incomming", DeviceIndexText(s_), BoolText(s_.bRecordThisCall)});
  });
}

void frmLine::Tapi_Ring(int32_t count) {
  Trapped(s_.journal, "ErrTapi1_Ring", [&] {
    SendToDesktop(s_, s_.udiOut.get(), kChannelOut,
                  {"Tapi_Ring", DeviceIndexText(s_), std::to_string(count),
                   BoolText(s_.bRecordThisCall)});
    s_.journal.LogSys("Tapi_Ring(" + std::to_string(s_.LineIndex) +
                          "):" + std::to_string(count),
                      0, "");

    if (s_.bIgnoreCall) {
      TimerOff(s_.tmrSilence);
      TimerOff(s_.tmrRecFreqCounter);
      TimerOff(s_.tmrRecLong);
      TimerOff(s_.tmrRecRingCounter);
      return;
    }
    // In modem mode the decisions wait until the telephony control has the
    // modem (the serial port closed).
    if (s_.MSComm1 && s_.MSComm1->PortOpen()) return;

    if (s_.bRemoteAccess) {
      AnswerCall();
      return;
    }
    s_.RingGapTicks = 0;
    if (s_.bRecordThisCall) {
      TimerOn(s_.tmrRecRingCounter);
    } else {
      TimerOff(s_.tmrRecRingCounter);
    }
    if (s_.bBlockCall && count >= kBlockAtRing) s_.Tapi1->LineAnswer();
    if (s_.Options.bRunAnsIfNotAnswered && count >= s_.Options.nNumOfRing) {
      AnswerCall();
    }
  });
}

void frmLine::tmrRecRingCounter_Timer() {
  Trapped(s_.journal, "tmrRecRingCounter_Timer", [&] {
    ++s_.RingGapTicks;
    if (s_.RingGapTicks <= kRingGapTicks) return;
    TimerOff(s_.tmrRecRingCounter);
    s_.bAnswerMachine = false;
    s_.bRecTheCall = true;
    s_.Tapi1->LineAnswer();
  });
}

void frmLine::AnswerCall() {
  Trapped(s_.journal, "AnswerCall", [&] {
    s_.bAnswerMachine = true;
    s_.bRecTheCall = false;
    const int32_t result = s_.Tapi1->LineAnswer();
    s_.journal.LogSys("Tapi.LineAnswer(" + std::to_string(s_.LineIndex) +
                          ")->" + s_.Tapi1->GetErrorText(result),
                      0, "");
    TimerOff(s_.tmrRecRingCounter);
  });
}

void frmLine::Tapi_CallerID(const std::string& name,
                            const std::string& number) {
  Trapped(s_.journal, "ErrTapi1_CallerID", [&] {
    CallOptions& o = s_.Options;
    CallInfo& info = s_.Call.info;
    s_.bInCall = true;
    info.caller_name = CallerText(name);
    info.caller_number = CallerText(number);

    // The contact's choices are laid over this call's options.
    ContactOverlay overlay = ToContactOverlay(o);
    ContactRecord contact{};
    const std::string lRet = s_.Store->contacts().FindContact(
        info.caller_number, overlay, contact, MakeRegistryTextReader(s_.Reg));
    ApplyContactOverlay(overlay, o);

    std::string contact_name;
    std::string contact_text;
    if (lRet != "-1") {
      contact_name = FieldText(contact.name);
      contact_text = FieldText(contact.second_text);
      info.contact = contact_name;
      s_.Call.description = contact_name;
      s_.Call.contact_digit = ContactDigit(contact);

      s_.bRecTheCall = o.bDetectPickUP;
      s_.bRecordThisCall = o.bDetectPickUP;
      if (!s_.bRecTheCall) StopRingGapAndFreqTimers();
      s_.bAnswerMachine = o.bRunAnsIfNotAnswered;
      if (!s_.bAnswerMachine && !s_.bRecTheCall) s_.bIgnoreCall = true;

      if (o.ContactBlock) {
        StopRingGapAndFreqTimers();
        s_.bRecTheCall = false;
        s_.bRecordThisCall = false;
        s_.bAnswerMachine = false;
        s_.bBlockCall = true;
        // Taken off-hook at once; the connected call is dropped. Nothing
        // tells of a blocked caller.
        s_.Tapi1->LineAnswer();
        return;
      }
      if (o.ContactIgnore) {
        StopRingGapAndFreqTimers();
        s_.bRecTheCall = false;
        s_.bRecordThisCall = false;
        s_.bAnswerMachine = false;
        s_.bIgnoreCall = true;
      }
      // Forwarding "2": neither mail nor program for this caller ("3", the
      // contact's own forwarding, came with the overlay).
      if (contact.forwarding[0] == '2') {
        o.bSendToMail = false;
        o.bApp = false;
      }
    }

    if (o.bAllowCallerNameNumAccess) {
      // Callers are not announced while access by caller number is on.
      if (info.caller_number == o.sAccessCallerNumber) s_.bRemoteAccess = true;
      return;
    }

    SendToDesktop(
        s_, s_.udiCallerID.get(), kChannelCallerID,
        {"Tapi_CID", DeviceIndexText(s_), info.caller_name, info.caller_number,
         contact_name, contact_text, BoolText(o.bViewCD_IC),
         std::to_string(o.nCallDisplayStyle_IC),
         BoolText(o.bViewLineControl_IC)});
    if (o.bWhenCallerID) PlayIncomingSound(s_);
    s_.journal.LogSys("Tapi_CallerID:(Index:" + DeviceIndexText(s_) +
                          "):" + info.caller_name + ":" + info.caller_number +
                          ",Contact(" + contact_name + ")",
                      0, "");
  });
}

void frmLine::Tapi_Connected() {
  Trapped(s_.journal, "ErrTapi1_Connected", [&] {
    s_.journal.LogSys(s_.Tapi1->GetErrorText(0), 0,
                      "Tapi_Conected(" + DeviceIndexText(s_) + ")");
    SendOutWithDevice(s_, "Tapi_Connected");
  });
  Trapped(s_.journal, "ErrTapi1_Connected", [&] {
    if (s_.speech != nullptr) s_.speech->StopSpeak();
  });
  s_.devices.clock.Pause(5);

  Trapped(s_.journal, "ErrTapi1_Connected", [&] {
    if (s_.bBlockCall) {
      s_.Tapi1->LineDrop();
    } else if (s_.bRemoteAccess) {
      if (s_.hooks.StartRemoteAccess) s_.hooks.StartRemoteAccess();
    } else if (!s_.bRecTheCall) {
      if (s_.bAnswerMachine) PlayGreeting(s_);
      // An outgoing call placed with recording is recorded from here on.
      if (s_.bCallOutRec) ContinueAfterGreeting(s_);
    } else if (s_.Options.bLegalRecMSG) {
      PlayLegalNotice(s_);
    } else {
      ContinueAfterGreeting(s_);
    }
  });
}

void frmLine::Tapi_Disconnected() {
  Trapped(s_.journal, "ErrTapi1_Disconnected", [&] {
    s_.journal.LogSys(s_.Tapi1->GetErrorText(0), 0,
                      "Tapi_Disconnected(" + DeviceIndexText(s_) + ")");
  });
  StopRecMessage(s_);
  DropCall(s_);
}

void frmLine::Tapi_Idle() {
  Trapped(s_.journal, "ErrTapi1_Idle", [&] {
    s_.bInCall = false;
    s_.journal.LogSys(s_.Tapi1->GetErrorText(0), 0,
                      "Tapi_Idle(" + DeviceIndexText(s_) + ")");
  });
  // A call wrapped up when the line closed or refused the hang-up is not
  // stored a second time should its Idle still arrive.
  if (s_.bWrapUpDue) WrapUpCall();
}

void frmLine::EndCallBeforeClose() {
  if (!s_.bWrapUpDue) return;
  // A closed line reports nothing more of its call: the call is hung up and
  // wrapped up while the line is still open, so the caller's message is
  // stored and the desktop application hears that the call is over.
  s_.journal.LogSys(
      "The line closes during a call: the call is ended and stored", 0,
      "CloseLine");
  DropCall(s_);
  if (s_.bWrapUpDue) WrapUpCall();
}

void frmLine::WrapUpCall() {
  const char* tag = "ErrTapi1_Idle";
  s_.bWrapUpDue = false;
  s_.bInCall = false;
  Trapped(s_.journal, tag, [&] {
    if (s_.Wave1->IsPlaying()) s_.Wave1->StopPlay();
    if (s_.Wave1->IsRecording()) s_.Wave1->StopRecord();
    // A caller who gave up while the phone rang leaves the ring gap
    // running; it must not take the line once the call is over.
    TimerOff(s_.tmrRecRingCounter);
    TimerOff(s_.tmrSilence);
    TimerOff(s_.tmrRecLong);
    TimerOff(s_.tmrRecFreqCounter);
  });

  std::string stored_type = std::string(kCallTypeIncoming);
  Trapped(s_.journal, tag, [&] {
    s_.Store->SetNumOfItemsInLast(s_.process.Options.NumOfItemsInLast);
    WrapUpOptions options;
    options.lListRecMoreThen = s_.Options.lListRecMoreThen;
    options.bListMessagesOnly = s_.Options.bListMessagesOnly;
    const WrapUpResult result =
        SaveFinishedCall(*s_.Store, s_.Call, s_.Tapi1->DeviceIndex(), options,
                         s_.bRemoteAccess, *s_.Wave1);
    stored_type = result.stored_type;
  });

  Trapped(s_.journal, tag, [&] {
    // "Only if got a message": a voice message or a recorded incoming call.
    const bool got_message =
        IsMessageType(stored_type) && stored_type != kCallTypeOutgoingRecorded;
    if (!s_.Options.bOnlyIfGotMessage || got_message) PlayDisconnectSound(s_);
  });

  Trapped(s_.journal, tag, [&] {
    const std::string device = DeviceIndexText(s_);
    const std::string& type = s_.Call.info.call_type;
    SendToDesktop(s_, s_.udiIdle.get(), kChannelIdle,
                  {"Tapi_Idle", device, type});
    SendToDesktop(s_, s_.udiOut.get(), kChannelOut,
                  {"Tapi_Idle", device, type});
  });

  Trapped(s_.journal, tag, [&] {
    const std::string& type = s_.Call.info.call_type;
    if (s_.Options.bSendToMail && ForwardsCallType(s_.Options.nActMail, type) &&
        s_.hooks.SendMailForCall) {
      s_.hooks.SendMailForCall();
    }
  });
  Trapped(s_.journal, tag, [&] {
    const std::string& type = s_.Call.info.call_type;
    if (s_.Options.bApp && ForwardsCallType(s_.Options.nActApp, type) &&
        s_.hooks.SendToApp) {
      s_.hooks.SendToApp();
    }
  });

  Trapped(s_.journal, tag, [&] { LoadOptionsForNextCall(); });
}

void frmLine::Tapi_Dialing() {
  Trapped(s_.journal, "ErrTapi1_Dialing",
          [&] { SendOutWithDevice(s_, "Tapi_Dialing"); });
}

void frmLine::Tapi_MonitorDigit(const std::string& digit) {
  Trapped(s_.journal, "ErrTapi1_MonitorDigit", [&] {
    if (s_.hooks.MonitorDigit) s_.hooks.MonitorDigit(digit);
  });
}

void frmLine::CallOut(const std::string& number, bool record) {
  Trapped(s_.journal, "CallOut", [&] {
    const bool call_before = s_.bWrapUpDue;
    StartCallInfo(s_.process.TransText[kTransCallOut]);
    s_.Call.info.call_type =
        record ? kCallTypeOutgoingRecorded : kCallTypeOutgoing;
    s_.Call.info.caller_number = CallerText(number);
    s_.bCallOutRec = record;
    std::string call_text;
    const int32_t result = s_.Tapi1->MakeCall(number, call_text);
    s_.journal.LogSys("Tapi.MakeCall(" + DeviceIndexText(s_) + ")->" +
                          s_.Tapi1->GetErrorText(result),
                      0, "");
    // A call that was never placed has nothing to wrap up.
    if (result != 0) s_.bWrapUpDue = call_before;
  });
}

}  // namespace lw
