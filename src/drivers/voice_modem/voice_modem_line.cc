#include "drivers/voice_modem/voice_modem_line.h"

#include <array>
#include <span>
#include <utility>

namespace lw {

std::string VoiceModemErrorText(int32_t code) {
  switch (code) {
    case kVoiceModemNoCall:
      return "There is no call on the voice modem";
    case kVoiceModemBadState:
      return "The voice modem's call cannot do that now";
    case kVoiceModemPortBusy:
      return "The voice modem's port is in use";
    case kVoiceModemLost:
      return "The voice modem is gone";
    case kVoiceModemNotVoice:
      return "The modem is not voice-capable";
  }
  return "Voice modem error " + std::to_string(code);
}

VoiceModemLine::VoiceModemLine(Clock& clock, LineAudioHub& hub,
                               std::unique_ptr<SerialPort> port,
                               int16_t port_number, ModemIdentity identity,
                               std::function<void(const std::string&)> report)
    : clock_(clock),
      port_(std::move(port)),
      port_number_(port_number),
      identity_(std::move(identity)),
      report_(std::move(report)),
      signals_(*identity_.profile),
      audio_(hub) {
  audio_.SetHalfDuplex(true);
  audio_.SetChangeHandler([this] { UpdateFlow(); });
  session_ = std::make_unique<ModemSession>(
      clock_, *port_,
      ModemSession::Events{[this](const std::string& l) { OnLine(l); },
                           [this](char c) { OnCode(c); },
                           [this](std::string_view s) { OnSound(s); },
                           [this] { OnStreamEnd(); }, [this] { OnLost(); }});
  pacing_ = clock_.CreateTimer([this] { OnTick(); });
  pacing_->SetInterval(kBlockMs);
  give_up_ = clock_.CreateTimer([this] { OnGiveUp(); });
  give_up_->SetInterval(kGiveUpMs);
  retry_ = clock_.CreateTimer([this] { OnRetry(); });
  retry_->SetInterval(kRetryMs);
  port_->SetCommPort(port_number_);
  port_->SetSettings(std::to_string(PortSpeedFor(identity_.format.sound)) +
                     ",n,8,1");
  // Sound at the port's full speed: the modem holds the host back through
  // CTS while its buffer is full.
  port_->SetHardwareFlowControl(true);
}

VoiceModemLine::~VoiceModemLine() {
  *alive_ = false;
  audio_.SetChangeHandler(nullptr);
  session_.reset();
  port_->SetPortOpen(false);
}

DeviceInfo VoiceModemLine::Caps() {
  return {identity_.name, identity_.voice, identity_.voice, identity_.voice};
}

int32_t VoiceModemLine::Open(int32_t, int32_t) {
  if (!identity_.voice) return kVoiceModemNotVoice;
  if (lost_) return kVoiceModemLost;
  if (open_controls_ == 0) {
    const int32_t result = OpenPort();
    if (result != 0) return result;
  }
  ++open_controls_;
  return 0;
}

int32_t VoiceModemLine::Close() {
  if (open_controls_ == 0) return 0;
  if (--open_controls_ == 0) {
    if (state_ != State::kReady && state_ != State::kClosed && !lost_) {
      // The call is abandoned without events: off the hook at once.
      StopStream();
      session_->Write("ATH\r");
    }
    ClosePort();
  }
  return 0;
}

int32_t VoiceModemLine::OpenPort() {
  const int32_t result = port_->SetPortOpen(true);
  if (result != 0) {
    Report("cannot open the port: " + port_->ErrorText(result));
    return kVoiceModemPortBusy;
  }
  Setup();
  return 0;
}

void VoiceModemLine::ClosePort() {
  session_->Abandon(ModemResult::kLost);
  session_->SetStreaming(false);
  port_->SetPortOpen(false);
  pacing_->SetEnabled(audio_.has_sources());
  give_up_->SetEnabled(false);
  ++call_serial_;
  state_ = State::kClosed;
  flow_ = Flow::kCommand;
  awaiting_end_result_ = false;
  monitoring_ = false;
}

void VoiceModemLine::Setup() {
  state_ = State::kReady;
  unexpected_ = 0;
  flow_ = Flow::kCommand;
  const ModemProfile& p = *identity_.profile;
  const std::string format =
      std::string(p.voice_mode.substr(0, 3)) == "AT#" ? "AT#VSM=" : "AT+VSM=";
  const std::vector<std::string> commands = {
      "ATE0 V1",
      std::string(p.voice_mode),
      std::string(p.caller_id),
      std::string(p.extra_setup),
      format + std::to_string(identity_.format.number) + ",8000",
      std::string(p.silence)};
  for (const std::string& command : commands) {
    if (command.empty()) continue;
    session_->Command(command, [this, command](
                                   ModemResult result,
                                   const std::vector<std::string>&) {
      if (result == ModemResult::kTimeout) {
        // A modem that went quiet: said once, the rest of the set-up
        // left out; its next report (a RING) is taken as it comes.
        Report("no answer from the modem to " + command + " within " +
               std::to_string(kCommandTimeoutMs / 1000) +
               " s; the rest of its set-up is left out");
        session_->Abandon(ModemResult::kLost);
      } else if (result != ModemResult::kOk && result != ModemResult::kLost) {
        Report(command + " answered " + std::string(ResultText(result)));
      }
    });
  }
}

int32_t VoiceModemLine::GetDeviceID(int16_t device_class) {
  switch (device_class) {
    case kDeviceClassWaveIn:
      return audio_.wave_in();
    case kDeviceClassWaveOut:
      return audio_.wave_out();
    case kDeviceClassSerialPort:
      return port_number_;
  }
  return -1;
}

int32_t VoiceModemLine::Answer() {
  if (lost_) return kVoiceModemLost;
  if (state_ != State::kOffered) return kVoiceModemBadState;
  state_ = State::kAnswering;
  give_up_->SetEnabled(false);
  const uint64_t serial = call_serial_;
  session_->Command(
      std::string(identity_.profile->answer),
      [this, serial](ModemResult result, const std::vector<std::string>&) {
        if (serial != call_serial_ || state_ != State::kAnswering) return;
        const std::string_view expected = identity_.profile->answer_result;
        if (ResultText(result) != expected && result != ModemResult::kOk &&
            result != ModemResult::kVcon) {
          Report("answering failed: " + std::string(ResultText(result)));
          EndCall();
          if (events_.Idle) events_.Idle();
          return;
        }
        state_ = State::kConnected;
        if (events_.Connected) events_.Connected();
        UpdateFlow();
      });
  return 0;
}

int32_t VoiceModemLine::Drop() {
  if (lost_) return kVoiceModemLost;
  if (state_ == State::kReady || state_ == State::kClosed)
    return kVoiceModemNoCall;
  StopStream();
  session_->Abandon(ModemResult::kLost);
  session_->Command("ATH", nullptr);
  session_->Command(std::string(identity_.profile->voice_mode), nullptr);
  EndCall();
  if (events_.Idle) events_.Idle();
  return 0;
}

int32_t VoiceModemLine::MonitorDigits(bool on) {
  if (lost_) return kVoiceModemLost;
  monitoring_ = on;
  return 0;
}

int32_t VoiceModemLine::Dial(const std::string& number,
                             std::string& call_text) {
  call_text.clear();
  if (lost_) return kVoiceModemLost;
  if (state_ != State::kReady) return kVoiceModemBadState;
  state_ = State::kDialing;
  call_text = number;
  if (events_.Dialing) events_.Dialing();
  const uint64_t serial = call_serial_;
  session_->Command(
      "ATDT" + number,
      [this, serial](ModemResult result, const std::vector<std::string>&) {
        if (serial != call_serial_ || state_ != State::kDialing) return;
        if (result == ModemResult::kVcon || result == ModemResult::kConnect) {
          state_ = State::kConnected;
          if (events_.Connected) events_.Connected();
          UpdateFlow();
          return;
        }
        if (result == ModemResult::kLost) return;
        Report("the call was not connected: " +
               std::string(ResultText(result)));
        session_->Command("ATH", nullptr);
        EndCall();
        if (events_.Idle) events_.Idle();
      },
      kDialTimeoutMs);
  return 0;
}

void VoiceModemLine::OnLine(const std::string& line) {
  const std::optional<ModemResult> result = ResultOf(line);
  if (result == ModemResult::kRing) {
    OnRing();
    return;
  }
  if (const std::optional<CallerIdField> field = ParseCallerIdLine(line)) {
    if (state_ == State::kReady || state_ == State::kOffered) {
      if (caller_reported_) caller_ = {};
      caller_reported_ = false;
      caller_.Add(*field);
    }
    return;
  }
  if (result && awaiting_end_result_) {
    // The answer to the end of a sound stream: the modem is back in voice
    // command mode.
    awaiting_end_result_ = false;
    flow_ = Flow::kCommand;
    UpdateFlow();
    return;
  }
  if (result == ModemResult::kNoCarrier && state_ == State::kConnected) {
    FarEndGone();
    return;
  }
  if (result == ModemResult::kOk || ++unexpected_ > kMaxUnexpected) return;
  // Noise on the line is text a stranger controls: control bytes shown as
  // "?", and only the first lines of it journalled.
  std::string shown = line;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  Report("unexpected from the modem: " + shown +
         (unexpected_ == kMaxUnexpected ? " (no more such lines journalled)"
                                        : ""));
}

void VoiceModemLine::OnRing() {
  if (state_ == State::kReady) {
    state_ = State::kOffered;
    rings_ = 0;
    picked_up_ = false;
    if (events_.InComeCall) events_.InComeCall();
  }
  if (state_ != State::kOffered) return;
  if (caller_.any && !caller_reported_) {
    caller_reported_ = true;
    if (events_.CallerID) events_.CallerID(caller_.name, caller_.number);
  }
  ++rings_;
  give_up_->SetEnabled(false);
  give_up_->SetEnabled(true);
  if (events_.Ring) events_.Ring(rings_);
}

void VoiceModemLine::OnGiveUp() {
  give_up_->SetEnabled(false);
  if (state_ != State::kOffered || picked_up_) return;
  EndCall();
  if (events_.Idle) events_.Idle();
}

void VoiceModemLine::OnCode(char code) {
  std::string digit;
  const ModemSignal signal = signals_.Decode(code, digit);
  switch (signal) {
    case ModemSignal::kDigit:
      if (monitoring_ && state_ == State::kConnected && events_.MonitorDigit)
        events_.MonitorDigit(digit);
      break;
    case ModemSignal::kHangUp:
      if (state_ == State::kConnected) FarEndGone();
      break;
    case ModemSignal::kPickUp:
      if (state_ == State::kOffered) {
        picked_up_ = true;
        give_up_->SetEnabled(false);
      }
      break;
    case ModemSignal::kRing:
      OnRing();
      break;
    case ModemSignal::kOverrun:
    case ModemSignal::kUnderrun:
      OnBufferReport(signal == ModemSignal::kOverrun);
      break;
    case ModemSignal::kNone:
      break;
  }
}

void VoiceModemLine::OnBufferReport(bool overrun) {
  // The stream goes on: a gap in the recording or a moment of silence in
  // what is played, once a call in the journal.
  bool& reported = overrun ? overrun_reported_ : underrun_reported_;
  if (reported) return;
  reported = true;
  Report(overrun ? "the modem's receive buffer overran: a moment of the "
                   "call's sound is missing, the call goes on"
                 : "the modem ran out of sound to play: a moment of silence "
                   "went into the call, the call goes on");
}

void VoiceModemLine::FarEndGone() {
  StopStream();
  state_ = State::kDisconnected;
  if (events_.Disconnected) events_.Disconnected();
}

void VoiceModemLine::EndCall() {
  ++call_serial_;
  play_bytes_.clear();
  state_ = State::kReady;
  give_up_->SetEnabled(false);
  monitoring_ = false;
  caller_ = {};
  caller_reported_ = false;
  overrun_reported_ = false;
  underrun_reported_ = false;
  if (flow_ != Flow::kCommand) StopStream();
  flow_ = Flow::kCommand;
  awaiting_end_result_ = false;
}

void VoiceModemLine::StopStream() {
  switch (flow_) {
    case Flow::kPlaying:
    case Flow::kStartingPlay:
      session_->Write(std::string{kDle, kEtx});
      flow_ = Flow::kDraining;
      awaiting_end_result_ = true;
      break;
    case Flow::kRecording:
    case Flow::kStartingRecord:
      session_->Write(std::string{kDle, '!'});
      flow_ = Flow::kStopping;
      break;
    default:
      break;
  }
}

void VoiceModemLine::UpdateFlow() {
  pacing_->SetEnabled(audio_.has_sources());
  if (state_ != State::kConnected) return;
  const bool play = audio_.has_sources();
  const bool record = !play && audio_.has_sink();
  if (flow_ == Flow::kRecording && !record) {
    StopStream();
    return;
  }
  if (flow_ != Flow::kCommand || !session_->idle()) return;
  const uint64_t serial = call_serial_;
  if (play) {
    flow_ = Flow::kStartingPlay;
    session_->Command(
        std::string(identity_.profile->play),
        [this, serial](ModemResult result, const std::vector<std::string>&) {
          if (serial != call_serial_ || flow_ != Flow::kStartingPlay) return;
          if (result != ModemResult::kConnect) {
            Report("playing was refused: " + std::string(ResultText(result)));
            flow_ = Flow::kCommand;
            return;
          }
          flow_ = Flow::kPlaying;
          session_->Write(std::exchange(play_bytes_, {}));
          if (!audio_.has_sources()) StopStream();
        });
  } else if (record) {
    flow_ = Flow::kStartingRecord;
    session_->Command(
        std::string(identity_.profile->record),
        [this, serial](ModemResult result, const std::vector<std::string>&) {
          if (serial != call_serial_ || flow_ != Flow::kStartingRecord) return;
          if (result != ModemResult::kConnect) {
            Report("recording was refused: " + std::string(ResultText(result)));
            session_->SetStreaming(false);
            flow_ = Flow::kCommand;
            return;
          }
          flow_ = Flow::kRecording;
          if (audio_.has_sources() || !audio_.has_sink()) StopStream();
        },
        ModemSession::kCommandTimeoutMs, true);
  }
}

void VoiceModemLine::OnTick() {
  std::array<int16_t, kLineBlockSamples> block{};
  const bool any = audio_.PullBlock(block);
  if (state_ == State::kConnected && any) {
    const std::string bytes =
        ShieldSound(EncodeSound(identity_.format.sound, block));
    // Until the modem takes sound (AT+VTX answered, a recording stopped),
    // what the sources gave waits, a second at most.
    if (flow_ == Flow::kPlaying)
      session_->Write(bytes);
    else if (play_bytes_.size() <
             size_t(BytesPerSecond(identity_.format.sound)))
      play_bytes_ += bytes;
  }
  if (!any && !audio_.has_sources()) {
    pacing_->SetEnabled(false);
    if (flow_ == Flow::kPlaying) StopStream();
  }
}

void VoiceModemLine::OnSound(std::string_view sound) {
  received_.clear();
  DecodeSound(identity_.format.sound, sound, received_, carry_);
  if (flow_ == Flow::kRecording && audio_.has_sink() && !received_.empty())
    audio_.Received(received_);
}

void VoiceModemLine::OnStreamEnd() {
  // The modem's OK (or VCON) after DLE ETX ends the stream for good.
  awaiting_end_result_ = true;
  if (flow_ == Flow::kRecording) flow_ = Flow::kStopping;
}

void VoiceModemLine::OnLost() {
  if (lost_) return;
  lost_ = true;
  port_->SetPortOpen(false);
  session_->SetStreaming(false);
  ++call_serial_;
  state_ = State::kClosed;
  flow_ = Flow::kCommand;
  awaiting_end_result_ = false;
  give_up_->SetEnabled(false);
  monitoring_ = false;
  Report("the modem went away");
  retry_->SetEnabled(true);
  if (events_.LineLost) events_.LineLost();
}

void VoiceModemLine::OnRetry() {
  if (port_->SetPortOpen(true) != 0) return;
  retry_->SetEnabled(false);
  lost_ = false;
  Report("the modem is back");
  if (open_controls_ > 0)
    Setup();
  else
    port_->SetPortOpen(false);
  if (events_.LineBack) events_.LineBack();
}

}  // namespace lw
