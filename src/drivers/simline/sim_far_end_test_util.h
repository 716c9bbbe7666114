// A far end of the simulated line inside the process, for tests: it scripts
// the caller (or the called party of an outgoing call) in the words of the
// scenario and observes what the line sent it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "devices/line_far_end_test_util.h"
#include "drivers/simline/simulated_line.h"

namespace lw::testing {

class SimFarEnd : public LineFarEnd {
 public:
  explicit SimFarEnd(SimulatedLine& line)
      : line_(line),
        id_(line.ConnectFarEnd([this](const SimlineMessage& m) { Heard(m); })) {
  }
  ~SimFarEnd() override { line_.DisconnectFarEnd(id_); }
  SimFarEnd(const SimFarEnd&) = delete;
  SimFarEnd& operator=(const SimFarEnd&) = delete;

  void Offer() override { Send(SimlineType::kOffer); }
  void Ring() override { Send(SimlineType::kRing); }
  void CallerId(const std::string& name, const std::string& number) override {
    SimlineMessage m = SimlineOf(SimlineType::kCallerId);
    m.name = name;
    m.number = number;
    line_.FromFarEnd(id_, m);
  }
  void PickUp() override { Send(SimlineType::kPickUp); }
  void HangUp() override { Send(SimlineType::kHangup); }
  void Digits(const std::string& digits) override {
    for (const char d : digits) {
      SimlineMessage m = SimlineOf(SimlineType::kDigit);
      m.digit = d;
      line_.FromFarEnd(id_, m);
    }
  }
  void Audio(std::span<const int16_t> samples) override {
    line_.FromFarEnd(id_, SimlineAudio(samples));
  }
  void WaitCall() override { Send(SimlineType::kWaitCall); }
  void AnswerCall() override { Send(SimlineType::kAnswerCall); }
  void LoseLine() override { Send(SimlineType::kLoseLine); }
  void RestoreLine() override { Send(SimlineType::kLineBack); }

  size_t samples_heard() const override { return samples_heard_; }
  int answers() const override { return answers_; }
  int hang_ups() const override { return hang_ups_; }
  const std::string& dialed() const override { return dialed_; }

 private:
  void Send(SimlineType type) { line_.FromFarEnd(id_, SimlineOf(type)); }
  void Heard(const SimlineMessage& m) {
    if (m.type == SimlineType::kAudio) samples_heard_ += m.samples.size();
    answers_ += m.type == SimlineType::kAnswered;
    hang_ups_ += m.type == SimlineType::kHungUp;
    if (m.type == SimlineType::kDialed) dialed_ = m.number;
  }

  SimulatedLine& line_;
  size_t samples_heard_ = 0;
  int answers_ = 0;
  int hang_ups_ = 0;
  std::string dialed_;
  SimulatedLine::FarEndId id_;
};

// The simulated line and a far end of it, for the tests every backend runs.
inline LinePair SimulatedLinePair(Clock& clock, LineAudioHub& hub) {
  auto line = std::make_unique<SimulatedLine>(clock, hub);
  auto far_end = std::make_unique<SimFarEnd>(*line);
  return {std::move(line), std::move(far_end)};
}

}  // namespace lw::testing
