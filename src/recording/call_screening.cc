#include "recording/call_screening.h"

#include <string>

#include "base/trapped.h"
#include "callstore/call_record.h"

namespace lw {

namespace {

constexpr char kTag[] = "CallScreening";

}  // namespace

CallScreening::CallScreening(CallLine& line, AnsweringMachine& machine,
                             Clock& clock)
    : line_(line), machine_(machine) {
  timer_ = clock.CreateTimer(
      [this] { Trapped(line_.journal(), kTag, [&] { OnTimeout(); }); });
}

void CallScreening::GreetOrScreen() {
  PerCall& call = line_.call();
  const CallOptions& o = line_.options();
  // Only incoming calls: an outgoing call carries its own type already.
  if (!o.screen_unknown || call.contact_matched || call.remote_access_call ||
      call.Call.info.call_type != kCallTypeIncoming) {
    machine_.PlayGreeting();
    return;
  }
  Trapped(line_.journal(), kTag, [&] { line_.MonitorDigitsJournalled(true); });
  if (line_.SpeakOnLine(o.screen_prompt) != 0) {
    line_.journal().LogSys(
        "The screening prompt cannot be spoken: the caller is greeted", 0,
        kTag);
    machine_.PlayGreeting();
    return;
  }
  holding_ = true;
  call.screened = true;
  description_ = call.Call.description;
  call.Call.description = kScreenedDescription;
  TimerOff(timer_.get());
}

void CallScreening::RestartTime() {
  TimerOff(timer_.get());
  timer_->SetInterval(static_cast<uint32_t>(line_.options().screen_seconds) *
                      1000);
  timer_->SetEnabled(true);
}

void CallScreening::SpeechEnded() {
  if (holding()) RestartTime();
}

void CallScreening::Release() {
  TimerOff(timer_.get());
  if (!holding()) return;
  holding_ = false;
  line_.call().screened = false;
  line_.call().Call.description = description_;
}

void CallScreening::Pass() {
  Release();
  line_.StopAllSound();
  machine_.PlayGreeting();
}

void CallScreening::Fail(const std::string& why) {
  TimerOff(timer_.get());
  holding_ = false;
  line_.journal().LogSys("The caller is screened: " + why, 0, kTag);
  line_.StopAllSound();
  line_.DropCall();
}

void CallScreening::OnTimeout() {
  TimerOff(timer_.get());
  if (holding()) Fail("no screen digit in time");
}

void CallScreening::CallEnded() {
  TimerOff(timer_.get());
  holding_ = false;
}

}  // namespace lw
