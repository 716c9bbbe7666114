// Recording calls and voice messages, and the limits that end a recording:
// the maximum length, silence, and the end of tone detection.
//
// The recorder owns its three timers and what they count; it reaches the
// call through the CallLine. Everything runs on the loop thread and nothing
// throws: a failed step is journalled (where the device says why) or passed
// over, and the next step runs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "call/call_line.h"
#include "devices/clock.h"
#include "devices/wave_format_record.h"

namespace lw {

// The size value of a recording by format index: 8000 (PCM, mu-law), 16000
// (GSM 6.10), 4800 (TrueSpeech), 0 for an index outside 0..3.
int32_t RecordSizeValue(int16_t format_index);

class CallRecorder {
 public:
  CallRecorder(CallLine& line, Clock& clock);
  CallRecorder(const CallRecorder&) = delete;
  CallRecorder& operator=(const CallRecorder&) = delete;

  // A call begins: the counters cleared and the message silence limit taken
  // from the options as they are now.
  void NewCall();

  // Starts recording the current call into its day folder under the
  // recording name rule, in format `format_index` (0 PCM, 1 mu-law, 2 GSM
  // 6.10, 3 TrueSpeech). With recording_call the call recording's extras follow
  // (listening, digit watching, "RecCall", type "3", tone detection, length
  // and silence limits); with machine_answers the voice message's extras
  // ("RecMessage", listening, type "2", its limits). A remote-access call is
  // never recorded. The limits start even when the recording could not be
  // started; the call then ends by them or by hang-up. On a half-duplex line
  // nothing is recorded while a prompt plays into the call: the recording
  // waits for StartWaitingRecording at the prompt's end.
  void Start(int16_t format_index);
  // The line's playback has ended: a recording that waited for it starts.
  void StartWaitingRecording();

  // After a greeting or notice: drops the call when the caller has gone,
  // otherwise records the conversation in "cmbRecordFormatRec".
  void ContinueAfterGreeting();

  // Stops listening on the sound device and the recording (journalling the
  // recording's result).
  void StopRecMessage();

  // Ends the call `minutes` from now unless the limits are switched off
  // first; for a call that is not being recorded (remote access).
  void StartLengthLimit(double minutes);
  // Switches the three limit timers off.
  void StopLimits();
  // Switches the timer that ends tone detection off.
  void StopToneDetection();

  // The level report of the line's wave control while recording.
  void LevelReport(int16_t level) { LastLevel_ = level; }

 private:
  void SetSilenceHandling();
  void OnLengthLimitTick();
  void OnSilenceTick();
  void OnToneTick();

  CallLine& line_;
  std::unique_ptr<Timer> length_limit_timer_;  // 1 s, maximum length
  std::unique_ptr<Timer> silence_timer_;       // 100 ms, drop on silence
  std::unique_ptr<Timer> tone_timer_;          // 100 ms, ends tone detection

  double MaxRecordMinutes_ = 0;
  int32_t RecordSeconds_ = 0;     // ticks of length_limit_timer_
  int16_t SilenceThreshold_ = 0;  // level below which sound is silence
  int32_t SilenceSeconds_ = 0;    // silence that ends the call
  int32_t SilenceTicks_ = 0;      // 100 ms ticks of silence so far
  int32_t LastLevel_ = 0;         // last level reported while recording
  int32_t FreqTicks_ = 0;         // ticks of tone_timer_
  // The format of the current recording; a recording asked for in a format
  // outside the four keeps the previous one.
  WaveFormatRecord recording_format_{};
  // The format of a recording that waits for the end of a playback.
  std::optional<int16_t> waiting_format_;
};

}  // namespace lw
