// The call state machine, telephony mode: the telephony control's events
// carry each call from the offer through rings, caller identification and
// the connected call to the wrap-up, where the call is stored, the desktop
// application told and the call forwarded. While the call rings it is
// decided whether the line is taken to record a conversation (somebody
// picked up an extension), answered by the answering machine, blocked or
// left alone; the connected call then goes to recording, the answering
// machine or remote access. In serial caller-ID mode the call begins on the
// modem's serial port (SerialCallerIdMode) and the telephony events carry it
// from the hand-over of the modem on.
#include <string>
#include <utility>

#include "base/message_text.h"
#include "base/text.h"
#include "base/trapped.h"
#include "callstore/call_wrapup.h"
#include "callstore/contacts.h"
#include "line/line_controller.h"

namespace lw {

namespace {

// The journal sources of the call events, from the telephony control and,
// in serial caller-ID mode, from the modem.
constexpr char kTagIncomingCall[] = "ErrTapi1_InComeCall";
constexpr char kTagModemIncomingCall[] = "ErrComm_InComeCall";
constexpr char kTagRing[] = "ErrTapi1_Ring";
constexpr char kTagCallerId[] = "ErrTapi1_CallerID";
constexpr char kTagModemCallerId[] = "ErrComm_CallerID";
constexpr char kTagConnected[] = "ErrTapi1_Connected";
constexpr char kTagDisconnected[] = "ErrTapi1_Disconnected";
constexpr char kTagIdle[] = "ErrTapi1_Idle";
constexpr char kTagModemIdle[] = "ErrComm_Idle";
constexpr char kTagDialing[] = "ErrTapi1_Dialing";
constexpr char kTagDigit[] = "ErrTapi1_MonitorDigit";
// The end-of-call message of a call the telephony control carried.
constexpr char kMessageIdle[] = "Tapi_Idle";

constexpr uint32_t kRingGapIntervalMs = 100;
// Ticks of the ring gap after which the rings are taken to have stopped
// because somebody answered on an extension (the gap is over at 7.1 s).
constexpr int32_t kRingGapTicks = kMaxRingGapMs / kRingGapIntervalMs;
// A blocked caller is taken off-hook at this ring when not at once.
constexpr int32_t kBlockAtRing = 4;
// The ring before which a line has sent the caller identification.
constexpr int32_t kCallerIdRing = 2;
// TransText entries used as the description of a call.
constexpr int kTransIncomingCall = 1;
constexpr int kTransCallOut = 13;

// The caller name or number of a call without them.
constexpr const char* kUnknownCaller = "UNKNOWN";
constexpr const char* kBlanks = " \t\r\n\v\f";

// A caller name or number that was not received, or holds only blanks, is
// "UNKNOWN" in the stored call, the recording's name and the messages. Both
// the telephony control's and the modem's caller identification come through
// here, so control characters a caller sent are replaced before the text
// reaches a journal line, a record, a page or a message.
std::string CallerText(const std::string& received) {
  const std::string_view text = Trim(received, kBlanks);
  return text.empty() ? std::string(kUnknownCaller)
                      : ControlCharactersReplaced(text);
}

// The forwarding rule of "cmbActMail", "cmbActWebhook" and "cmbActApp": 0
// every call, 1 voice messages, 2 recorded incoming calls.
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

void LineController::WireCallEvents() {
  s_.ring_gap_timer = s_.devices.clock.CreateTimer([this] { OnRingGapTick(); });
  s_.ring_gap_timer->SetInterval(kRingGapIntervalMs);

  TelephonyEvents events;
  events.InComeCall = [this] { OnIncomingCall(); };
  events.Ring = [this](int32_t count) { OnRing(count); };
  events.CallerID = [this](const std::string& name, const std::string& number) {
    OnCallerId(name, number);
  };
  events.Connected = [this] { OnConnected(); };
  events.Disconnected = [this] { OnDisconnected(); };
  events.Idle = [this] { OnIdle(); };
  events.Dialing = [this] { OnDialing(); };
  events.MonitorDigit = [this](const std::string& digit) { OnDigit(digit); };
  events.LineLost = [this] { OnLineLost(); };
  events.LineBack = [this] { OnLineBack(); };
  s_.telephony->SetEvents(std::move(events));

  WaveEvents line_events;
  line_events.PlayDone = [this] {
    Trapped(s_.journal, "Wave1_PlayDone", [&] { OnLinePlayDone(); });
  };
  line_events.LevelReport = [this](int16_t& level) {
    recorder_.LevelReport(level);
  };
  s_.line_wave->SetEvents(std::move(line_events));

  WaveEvents player_events;
  player_events.PlayDone = [this] {
    Trapped(s_.journal, "WavePlayer_PlayDone", [&] { sounds_.PlayDone(); });
  };
  s_.WavePlayer->SetEvents(std::move(player_events));
}

void LineController::StartCall(const std::string& description) {
  call_ = {};
  s_.Store->SetCallInfo(call_.Call);
  call_.Call.description = description;
  call_.wrap_up_due = true;
}

void LineController::StopRingGapAndFreqTimers() {
  TimerOff(s_.ring_gap_timer.get());
  recorder_.StopToneDetection();
}

void LineController::OnIncomingCall() {
  Trapped(s_.journal, kTagIncomingCall, [&] {
    // Whatever the previous call left playing or recording ends here.
    StopPlayAndRecord(*s_.line_wave);
    StopPlayAndRecord(*s_.WavePlayer);
  });
  if (serial_caller_id_->on()) {
    // The modem announced the call already; the telephony control reports
    // it again once it has the modem, and carries it from here.
    serial_caller_id_->TelephonyHasCall();
    return;
  }
  IncomingCall("Tapi_");
}

void LineController::IncomingCall(const std::string& prefix) {
  const char* tag =
      prefix == "Tapi_" ? kTagIncomingCall : kTagModemIncomingCall;
  Trapped(s_.journal, tag, [&] {
    s_.in_call = true;
    s_.journal.LogSys(s_.telephony->GetErrorText(0), 0,
                      prefix + "InComeCall(" + DeviceIndexText() + ")");

    ++s_.IncomingCount;
    LoadCallOptions();
    StartCall(s_.process.TransText[kTransIncomingCall]);
    recorder_.NewCall();

    const CallOptions& o = s_.Options;
    if (o.detect_pick_up) {
      if (o.record_when == 0) {
        call_.record_if_picked_up = true;
      } else if (o.record_when == 1 &&
                 s_.IncomingCount == o.record_every_nth_call) {
        call_.record_if_picked_up = true;
        s_.IncomingCount = 0;
      }
    }
    if (call_.record_if_picked_up) {
      call_.RingGapTicks = 0;
      TimerOn(s_.ring_gap_timer.get());
    } else {
      TimerOff(s_.ring_gap_timer.get());
    }

    if (!o.announce_after_caller_id) sounds_.PlayIncomingSound();
    Send(kChannelOut, {prefix + "Incomming", DeviceIndexText(),
                       BoolText(call_.record_if_picked_up)});
  });
}

void LineController::OnRing(int32_t count) {
  Trapped(s_.journal, kTagRing, [&] {
    // With the modem taken from the serial port, the count goes on from the
    // rings the modem reported.
    const bool port_has_modem = serial_caller_id_->PortHasModem();
    count += serial_caller_id_->RingsBefore();
    Send(kChannelOut, {"Tapi_Ring", DeviceIndexText(), std::to_string(count),
                       BoolText(call_.record_if_picked_up)});
    s_.journal.LogSys("Tapi_Ring(" + std::to_string(s_.LineIndex) +
                          "):" + std::to_string(count),
                      0, "");

    if (call_.ignore_call) {
      recorder_.StopLimits();
      TimerOff(s_.ring_gap_timer.get());
      return;
    }
    // In serial caller-ID mode the decisions wait until the telephony control
    // has the modem (the serial port closed).
    if (port_has_modem) return;

    if (call_.remote_access_call) {
      AnswerCall();
      return;
    }
    const auto machine_answers_now = [&] {
      return s_.Options.answer_if_not_answered &&
             count >= s_.Options.rings_to_answer;
    };
    // A line sends the caller identification between the first and the
    // second ring. A caller without one by then, or by the answer when that
    // comes first, is looked up as "UNKNOWN", so that contact's choices
    // (its rings and greeting among them) hold for the call.
    if (!call_.caller_looked_up &&
        (count >= kCallerIdRing || machine_answers_now())) {
      LookUpUnidentifiedCaller();
      if (call_.block_call || call_.ignore_call) return;
    }
    call_.RingGapTicks = 0;
    if (call_.record_if_picked_up) {
      TimerOn(s_.ring_gap_timer.get());
    } else {
      TimerOff(s_.ring_gap_timer.get());
    }
    if (call_.block_call && count >= kBlockAtRing) s_.telephony->LineAnswer();
    if (machine_answers_now()) AnswerCall();
  });
}

void LineController::OnRingGapTick() {
  Trapped(s_.journal, "tmrRecRingCounter_Timer", [&] {
    ++call_.RingGapTicks;
    if (call_.RingGapTicks <= kRingGapTicks) return;
    TimerOff(s_.ring_gap_timer.get());
    call_.machine_answers = false;
    call_.recording_call = true;
    s_.telephony->LineAnswer();
  });
}

void LineController::AnswerCall() {
  Trapped(s_.journal, "AnswerCall", [&] {
    call_.machine_answers = true;
    call_.recording_call = false;
    const int32_t result = s_.telephony->LineAnswer();
    s_.journal.LogSys("Tapi.LineAnswer(" + std::to_string(s_.LineIndex) +
                          ")->" + s_.telephony->GetErrorText(result),
                      0, "");
    TimerOff(s_.ring_gap_timer.get());
  });
}

void LineController::OnCallerId(const std::string& name,
                                const std::string& number) {
  // In serial caller-ID mode the caller identification comes from the modem.
  if (!serial_caller_id_->on()) CallerIdentified(name, number, "Tapi_");
}

bool LineController::LookUpContact(const std::string& number, bool modem) {
  call_.caller_looked_up = true;
  CallOptions& o = s_.Options;
  CallInfo& info = call_.Call.info;
  // The contact's choices are laid over this call's options.
  ContactOverlay overlay = ToContactOverlay(o);
  ContactRecord contact{};
  if (s_.Store->contacts().FindContact(number, overlay, contact,
                                       MakeRegistryTextReader(s_.Reg)) == "-1")
    return false;
  ApplyContactOverlay(overlay, o);
  call_.contact_matched = true;
  call_.contact_text = FieldText(contact.second_text);
  info.contact = FieldText(contact.name);
  call_.Call.description = info.contact;
  call_.Call.contact_digit = ContactDigit(contact);

  call_.recording_call = o.detect_pick_up;
  call_.record_if_picked_up = o.detect_pick_up;
  if (!call_.recording_call) StopRingGapAndFreqTimers();
  call_.machine_answers = o.answer_if_not_answered;
  if (!call_.machine_answers && !call_.recording_call) call_.ignore_call = true;

  // A blocked or ignored caller is neither recorded nor answered.
  if (o.ContactBlock || o.ContactIgnore) {
    StopRingGapAndFreqTimers();
    call_.recording_call = false;
    call_.record_if_picked_up = false;
    call_.machine_answers = false;
  }
  if (o.ContactBlock) {
    call_.block_call = true;
    // Taken off-hook at once; the connected call is dropped. The modem's
    // call is answered at its fourth ring instead, once the telephony
    // control has it, so it must not be left ringing as ignored.
    if (!modem) {
      s_.telephony->LineAnswer();
      return true;
    }
    call_.ignore_call = false;
  }
  if (o.ContactIgnore) call_.ignore_call = true;
  // Forwarding "2": neither mail, webhook nor program for this caller ("3",
  // the contact's own forwarding of mail and program, came with the
  // overlay; the webhook keeps the line's settings).
  if (contact.forwarding[0] == '2') {
    o.forward_by_mail = false;
    o.forward_by_webhook = false;
    o.forward_to_app = false;
  }
  return false;
}

void LineController::LookUpUnidentifiedCaller() {
  Trapped(s_.journal, kTagCallerId, [&] {
    // The record keeps the "UNKNOWN" caller the call started with; the
    // desktop application hears of a caller identification only when one
    // comes, so no "Tapi_CID" goes out and no incoming sound plays here.
    LookUpContact(kUnknownCaller, false);
    if (call_.contact_matched && !call_.block_call) {
      s_.journal.LogSys(
          "No caller identification came: the caller is taken as " +
              std::string(kUnknownCaller) + ",Contact(" +
              call_.Call.info.contact + ")",
          0, "");
    }
  });
}

void LineController::CallerIdentified(const std::string& name,
                                      const std::string& number,
                                      const std::string& prefix) {
  const bool modem = prefix == "Comm_";
  Trapped(s_.journal, modem ? kTagModemCallerId : kTagCallerId, [&] {
    CallOptions& o = s_.Options;
    CallInfo& info = call_.Call.info;
    s_.in_call = true;
    info.caller_name = CallerText(name);
    info.caller_number = CallerText(number);

    // A contact's choices are laid over a call once. An identification that
    // comes after the call was looked up as "UNKNOWN" (later than the second
    // ring, or than an answer at the first) is looked up as one in time when
    // that lookup found no contact, since nothing was laid over the call
    // yet. When it found the "UNKNOWN" contact, that contact's choices stand
    // (the call may be answered or blocked already, and undoing a contact's
    // choices halfway is worse than keeping them): the identification only
    // names the caller in the record and the messages.
    // Nothing tells of a blocked caller.
    if (call_.contact_matched ? o.ContactBlock
                              : LookUpContact(info.caller_number, modem))
      return;

    if (o.allow_access_by_caller) {
      // Callers are not announced while access by caller number is on.
      if (info.caller_number == o.access_caller_number)
        call_.remote_access_call = true;
      return;
    }

    Send(kChannelCallerID,
         {prefix == "Tapi_" ? "Tapi_CID" : "Comm_CID", DeviceIndexText(),
          info.caller_name, info.caller_number, info.contact,
          call_.contact_text, BoolText(o.show_call_on_incoming),
          std::to_string(o.call_display_style),
          BoolText(o.show_line_control_on_call)});
    if (o.announce_after_caller_id) sounds_.PlayIncomingSound();
    s_.journal.LogSys(prefix + "CallerID:(Index:" + DeviceIndexText() +
                          "):" + info.caller_name + ":" + info.caller_number +
                          ",Contact(" + info.contact + ")",
                      0, "");
  });
  if (modem && !call_.remote_access_call && !s_.Options.allow_access_by_caller)
    serial_caller_id_->HandOver();
}

void LineController::OnConnected() {
  Trapped(s_.journal, kTagConnected, [&] {
    s_.journal.LogSys(s_.telephony->GetErrorText(0), 0,
                      "Tapi_Conected(" + DeviceIndexText() + ")");
    SendOutWithDevice("Tapi_Connected");
  });
  Trapped(s_.journal, kTagConnected, [&] {
    if (s_.speech != nullptr) s_.speech->StopSpeak();
  });
  s_.devices.clock.Pause(5);

  Trapped(s_.journal, kTagConnected, [&] {
    if (call_.block_call) {
      s_.telephony->LineDrop();
    } else if (call_.remote_access_call) {
      if (s_.hooks.StartRemoteAccess) s_.hooks.StartRemoteAccess();
    } else if (!call_.recording_call) {
      if (call_.machine_answers) screening_.GreetOrScreen();
      // An outgoing call placed with recording is recorded from here on.
      if (call_.record_call_out) recorder_.ContinueAfterGreeting();
    } else if (s_.Options.play_recording_notice) {
      machine_.PlayLegalNotice();
    } else {
      recorder_.ContinueAfterGreeting();
    }
  });
}

void LineController::OnDisconnected() {
  Trapped(s_.journal, kTagDisconnected, [&] {
    s_.journal.LogSys(s_.telephony->GetErrorText(0), 0,
                      "Tapi_Disconnected(" + DeviceIndexText() + ")");
  });
  recorder_.StopRecMessage();
  DropCall();
}

void LineController::OnIdle() {
  Trapped(s_.journal, kTagIdle, [&] {
    s_.in_call = false;
    s_.journal.LogSys(s_.telephony->GetErrorText(0), 0,
                      "Tapi_Idle(" + DeviceIndexText() + ")");
  });
  // A call wrapped up when the line closed or refused the hang-up is not
  // stored a second time should its Idle still arrive.
  if (call_.wrap_up_due) WrapUpCall(kMessageIdle);
  SwitchToWantedLineWhenIdle();
}

void LineController::EndCallBeforeClose() {
  if (!call_.wrap_up_due) return;
  // A closed line reports nothing more of its call: the call is hung up and
  // wrapped up while the line is still open, so the caller's message is
  // stored and the desktop application hears that the call is over.
  s_.journal.LogSys(
      "The line closes during a call: the call is ended and stored", 0,
      "CloseLine");
  DropCall();
  if (call_.wrap_up_due) WrapUpCall(kMessageIdle);
}

void LineController::WrapUpCall(const char* message) {
  const char* tag =
      message == std::string(kMessageIdle) ? kTagIdle : kTagModemIdle;
  call_.wrap_up_due = false;
  s_.in_call = false;
  Trapped(s_.journal, tag, [&] {
    StopPlayAndRecord(*s_.line_wave);
    // A caller who gave up while the phone rang leaves the ring gap
    // running; it must not take the line once the call is over.
    TimerOff(s_.ring_gap_timer.get());
    recorder_.StopLimits();
  });

  std::string stored_type = std::string(kCallTypeIncoming);
  WrapUpResult stored;
  Trapped(s_.journal, tag, [&] {
    s_.Store->SetNumOfItemsInLast(s_.process.Options.NumOfItemsInLast);
    WrapUpOptions options;
    options.list_calls_longer_than = s_.Options.list_calls_longer_than;
    options.list_messages_only = s_.Options.list_messages_only;
    stored =
        SaveFinishedCall(*s_.Store, call_.Call, s_.telephony->DeviceIndex(),
                         options, call_.remote_access_call, *s_.line_wave);
    stored_type = stored.stored_type;
  });

  Trapped(s_.journal, tag, [&] {
    // "Only if got a message": a voice message or a recorded incoming call.
    const bool got_message =
        IsMessageType(stored_type) && stored_type != kCallTypeOutgoingRecorded;
    if (!s_.Options.disconnect_only_with_message || got_message)
      sounds_.PlayDisconnectSound();
  });

  // The modem goes back to the serial port, unless it is there already
  // (the caller gave up before the hand-over) or the line is closing.
  serial_caller_id_->CallEnded();

  Trapped(s_.journal, tag, [&] {
    const std::string device = DeviceIndexText();
    const std::string& type = call_.Call.info.call_type;
    Send(kChannelIdle, {message, device, type});
    Send(kChannelOut, {message, device, type});
  });

  Trapped(s_.journal, tag, [&] {
    const std::string& type = call_.Call.info.call_type;
    if (call_.MayBeForwarded() && s_.Options.forward_by_mail &&
        ForwardsCallType(s_.Options.mail_when, type))
      forwarding_.SendMailForCall();
  });
  Trapped(s_.journal, tag, [&] {
    const std::string& type = call_.Call.info.call_type;
    if (call_.MayBeForwarded() && s_.Options.forward_by_webhook &&
        ForwardsCallType(s_.Options.webhook_when, type))
      forwarding_.SendWebhookForCall(StoredCallOf(stored, call_, *s_.Store));
  });
  Trapped(s_.journal, tag, [&] {
    const std::string& type = call_.Call.info.call_type;
    if (call_.MayBeForwarded() && s_.Options.forward_to_app &&
        ForwardsCallType(s_.Options.app_when, type))
      forwarding_.SendToApp();
  });

  // The options of the next call; a contact's choices end with this one.
  Trapped(s_.journal, tag, [&] { LoadCallOptions(); });
  // Nothing decided about this call holds until the next one begins; its
  // record stays for an announcement that follows the disconnect sound.
  call_ = PerCall{.Call = std::move(call_.Call)};
  remote_.CallEnded();
  screening_.CallEnded();
}

void LineController::DropCall() {
  // Each step on its own: whatever fails, the line is hung up.
  Trapped(s_.journal, "DropCall", [&] {
    recorder_.StopLimits();
    TimerOff(s_.ring_gap_timer.get());
  });
  machine_.Reset();
  Trapped(s_.journal, "DropCall", [&] {
    if (s_.line_wave->IsPlaying()) s_.line_wave->StopPlay();
  });
  recorder_.StopRecMessage();
  bool dropped = false;
  Trapped(s_.journal, "DropCall", [&] {
    const int32_t result = s_.telephony->LineDrop();
    dropped = result == 0;
    s_.journal.LogSys("Tapi.LineDrop(" + DeviceIndexText() + ")->" +
                          s_.telephony->GetErrorText(result),
                      0, "");
  });
  // A timer tick that led here may have switched a limit on again.
  Trapped(s_.journal, "DropCall", [&] { recorder_.StopLimits(); });
  // A hang-up the line refused (a failed or closed device, or a call already
  // gone) brings no Idle for this call: it is wrapped up here, so it is still
  // stored and the desktop application told.
  if (!dropped && call_.wrap_up_due) WrapUpCall(kMessageIdle);
}

void LineController::OnLinePlayDone() {
  bool active = false;
  Trapped(s_.journal, "Wave1_PlayDone",
          [&] { active = s_.telephony->IsCallActive(); });
  if (!active) {
    DropCall();
  } else if (call_.remote_access_call) {
    if (s_.hooks.RemoteAccessPlayDone) s_.hooks.RemoteAccessPlayDone();
  } else if (call_.recording_call) {
    recorder_.ContinueAfterGreeting();
  } else if (call_.machine_answers) {
    machine_.PlayDone();
  }
  // A recording that waited for the line to stop playing (a half-duplex
  // line) starts unless another prompt followed.
  if (active && !s_.line_wave->IsPlaying()) recorder_.StartWaitingRecording();
}

void LineController::OnDialing() {
  Trapped(s_.journal, kTagDialing, [&] { SendOutWithDevice("Tapi_Dialing"); });
}

void LineController::OnDigit(const std::string& digit) {
  Trapped(s_.journal, kTagDigit, [&] {
    if (s_.hooks.MonitorDigit) s_.hooks.MonitorDigit(digit);
  });
}

void LineController::CallOut(const std::string& number, bool record) {
  Trapped(s_.journal, "CallOut", [&] {
    PerCall before = call_;
    StartCall(s_.process.TransText[kTransCallOut]);
    call_.Call.info.call_type =
        record ? kCallTypeOutgoingRecorded : kCallTypeOutgoing;
    call_.Call.info.caller_number = CallerText(number);
    call_.record_call_out = record;
    std::string call_text;
    const int32_t result = s_.telephony->MakeCall(number, call_text);
    s_.journal.LogSys("Tapi.MakeCall(" + DeviceIndexText() + ")->" +
                          s_.telephony->GetErrorText(result),
                      0, "");
    // A call that was never placed leaves the one in progress (if any) as it
    // was.
    if (result != 0) {
      call_ = std::move(before);
      return;
    }
    // A placed call is in progress until its wrap-up like an incoming one,
    // so auto mode does not switch the line off under it.
    s_.in_call = true;
    recorder_.NewCall();
  });
}

}  // namespace lw
