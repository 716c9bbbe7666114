// A speech voice: speaks text asynchronously on a local sound device or into
// the line, and writes speech into wave files.
//
// The speech window owns one voice for the sound device; the line controller
// owns another that speaks into calls. The two are independent: cutting off
// one never touches the other.
//
// Contract shared by every implementation:
// - No operation throws; failures return non-zero and are otherwise
//   harmless (with no voice installed, Speak fails and nothing is heard).
// - Speak returns at once. A new Speak cuts off whatever this voice is still
//   speaking; Speak("") only cuts off.
// - EndStream runs on the loop thread, never inside an operation, once for
//   each text spoken to its end. A text cut off by a later Speak raises
//   none, nor does an empty text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lw {

inline constexpr int32_t kVoiceRateMin = -10;
inline constexpr int32_t kVoiceRateMax = 10;

struct VoiceEvents {
  // The last text given to Speak has been spoken to its end.
  std::function<void()> EndStream;
};

class Voice {
 public:
  virtual ~Voice() = default;

  virtual void SetEvents(VoiceEvents events) = 0;

  // Descriptions of the installed voices, in the engine's order; indexes
  // into this list select a voice.
  virtual std::vector<std::string> GetVoices() = 0;
  // Selects voice `index` for the next Speak. Non-zero when out of range
  // (the voice stays as it was).
  virtual int32_t SetVoice(int32_t index) = 0;
  // Speaking rate -10 (slowest) .. 10 (fastest), 0 normal; values outside
  // are clamped.
  virtual void SetRate(int32_t rate) = 0;
  virtual int32_t Rate() = 0;

  // Speech goes to local sound device `index` (an index into the sound
  // device list), at 22 050 Hz. The default output.
  virtual int32_t SetOutput(int32_t index) = 0;
  // Speech goes into the call, at 8 kHz, through the line's wave-out
  // endpoint (the telephony control's GetDeviceID(2)).
  virtual int32_t SetLineOutput(int32_t wave_out_device) = 0;

  // Cuts off any speech of this voice, then speaks `text` (which may carry
  // speech markup) on the selected output. 0 = speaking started.
  virtual int32_t Speak(const std::string& text) = 0;
  virtual bool IsSpeaking() = 0;

  // Writes `text` as speech into `file` (native path, created or replaced),
  // 8 kHz 16-bit mono PCM, and returns when the file is complete. Speech in
  // progress and the selected output are not touched. 0 = file written.
  virtual int32_t SaveTextToWav(const std::string& text,
                                const std::string& file) = 0;
};

}  // namespace lw
