// The audio of calls on line devices, where the wave driver and the voice
// meet the line drivers. Sound on a line is 8 kHz 16-bit mono PCM.
//
// Every line with audio owns one LineAudioEndpoint. The LineAudioHub numbers
// the endpoints (a wave-in and a wave-out number each, handed out by the
// telephony control's GetDeviceID) so the wave driver and the voice find
// them. Producers of sound (a wave file played into the call, the line
// voice) attach a LinePlaySource, the recorder attaches a sink; none of them
// keeps a clock. The line driver drives the endpoint at the line's own pace:
// it pulls the next block to send and hands over each block it received (the
// simulated line: a 20 ms block on the clock; a SIP line: its RTP packet
// timing; a voice modem: the byte rate of its serial port).
//
// Everything runs on the loop thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

namespace lw {

inline constexpr int kLineSampleRate = 8000;
// The simulated line sends and receives in blocks of 20 ms.
inline constexpr int kLineBlockSamples = 160;

class LineAudioHub;

// Sound that is played into a call, pulled by the line.
class LinePlaySource {
 public:
  virtual ~LinePlaySource() = default;
  // Fills the front of `block` with the next samples and returns how many;
  // the rest of the block is sent as silence. 0 means the sound has been
  // played to its end: the endpoint detaches the source. A source ends its
  // sound this way only; it must not add or remove sources from here.
  virtual size_t Pull(std::span<int16_t> block) = 0;
  // The endpoint is going away with the source still attached.
  virtual void LineGone() {}
};

class LineAudioEndpoint {
 public:
  using Sink = std::function<void(std::span<const int16_t> samples)>;

  // Takes the next pair of numbers in `hub`, which outlives the endpoint.
  explicit LineAudioEndpoint(LineAudioHub& hub);
  // Leaves the hub; attached sources hear LineGone.
  ~LineAudioEndpoint();
  LineAudioEndpoint(const LineAudioEndpoint&) = delete;
  LineAudioEndpoint& operator=(const LineAudioEndpoint&) = delete;

  int32_t wave_in() const { return wave_in_; }
  int32_t wave_out() const { return wave_out_; }

  // A half-duplex line (a voice modem) either plays into the call or records
  // it, never both at once; the line driver says so when it makes the
  // endpoint or learns it from its device. Lines are full duplex unless set.
  void SetHalfDuplex(bool half_duplex) { half_duplex_ = half_duplex; }
  bool half_duplex() const { return half_duplex_; }

  // --- The producers' and the recorder's side.
  // The line pulls `source` from its next block on, mixed with the other
  // sources, until the source answers 0 or is removed. While any source is
  // attached the line pulls at its pace whether or not a call carries the
  // sound (it then goes nowhere), so every sound ends in time. The line may
  // pull the first block inside this call.
  void AddPlaySource(LinePlaySource* source);
  void RemovePlaySource(LinePlaySource* source);
  // While a call is connected, the line hands the far end's audio to `sink`
  // in consecutive blocks at its pace, silence included (a gap in the far
  // end's sound arrives as zeros), so a recording is as long as the stretch
  // of call it covers. One sink at a time; an empty function detaches it.
  void SetRecordSink(Sink sink);

  // --- The line driver's side.
  // Runs whenever a source or the sink comes or goes, so the line paces
  // only while there is something to do.
  void SetChangeHandler(std::function<void()> changed) {
    changed_ = std::move(changed);
  }
  bool has_sources() const { return !sources_.empty(); }
  bool has_sink() const { return static_cast<bool>(sink_); }
  // The next block to send: every source's next samples mixed, zeros where
  // none has any. False when no source gave a sample.
  bool PullBlock(std::span<int16_t> block);
  // A block of the far end's sound, for the sink.
  void Received(std::span<const int16_t> samples);

 private:
  void Changed() {
    if (changed_) changed_();
  }

  LineAudioHub& hub_;
  int32_t wave_in_;
  int32_t wave_out_;
  bool half_duplex_ = false;
  std::vector<LinePlaySource*> sources_;
  std::vector<int16_t> mix_;  // scratch for the second and later sources
  Sink sink_;
  std::function<void()> changed_;
};

// The endpoints by wave device number. Owned by the program's entry, handed
// to the line drivers, the wave driver and the voice; it outlives them.
// Numbers are never used twice, so a number kept by a driver finds nothing
// once its line is gone.
class LineAudioHub {
 public:
  LineAudioEndpoint* Find(int32_t device) const {
    auto it = endpoints_.find(device);
    return it == endpoints_.end() ? nullptr : it->second;
  }
  // Whether the endpoint of wave device `device` is half-duplex; false for
  // a number that finds none.
  bool HalfDuplex(int32_t device) const {
    const LineAudioEndpoint* endpoint = Find(device);
    return endpoint != nullptr && endpoint->half_duplex();
  }

 private:
  friend class LineAudioEndpoint;
  std::map<int32_t, LineAudioEndpoint*> endpoints_;
  int32_t next_ = 1;
};

}  // namespace lw
