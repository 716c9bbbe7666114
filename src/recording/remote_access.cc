#include "recording/remote_access.h"

#include <string>
#include <string_view>

#include "base/trapped.h"
#include "callstore/templates.h"
#include "journal/journal.h"

namespace lw {

namespace {

constexpr const char* kWellcome = "Wellcome";
constexpr const char* kBeforeCall = "BeforeCall";
constexpr const char* kAfterCall = "AfterCall";

// The journal source of the access code timer.
constexpr char kTagAccessCodeTimer[] = "tmrPassRC_Timer";
constexpr uint32_t kPassIntervalMs = 1000;
// Seconds counted after a wrong code; the tick after them ends the call.
constexpr int32_t kPassSeconds = 16;
// Wrong codes allowed; the next one ends the call.
constexpr int32_t kPasswordTries = 3;
// The after text is spoken this often without a key before the call ends.
constexpr int32_t kAfterCallRepeats = 3;
// TransText entry that describes a remote-access call.
constexpr int kTransRemoteAccess = 9;
// How long the dialogue waits for a key after a recording could not be
// played when no message length is set: the call still ends.
constexpr double kUnplayableWaitMinutes = 2;

bool IsKeypadDigit(std::string_view digit) {
  if (digit.size() != 1) return false;
  const char c = digit[0];
  return (c >= '0' && c <= '9') || c == '*' || c == '#' ||
         (c >= 'A' && c <= 'D');
}

}  // namespace

RemoteAccess::RemoteAccess(CallLine& line, AnsweringMachine& machine,
                           CallRecorder& recorder, CallScreening& screening,
                           Clock& clock)
    : line_(line),
      machine_(machine),
      recorder_(recorder),
      screening_(screening),
      clock_(clock) {
  access_code_timer_ = clock_.CreateTimer([this] {
    Trapped(line_.journal(), kTagAccessCodeTimer,
            [&] { OnAccessCodeTimeout(); });
  });
  access_code_timer_->SetInterval(kPassIntervalMs);
}

void RemoteAccess::StopAnswering() {
  machine_.Reset();
  Trapped(line_.journal(), "StopAnswering", [&] {
    Wave& wave = line_.line_wave();
    if (wave.IsPlaying()) wave.StopPlay();
  });
  recorder_.StopRecMessage();
  // The ring gap stopped when the call was answered.
  recorder_.StopLimits();
}

void RemoteAccess::Start() {
  Trapped(line_.journal(), "StartRemoteAccess", [&] {
    screening_.Release();
    StopAnswering();
    TimerOff(access_code_timer_.get());
  });
  clock_.Pause(10);
  Trapped(line_.journal(), "StartRemoteAccess", [&] {
    line_.call().Call.description =
        line_.process().TransText[kTransRemoteAccess];
    remote_menu_active_ = false;
    RCStage_ = kWellcome;
    SpeakRemoteStage();
  });
}

void RemoteAccess::ReadCurrentEntry() {
  if (line_.store().GetLastCall(current_entry_, RCCallInfo_, true))
    RCCallInfo_ = {};
}

void RemoteAccess::SpeakRemoteStage() {
  remote_menu_active_ = false;
  // The welcome counts afresh: a position left past the end by an earlier
  // call (after its empty welcome) must not end this one unheard.
  if (RCStage_ != kWellcome && current_entry_ > counts_.NumOfCalls) {
    line_.StopAllSound();
    line_.DropCall();
    return;
  }
  const CallOptions& o = line_.options();
  std::string text;
  if (RCStage_ == kWellcome) {
    line_.store().CountLastCalls(counts_);
    line_.MonitorDigits(false);
    current_entry_ = 1;
    text = FillCountTemplate(o.RCMSGWellcome, counts_);
  } else if (RCStage_ == kBeforeCall) {
    line_.MonitorDigits(true);
    AfterCallCount_ = 0;
    ReadCurrentEntry();
    text = line_.FillForCall(o.RCMSGBeforeCall, RCCallInfo_);
  } else if (RCStage_ == kAfterCall) {
    line_.MonitorDigits(true);
    ReadCurrentEntry();
    text = line_.FillForCall(o.RCMSGAfterCall, RCCallInfo_);
  } else {
    return;
  }
  SpeakStageText(text);
  remote_menu_active_ = true;
}

void RemoteAccess::SpeakStageText(const std::string& text) {
  const uint64_t serial = ++texts_;
  const int32_t result = text.empty() ? 0 : line_.SpeakOnLine(text);
  if (!text.empty() && result == 0) return;
  line_.journal().LogSys(
      text.empty() ? "The " + RCStage_ + " text is empty: nothing is spoken"
                   : "The line voice cannot speak the " + RCStage_ + " text",
      result, "SpeakRemoteStage");
  // Silence must not stall the dialogue: it moves on as after the text.
  clock_.Post([this, alive = std::weak_ptr<bool>(alive_), serial] {
    if (!alive.expired() && serial == texts_) Voice_EndStream();
  });
}

void RemoteAccess::Voice_EndStream() {
  Trapped(line_.journal(), "Voice_EndStream", [&] {
    line_.MonitorDigits(true);
    if (!remote_menu_active_) return;
    if (RCStage_ == kWellcome) {
      if (counts_.NumOfCalls < 1) {
        EndCall();
        return;
      }
      current_entry_ = 1;
      RCStage_ = kBeforeCall;
      SpeakRemoteStage();
    } else if (RCStage_ == kBeforeCall) {
      AfterCallCount_ = 0;
      if (!RCCallInfo_.message_path.empty()) {
        // A recording that cannot be played is journalled there; the
        // dialogue then waits for a key, but no longer than a message may
        // last: a line that never reports the far end hanging up would
        // otherwise stay off-hook.
        const CallOptions& o = line_.options();
        if (PlayToAdminWave(line_, RCCallInfo_.message_path) != 0)
          recorder_.StartLengthLimit(o.limit_message_length
                                         ? o.max_message_minutes
                                         : kUnplayableWaitMinutes);
      } else {
        RCStage_ = kAfterCall;
        SpeakRemoteStage();
      }
    } else if (RCStage_ == kAfterCall) {
      if (++AfterCallCount_ < kAfterCallRepeats) {
        SpeakRemoteStage();
      } else {
        EndCall();
      }
    }
  });
}

void RemoteAccess::PlayDone() {
  Trapped(line_.journal(), "Wave1_PlayDone", [&] {
    if (RCStage_ != kWellcome && remote_menu_active_) {
      RCStage_ = kAfterCall;
      SpeakRemoteStage();
    }
  });
}

void RemoteAccess::MonitorDigit(const std::string& digit) {
  Trapped(line_.journal(), "ErrTapi1_MonitorDigit", [&] {
    const std::string device = line_.DeviceIndexText();
    if (!IsKeypadDigit(digit)) {
      line_.journal().LogSys(
          "\"" + JournalShown(digit) + "\" is not a keypad digit, ignored", 0,
          "Tapi_MonitorDigit(" + device + ")");
      return;
    }
    line_.journal().LogSys("Tapi_MonitorDigit(" + device + "):" + digit, 0, "");
    line_.Send(kChannelOut, {"Tapi_MonitorDigit", device, digit});

    if (line_.call().remote_access_call) {
      DialogueKey(digit);
      line_.Send(kChannelOut, {"Tapi_MonitorDigit", device, "DoRefresh"});
      return;
    }
    if (screening_.holding()) {
      ScreeningDigit(digit);
      return;
    }
    const CallOptions& o = line_.options();
    if (line_.line_wave().IsRecording() && digit == o.drop_digit &&
        line_.call().machine_answers && o.drop_on_digit) {
      line_.DropCall();
      return;  // a call that is over takes no access code
    }
    if (o.allow_remote_access) AccessCodeDigit(digit);
  });
}

void RemoteAccess::DialogueKey(const std::string& digit) {
  const CallOptions& o = line_.options();
  // Every key that acts cuts off what is spoken or played first.
  auto interrupt = [&] {
    remote_menu_active_ = false;
    line_.StopAllSound();
    recorder_.StopLimits();
  };
  if (digit == o.RCCloseRC) {
    interrupt();
    line_.DropCall();
    return;
  }
  if (digit == o.RCDelete) {
    interrupt();
    line_.store().RemoveFromLastCalls(current_entry_);
    const bool was_only_entry = counts_.NumOfCalls == 1;
    --counts_.NumOfCalls;
    if (was_only_entry) {
      current_entry_ = 0;
      RCStage_ = kWellcome;
    } else {
      if (current_entry_ > counts_.NumOfCalls) --current_entry_;
      RCStage_ = kBeforeCall;
    }
  } else if (digit == o.RCFirstDigit) {
    interrupt();
    current_entry_ = 1;
    RCStage_ = kBeforeCall;
  } else if (digit == o.RCNextDigit) {
    if (current_entry_ >= counts_.NumOfCalls) return;
    interrupt();
    ++current_entry_;
    RCStage_ = kBeforeCall;
  } else if (digit == o.RCPrevDigit) {
    if (current_entry_ <= 1) return;
    interrupt();
    --current_entry_;
    RCStage_ = kBeforeCall;
  } else if (digit == o.RCPlay) {
    interrupt();
    RCStage_ = kBeforeCall;
  } else {
    return;
  }
  SpeakRemoteStage();
}

void RemoteAccess::ScreeningDigit(const std::string& digit) {
  const CallOptions& o = line_.options();
  const bool by_code = o.allow_remote_access && !o.access_code.empty();
  // After a wrong code only the code is taken: the time after it would end
  // a message cut short.
  if (EnteredDigits_.empty() && PasswordFailures_ == 0 &&
      digit == o.screen_digit) {
    // An access code that begins with the screen digit goes on from it.
    if (by_code && o.access_code.starts_with(digit)) EnteredDigits_ = digit;
    screening_.Pass();
    return;
  }
  if (!by_code) {
    screening_.Fail("the key " + digit + " is not the screen digit");
    return;
  }
  // A key that may belong to the access code gives the whole time again;
  // keys past the code's length do not, so the time runs out on them.
  if (digit == o.access_confirm_digit ||
      EnteredDigits_.size() < o.access_code.size())
    screening_.RestartTime();
  AccessCodeDigit(digit);
}

void RemoteAccess::AccessCodeDigit(const std::string& digit) {
  const CallOptions& o = line_.options();
  if (digit != o.access_confirm_digit) {
    EnteredDigits_ += digit;
    return;
  }
  // Without a code, the confirm digit alone would open the list.
  if (o.access_code.empty()) {
    line_.journal().LogSys(
        "Remote access by code is allowed but no access code is set", 0,
        "Tapi_MonitorDigit");
    return;
  }
  if (EnteredDigits_ == o.access_code) {
    line_.call().remote_access_call = true;
    Start();
    return;
  }
  TimerOn(access_code_timer_.get());
  ++PasswordFailures_;
  PassTicks_ = 0;
  if (PasswordFailures_ > kPasswordTries) {
    EndCall();
    return;
  }
  EnteredDigits_.clear();
  StopAnswering();
  clock_.Pause(10);
  line_.SpeakOnLine(kWrongCodeText);
  line_.call().remote_access_call = false;
}

void RemoteAccess::OnAccessCodeTimeout() {
  if (PassTicks_ < kPassSeconds) {
    ++PassTicks_;
    return;
  }
  TimerOff(access_code_timer_.get());
  EndCall();
}

void RemoteAccess::EndCall() {
  remote_menu_active_ = false;
  line_.StopAllSound();
  line_.DropCall();
}

void RemoteAccess::CallEnded() {
  remote_menu_active_ = false;
  RCStage_.clear();
  ++texts_;
  TimerOff(access_code_timer_.get());
  EnteredDigits_.clear();
  PasswordFailures_ = 0;
  AfterCallCount_ = 0;
  PassTicks_ = 0;
  line_.StopAllSound();
}

}  // namespace lw
