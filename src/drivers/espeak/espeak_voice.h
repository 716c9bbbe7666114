// A speech voice on espeak-ng.
//
// Speak hands the text to this voice's worker thread, which synthesises it
// whole (far faster than real time) and posts the samples back to the loop
// with Clock::Post. Playback is ours, so cut-off and the end of a text are
// exact:
// - on a local sound device, the samples (22 050 Hz) go to a local sound
//   output, whose drained notice ends the text;
// - into the line, the samples are resampled to 8 kHz and become a play
//   source of the line's audio endpoint, pulled at the line's pace; the text
//   ends at the pull after its last block (that block has then been played).
//   A line that is gone by then ends the text at once.
// A new Speak (or Speak("")) bumps the voice's generation: synthesis in
// progress is abandoned, results of older generations are dropped on
// arrival, and playback is silenced at once.
//
// Rate: -10 .. 10 maps onto 80 .. 450 words per minute, 0 = 175 (see
// EspeakWordsPerMinute). Voices: the installed ones, the library's default
// ("English (Great Britain)") first.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devices/clock.h"
#include "devices/line_audio.h"
#include "devices/local_sound_output.h"
#include "devices/sound_devices.h"
#include "devices/voice.h"
#include "drivers/espeak/espeak_engine.h"

namespace lw {

// Result codes (0 = done).
inline constexpr int32_t kEspeakNoVoice = 401;   // no engine or no voice
inline constexpr int32_t kEspeakBadIndex = 402;  // voice or output index
inline constexpr int32_t kEspeakNoOutput = 403;  // device cannot be opened
inline constexpr int32_t kEspeakCannotWrite = 404;
inline constexpr int32_t kEspeakSynthError = 405;

class EspeakVoice : public Voice, private LinePlaySource {
 public:
  // `data_path`: the folder holding "espeak-ng-data" (empty: the installed
  // data; the first voice of the process decides for all). With no data
  // every operation answers non-zero. Speech on the computer goes to
  // outputs made by `sound_output`. Handlers run on the loop of `clock`;
  // the voice is destroyed on the loop thread before `clock`,
  // `sound_devices` and `hub`, and none of its handlers runs afterwards.
  EspeakVoice(Clock& clock, SoundDevices& sound_devices, LineAudioHub& hub,
              const LocalSoundOutputFactory& sound_output,
              const std::string& data_path = {});
  ~EspeakVoice() override;
  EspeakVoice(const EspeakVoice&) = delete;
  EspeakVoice& operator=(const EspeakVoice&) = delete;

  void SetEvents(VoiceEvents events) override { events_ = std::move(events); }
  std::vector<std::string> GetVoices() override;
  int32_t SetVoice(int32_t index) override;
  void SetRate(int32_t rate) override;
  int32_t Rate() override { return rate_; }
  int32_t SetOutput(int32_t index) override;
  int32_t SetLineOutput(int32_t wave_out_device) override;
  int32_t Speak(const std::string& text) override;
  bool IsSpeaking() override { return speaking_; }
  int32_t SaveTextToWav(const std::string& text,
                        const std::string& file) override;

 private:
  struct Job {
    uint64_t generation = 0;
    EspeakRequest request;
    int out_rate = 0;
  };

  void CutOff();
  void RunWorker();
  void OnSynthesized(uint64_t generation, int result,
                     std::vector<int16_t> samples);
  // LinePlaySource: the line pulls the spoken text.
  size_t Pull(std::span<int16_t> block) override;
  void LineGone() override;
  void StopLine();
  // Ends the text of `generation` from the loop, not inside the line's pull.
  void PostFinish(uint64_t generation);
  void OnSoundDrained();
  void Finish();

  Clock& clock_;
  SoundDevices& sound_devices_;
  LineAudioHub& hub_;
  VoiceEvents events_;
  bool available_ = false;
  std::vector<EspeakVoiceEntry> voices_;

  // Loop-thread state.
  int32_t voice_ = 0;
  int32_t rate_ = 0;
  int32_t output_ = 0;
  bool to_line_ = false;
  int32_t line_device_ = -1;
  uint64_t generation_ = 0;
  bool speaking_ = false;
  bool playing_local_ = false;
  std::unique_ptr<LocalSoundOutput> sound_;
  // The device and rate `sound_` is open on; empty while it is closed.
  std::string sound_name_;
  int sound_rate_ = 0;
  int32_t playing_line_device_ = -1;
  LineAudioEndpoint* line_ = nullptr;  // while it pulls this voice
  std::vector<int16_t> line_pcm_;
  size_t line_pos_ = 0;

  // Shared with the worker.
  std::mutex mu_;
  std::condition_variable cv_;
  std::optional<Job> job_;
  bool quit_ = false;
  // The generation whose synthesis is wanted; older ones are abandoned.
  std::atomic<uint64_t> wanted_{0};
  std::atomic<bool> quitting_{false};
  std::thread worker_;

  // Lets posted handlers know the voice is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lw
