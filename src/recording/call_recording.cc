#include "recording/call_recording.h"

#include <unistd.h>

#include <string>

#include "base/trapped.h"
#include "callstore/call_wrapup.h"
#include "callstore/wave_formats.h"

namespace lw {

namespace {

// The journal sources of the three limit timers.
constexpr char kTagLengthLimit[] = "tmrRecLong_Timer";
constexpr char kTagSilence[] = "tmrSilence_Timer";
constexpr char kTagTone[] = "tmrRecFreqCounter_Timer";

constexpr uint32_t kRecLongIntervalMs = 1000;
constexpr uint32_t kSilenceIntervalMs = 100;
constexpr uint32_t kFreqIntervalMs = 100;
// Ticks of tone_timer_ after which tone detection ends (3.1 s).
constexpr int32_t kFreqTicks = 30;
// Seconds a recording's time moves on at most to find a free name.
constexpr int kNameTries = 60;

}  // namespace

int32_t RecordSizeValue(int16_t format_index) {
  switch (format_index) {
    case kWaveFormatPcm:
    case kWaveFormatMuLaw:
      return 8000;
    case kWaveFormatGsm610:
      return 16000;
    case kWaveFormatTrueSpeech:
      return 4800;
    default:
      return 0;
  }
}

CallRecorder::CallRecorder(CallLine& line, Clock& clock) : line_(line) {
  auto make = [&](const char* tag, uint32_t interval,
                  void (CallRecorder::*tick)()) {
    auto timer = clock.CreateTimer([this, tag, tick] {
      Trapped(line_.journal(), tag, [&] { (this->*tick)(); });
    });
    timer->SetInterval(interval);
    return timer;
  };
  length_limit_timer_ = make(kTagLengthLimit, kRecLongIntervalMs,
                             &CallRecorder::OnLengthLimitTick);
  silence_timer_ =
      make(kTagSilence, kSilenceIntervalMs, &CallRecorder::OnSilenceTick);
  tone_timer_ = make(kTagTone, kFreqIntervalMs, &CallRecorder::OnToneTick);
}

void CallRecorder::NewCall() {
  waiting_format_.reset();
  RecordSeconds_ = 0;
  SilenceTicks_ = 0;
  LastLevel_ = 0;
  FreqTicks_ = 0;
  SilenceThreshold_ = line_.options().message_silence_level;
  SilenceSeconds_ = line_.options().message_silence_seconds;
}

// The silence handling of the recording about to start, set afresh for
// every recording so that one call's choice never carries over into the
// next: on only when this recording's options ask for it.
void CallRecorder::SetSilenceHandling() {
  const CallOptions& o = line_.options();
  const PerCall& c = line_.call();
  bool detect = false;
  bool cut = false;
  int32_t level = 0;
  if (c.recording_call && o.drop_recording_on_silence) {
    detect = true;
    level = o.recording_silence_level;
    cut = o.cut_recording_silence;
  }
  if (c.machine_answers && o.drop_message_on_silence) {
    detect = true;
    // A message taken on a call that is recorded too keeps the call's level
    // (the message settings were loaded into the same threshold).
    level = c.recording_call && o.drop_recording_on_silence
                ? o.recording_silence_level
                : SilenceThreshold_;
    cut = o.cut_message_silence;
  }
  Wave& wave = line_.line_wave();
  wave.SetDetectSilence(detect);
  wave.SetCutSilence(cut);
  wave.SetSilenceLevel(detect ? level : 0);
}

void CallRecorder::Start(int16_t format_index) {
  PerCall& c = line_.call();
  waiting_format_.reset();
  if (c.remote_access_call) return;
  Journal& journal = line_.journal();
  Wave& wave = line_.line_wave();
  Telephony& tapi = line_.telephony();
  if (wave.IsPlaying() &&
      wave.IsHalfDuplex(tapi.GetDeviceID(kDeviceClassWaveIn))) {
    waiting_format_ = format_index;
    return;
  }
  Trapped(journal, "StartCallRecording", [&] {
    const CallOptions& o = line_.options();
    const int32_t sound_device = line_.process().SoundDeviceIndex;
    CallInfo& info = c.Call.info;

    // An index outside 0..3 keeps the format of the previous recording.
    SelectRecordingFormat(format_index, recording_format_);
    const int32_t size_value = RecordSizeValue(format_index);

    const int32_t device = tapi.GetDeviceID(kDeviceClassWaveIn);
    SetSilenceHandling();
    // A name that is taken (a file or the note of another call) is never
    // written over: the call moves on to the next free second.
    int32_t result = kWaveFileExists;
    for (int tries = 0; result == kWaveFileExists && tries < kNameTries;
         ++tries) {
      if (tries > 0 && !line_.store().MoveToNextSecond(c.Call)) break;
      info.message_path = RecordingName(info.caller_name, info.caller_number,
                                        info.date, info.time);
      const std::string file = c.Call.day_folder + info.message_path;
      result =
          ::access((file + std::string(kCallNoteSuffix)).c_str(), F_OK) == 0
              ? kWaveFileExists
              : wave.StartRecord(device, file, LineWaveFormat(),
                                 recording_format_, size_value, true);
    }
    journal.LogSys("Wave.StartRecord(" + std::to_string(device) + ")->" +
                       wave.GetRecordErrorText(result),
                   0, "");

    if (c.recording_call) {
      if (o.prescreen_recordings) {
        wave.StartMonitor(LineWaveFormat(), sound_device);
      }
      if (o.drop_on_digit) line_.MonitorDigitsJournalled(true);
      line_.SendOutWithDevice("RecCall");
      info.call_type = kCallTypeIncomingRecorded;
      wave.SetFreqDetect(true);
      TimerOn(tone_timer_.get());
      if (o.limit_recording_length) {
        MaxRecordMinutes_ = o.max_recording_minutes;
        TimerOn(length_limit_timer_.get());
      }
      if (o.drop_recording_on_silence) {
        SilenceThreshold_ = o.recording_silence_level;
        SilenceSeconds_ = o.recording_silence_seconds;
        TimerOn(silence_timer_.get());
      }
    }

    if (!c.machine_answers) return;
    line_.SendOutWithDevice("RecMessage");
    if (o.prescreen_messages) {
      wave.StartMonitor(LineWaveFormat(), sound_device);
    }
    info.call_type = kCallTypeVoiceMessage;
    if (o.limit_message_length) {
      MaxRecordMinutes_ = o.max_message_minutes;
      TimerOn(length_limit_timer_.get());
    }
    if (o.drop_message_on_silence) TimerOn(silence_timer_.get());
  });
  // Noted once the call's type is settled: a crash during the call leaves
  // the note, and the next start stores the call from it.
  Trapped(journal, "StartCallRecording", [&] {
    if (wave.IsRecording())
      NoteCallInProgress(c.Call, tapi.DeviceIndex(), journal);
  });
}

void CallRecorder::ContinueAfterGreeting() {
  bool active = false;
  Trapped(line_.journal(), "ContinueAfterGreeting",
          [&] { active = line_.telephony().IsCallActive(); });
  if (!active) {
    line_.DropCall();
    return;
  }
  Start(line_.options().recording_format);
}

void CallRecorder::StartWaitingRecording() {
  if (waiting_format_) Start(*waiting_format_);
}

void CallRecorder::StopRecMessage() {
  waiting_format_.reset();
  Wave& wave = line_.line_wave();
  Trapped(line_.journal(), "StopRecMessage", [&] {
    if (wave.IsMonitoring()) wave.StopMonitor();
  });
  Trapped(line_.journal(), "StopRecMessage", [&] {
    if (!wave.IsRecording()) return;
    const int32_t result = wave.StopRecord();
    line_.journal().LogSys(wave.GetRecordErrorText(result), result,
                           "StopRecMessage:Wave1.StopRecord");
  });
}

void CallRecorder::StartLengthLimit(double minutes) {
  RecordSeconds_ = 0;
  MaxRecordMinutes_ = minutes;
  TimerOn(length_limit_timer_.get());
}

void CallRecorder::StopLimits() {
  TimerOff(silence_timer_.get());
  TimerOff(length_limit_timer_.get());
  TimerOff(tone_timer_.get());
}

void CallRecorder::StopToneDetection() { TimerOff(tone_timer_.get()); }

void CallRecorder::OnLengthLimitTick() {
  ++RecordSeconds_;
  if (RecordSeconds_ > MaxRecordMinutes_ * 60) {
    TimerOff(length_limit_timer_.get());
    line_.DropCall();
  }
}

void CallRecorder::OnSilenceTick() {
  bool active = false;
  Trapped(line_.journal(), kTagSilence,
          [&] { active = line_.telephony().IsCallActive(); });
  if (!active) {
    TimerOff(silence_timer_.get());
    line_.DropCall();
    return;
  }
  if (LastLevel_ < SilenceThreshold_) {
    ++SilenceTicks_;
    if (SilenceTicks_ / 10 >= SilenceSeconds_) {
      TimerOff(silence_timer_.get());
      line_.DropCall();
    }
  } else {
    SilenceTicks_ = 0;
  }
}

void CallRecorder::OnToneTick() {
  ++FreqTicks_;
  if (FreqTicks_ > kFreqTicks) {
    TimerOff(tone_timer_.get());
    line_.line_wave().SetFreqDetect(false);
  }
}

}  // namespace lw
