// The speech synthesiser of the espeak-ng library. The library keeps one
// synthesiser per process, with global state, so every voice of the process
// shares this one engine; it serialises their requests. Synthesis runs far
// faster than real time and hands back whole texts as samples: the voices
// pace, cut off and end their playback themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace lw {

inline constexpr int kEspeakWpmMin = 80;
inline constexpr int kEspeakWpmNormal = 175;
inline constexpr int kEspeakWpmMax = 450;

// The rate scale of the voices (-10 .. 10, 0 normal) in words per minute:
// linear from 80 at -10 to 175 at 0, and from 175 to 450 at 10. Values
// outside the scale are clamped.
int EspeakWordsPerMinute(int32_t rate);

struct EspeakVoiceEntry {
  std::string description;  // the voice's name, made unique in the list
  std::string identifier;   // selects the voice in the library
};

struct EspeakRequest {
  std::string identifier;
  int words_per_minute = kEspeakWpmNormal;
  std::string text;
  bool markup = false;  // elements in angle brackets are speech markup
};

// Synthesize results.
inline constexpr int kEspeakSynthOk = 0;
inline constexpr int kEspeakSynthNotStarted = 1;
inline constexpr int kEspeakSynthNoVoice = 2;  // the voice cannot be loaded
inline constexpr int kEspeakSynthFailed = 3;
inline constexpr int kEspeakSynthCancelled = 4;

class EspeakEngine {
 public:
  static EspeakEngine& Instance();

  // Starts the synthesiser from the "espeak-ng-data" folder inside
  // `data_path` (empty: the installed data) the first time it is called;
  // later calls only answer whether it runs. False when the data cannot be
  // loaded.
  bool Start(const std::string& data_path);

  // The installed voices: the library's default voice first, then the
  // others in the library's order. Empty when not started.
  std::vector<EspeakVoiceEntry> Voices();

  // The rate of the samples Synthesize produces (Hz).
  int SampleRate();

  // Speaks `request` into `out` (16-bit mono at SampleRate) and returns when
  // done, or as soon as `cancelled` answers true (polled between blocks of
  // samples). Safe from any thread; requests run one at a time.
  int Synthesize(const EspeakRequest& request,
                 const std::function<bool()>& cancelled,
                 std::vector<int16_t>* out);

 private:
  EspeakEngine() = default;

  std::mutex mu_;
  bool tried_ = false;
  bool started_ = false;
  int sample_rate_ = 0;
  std::vector<EspeakVoiceEntry> voices_;
  std::string current_voice_;
};

}  // namespace lw
