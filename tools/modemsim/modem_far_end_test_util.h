// The modem simulator as the far end of a voice-modem line under test, in
// virtual time: the simulator sits on the far side of the line's fake
// serial port, and each step of the far end runs the clock until the line
// has seen it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_serial_port.h"
#include "devices/line_far_end_test_util.h"
#include "drivers/voice_modem/voice_modem_backend.h"
#include "drivers/voice_modem/voice_modem_line.h"
#include "modem_sim.h"

namespace lw::testing {

// The simulator of `profile` wired to `port`: what it sends arrives at the
// port, what the port sends reaches it.
inline std::unique_ptr<ModemSim> WireSim(
    FakeClock& clock, FakeSerialPort& port, const std::string& profile,
    std::vector<std::string>& events, std::vector<int16_t>& capture,
    std::shared_ptr<bool> immediate = std::make_shared<bool>(false)) {
  auto sim = std::make_unique<ModemSim>(
      clock, profile,
      ModemSim::Handlers{
          [&port, immediate = std::move(immediate)](const std::string& b) {
            if (*immediate)
              port.ReceiveNow(b);
            else
              port.Receive(b);
          },
          [&events](const std::string& j) { events.push_back(j); },
          [&capture](const std::vector<int16_t>& c) { capture = c; }});
  port.on_output = [s = sim.get()](const std::string& d) { s->FromHost(d); };
  return sim;
}

// What the probe finds on the port (opened and closed again for it).
inline std::optional<ModemIdentity> ProbeOn(FakeClock& clock,
                                            FakeSerialPort& port) {
  port.SetPortOpen(true);
  std::optional<ModemIdentity> found;
  {
    ModemSession session(clock, port, {});
    ModemProbe probe(session, "sim",
                     [&](const std::optional<ModemIdentity>& i) { found = i; });
    clock.Advance(100);
  }
  port.SetPortOpen(false);
  return found;
}

class ModemFarEnd : public LineFarEnd {
 public:
  ModemFarEnd(FakeClock& clock, FakeSerialPort& port,
              const std::string& profile)
      : clock_(clock),
        port_(port),
        sim_(WireSim(clock, port, profile, events_, capture_, immediate_)) {}
  ~ModemFarEnd() override { port_.on_output = nullptr; }
  ModemFarEnd(const ModemFarEnd&) = delete;
  ModemFarEnd& operator=(const ModemFarEnd&) = delete;

  bool OfferRings() const override { return true; }
  int16_t CarriedSample() const override { return carried_; }
  void SetSound(ModemSound sound) {
    carried_ = sound == ModemSound::kLinear16 ? 7 : 7 * 256;
  }

  void Offer() override {
    sim_->CallerHangsUp();  // what is left of an earlier call
    CallScript call;
    call.driven = true;
    sim_->Call(call);
    sim_->RingNow();  // a modem hears a call from its first ring
    clock_.RunDue();
  }
  void CallerId(const std::string& name, const std::string& number) override {
    sim_->CallerIdNow(name, number);
    clock_.RunDue();
  }
  void Ring() override {
    sim_->RingNow();
    clock_.RunDue();
  }
  void PickUp() override {
    sim_->PickUpNow();
    clock_.RunDue();
  }
  void HangUp() override {
    const bool offered = sim_->in_call() && !sim_->talking();
    sim_->HangUpNow();
    // A caller who gives up only stops ringing.
    clock_.Advance(offered ? VoiceModemLine::kGiveUpMs : 0);
  }
  void Digits(const std::string& digits) override {
    // Seen by the line now; its digit events wait for the loop.
    *immediate_ = true;
    sim_->DigitsNow(digits);
    *immediate_ = false;
  }
  void Audio(std::span<const int16_t> samples) override {
    sim_->SoundNow({samples.begin(), samples.end()});
  }
  void WaitCall() override { sim_->ExpectDial(); }
  void AnswerCall() override {
    sim_->AnswerDial();
    clock_.RunDue();
  }
  void LoseLine() override {
    if (sim_->in_call()) ++lost_calls_;
    sim_->CallerHangsUp();
    port_.busy_opens = 1 << 20;
    port_.Lose();
    clock_.RunDue();
  }
  void RestoreLine() override {
    port_.busy_opens = 0;
    clock_.Advance(VoiceModemLine::kRetryMs);
  }

  size_t samples_heard() const override {
    return capture_.size() + sim_->heard();
  }
  int answers() const override { return Count("\"answered\""); }
  int hang_ups() const override {
    return Count("\"by\":\"line\"") + lost_calls_;
  }
  const std::string& dialed() const override {
    dialed_.clear();
    for (const std::string& e : events_)
      if (e.find("\"dialed\"") != std::string::npos)
        dialed_ = e.substr(e.find("\"number\":\"") + 10,
                           e.size() - e.find("\"number\":\"") - 12);
    return dialed_;
  }

 private:
  int Count(const std::string& what) const {
    int n = 0;
    for (const std::string& e : events_) n += e.find(what) != std::string::npos;
    return n;
  }

  FakeClock& clock_;
  FakeSerialPort& port_;
  std::shared_ptr<bool> immediate_ = std::make_shared<bool>(false);
  std::vector<std::string> events_;
  std::vector<int16_t> capture_;
  std::unique_ptr<ModemSim> sim_;
  int lost_calls_ = 0;
  int16_t carried_ = 7;
  mutable std::string dialed_;
};

// The voice-modem line of `profile` with 16-bit sound where the chipset has
// it, else its first format, and the simulator as its far end.
class OneModemBackend : public LineBackend {
 public:
  explicit OneModemBackend(std::unique_ptr<VoiceModemLine> line)
      : line_(std::move(line)) {}
  std::vector<LineDevice*> Lines() override { return {line_.get()}; }
  std::string ErrorText(int32_t code) override {
    return VoiceModemErrorText(code);
  }

 private:
  std::unique_ptr<VoiceModemLine> line_;
};

inline LinePair ModemPair(Clock& clock, LineAudioHub& hub,
                          const std::string& profile) {
  auto& fake_clock = dynamic_cast<FakeClock&>(clock);
  auto port = std::make_unique<FakeSerialPort>(fake_clock);
  auto far_end = std::make_unique<ModemFarEnd>(fake_clock, *port, profile);
  std::optional<ModemIdentity> identity = ProbeOn(fake_clock, *port);
  for (const ModemSampleFormat& f : identity->profile->formats)
    if (f.sound == ModemSound::kLinear16) identity->format = f;
  far_end->SetSound(identity->format.sound);
  auto line = std::make_unique<VoiceModemLine>(clock, hub, std::move(port), 1,
                                               *identity, nullptr);
  return {std::make_unique<OneModemBackend>(std::move(line)),
          std::move(far_end)};
}

}  // namespace lw::testing
