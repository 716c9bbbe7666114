// A far end of the simulated line inside the process, for tests: it scripts
// the caller (or the called party of an outgoing call) in the words of the
// scenario and counts the sound the line sent it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "drivers/simline/simulated_line.h"

namespace lw::testing {

class SimFarEnd {
 public:
  explicit SimFarEnd(SimulatedLine& line)
      : line_(line),
        id_(line.ConnectFarEnd([this](const SimlineMessage& m) { Heard(m); })) {
  }
  ~SimFarEnd() { line_.DisconnectFarEnd(id_); }
  SimFarEnd(const SimFarEnd&) = delete;
  SimFarEnd& operator=(const SimFarEnd&) = delete;

  void Offer() { Send(SimlineType::kOffer); }
  void Ring() { Send(SimlineType::kRing); }
  void CallerId(const std::string& name, const std::string& number) {
    SimlineMessage m = SimlineOf(SimlineType::kCallerId);
    m.name = name;
    m.number = number;
    line_.FromFarEnd(id_, m);
  }
  // Somebody lifts an extension: the rings stop, the talk goes on.
  void PickUp() { Send(SimlineType::kPickUp); }
  void HangUp() { Send(SimlineType::kHangup); }
  void Digits(const std::string& digits) {
    for (const char d : digits) {
      SimlineMessage m = SimlineOf(SimlineType::kDigit);
      m.digit = d;
      line_.FromFarEnd(id_, m);
    }
  }
  void Audio(std::span<const int16_t> samples) {
    line_.FromFarEnd(id_, SimlineAudio(samples));
  }
  // Waits for the process's next outgoing call, and answers it.
  void WaitCall() { Send(SimlineType::kWaitCall); }
  void AnswerCall() { Send(SimlineType::kAnswerCall); }
  // The line is unplugged, and plugged in again.
  void LoseLine() { Send(SimlineType::kLoseLine); }
  void RestoreLine() { Send(SimlineType::kLineBack); }

  size_t samples_heard() const { return samples_heard_; }

 private:
  void Send(SimlineType type) { line_.FromFarEnd(id_, SimlineOf(type)); }
  void Heard(const SimlineMessage& m) {
    if (m.type == SimlineType::kAudio) samples_heard_ += m.samples.size();
  }

  SimulatedLine& line_;
  size_t samples_heard_ = 0;
  SimulatedLine::FarEndId id_;
};

}  // namespace lw::testing
