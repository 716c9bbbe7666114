// The audio of calls on line devices, where the wave driver meets the line
// drivers. Sound on a line is 8 kHz 16-bit mono PCM. A line driver (the
// simulated line, a voice modem, a SIP line) registers an endpoint per line
// under the wave device numbers its GetDeviceID hands out (the same endpoint
// may sit under the wave-in and the wave-out number); the wave driver finds
// it there when asked to play into or record from that device.
//
// Everything runs on the loop thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>

namespace lw {

inline constexpr int kLineSampleRate = 8000;
// Playback is paced in blocks of 20 ms.
inline constexpr int kLineBlockSamples = 160;

class LineAudioEndpoint {
 public:
  using Sink = std::function<void(std::span<const int16_t> samples)>;
  virtual ~LineAudioEndpoint() = default;

  // Samples played into the call, already paced at real time by the caller
  // (one block every 20 ms). Dropped when no call is connected.
  virtual void PlayToLine(std::span<const int16_t> samples) = 0;

  // While a call is connected, the endpoint hands the far end's audio to
  // `sink` in consecutive blocks at real-time pace, silence included (a gap
  // in the far end's sound arrives as zeros), so a recording is as long as
  // the stretch of call it covers. One sink at a time; an empty function
  // detaches it.
  virtual void SetRecordSink(Sink sink) = 0;
};

// The endpoints by wave device number. Owned by the program's entry, handed
// to the line drivers and to the wave driver; it outlives both.
class LineAudioHub {
 public:
  void Register(int32_t device, LineAudioEndpoint* endpoint) {
    endpoints_[device] = endpoint;
  }
  void Unregister(int32_t device) { endpoints_.erase(device); }
  LineAudioEndpoint* Find(int32_t device) const {
    auto it = endpoints_.find(device);
    return it == endpoints_.end() ? nullptr : it->second;
  }

 private:
  std::map<int32_t, LineAudioEndpoint*> endpoints_;
};

}  // namespace lw
