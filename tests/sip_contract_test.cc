// The line contract suite on the SIP line, with baresip as its far end on
// loopback (no registrar): the line's stack runs on its own thread and posts
// to the suite's virtual clock, so the far end waits in real time for each
// step to reach the line's loop.
#include <asio/io_context.hpp>
#include <regex>
#include <thread>

#include "devices/fake/fake_clock.h"
#include "devices/line_contract_test_fixture.h"
#include "devices/memory_settings_store.h"
#include "drivers/sip/sip_line.h"
#include "sip_phone_test_util.h"

namespace lw::testing {
namespace {

constexpr auto kSettle = std::chrono::milliseconds(300);

// What baresip plays: a tone, though no case here listens to it.
std::string Voice(const ProgramEnv& env) {
  WriteTone(env.home() + "/voice.wav", 440, 30);
  return env.home() + "/voice.wav";
}

class SipFarEnd : public LineFarEnd {
 public:
  SipFarEnd(FakeClock& clock, int line_port)
      : clock_(clock), line_port_(line_port) {}

  // The line rings at the offer, and a closed line refuses the call (480).
  bool OfferRings() const override { return true; }
  bool OfferNamesCaller() const override { return true; }
  std::string Unable(const std::string& test) const override {
    if (test.starts_with("AudioFlows"))
      return "G.711 does not carry samples exactly, and baresip says only "
             "its sound file";
    if (test.starts_with("LostLine"))
      return "a SIP line is lost with its registrar, after a 32 s timeout";
    return {};
  }
  const std::string& home() const { return env_.home(); }
  void Settle() override { std::this_thread::sleep_for(kSettle); }
  std::string CallText(const std::string& number) const override {
    return "sip:" + number + "@127.0.0.1:" + std::to_string(phone_.sip_port());
  }

  void Offer() override {
    const size_t ringing = Seen("CALL_RINGING");
    const size_t closed = Seen("CALL_CLOSED");
    phone_.Command("dial",
                   "sip:linewarden@127.0.0.1:" + std::to_string(line_port_));
    ASSERT_TRUE(WaitFor([&] {
      return Seen("CALL_RINGING") > ringing || Seen("CALL_CLOSED") > closed;
    })) << phone_.events();
    refused_ += Seen("CALL_CLOSED") > closed;  // by a closed line
    Settle();
    clock_.RunDue();
  }
  void CallerId(const std::string&, const std::string&) override {
    ADD_FAILURE() << "the caller comes with the offer";
  }
  void Ring() override { clock_.Advance(kRingCadenceMs); }
  void PickUp() override { ADD_FAILURE() << "a SIP line has no extension"; }
  void HangUp() override {
    const size_t closed = Seen("CALL_CLOSED");
    ++hung_up_;
    phone_.Command("hangup", "");
    ASSERT_TRUE(WaitFor([&] { return Seen("CALL_CLOSED") > closed; }));
  }
  void Digits(const std::string& digits) override {
    for (const char key : digits) {
      phone_.Command("sndcode", std::string(1, key));
      std::this_thread::sleep_for(kSettle);
    }
  }
  void Audio(std::span<const int16_t>) override { ADD_FAILURE() << "skipped"; }
  void WaitCall() override {}  // baresip waits for "accept" by itself
  void AnswerCall() override {
    const size_t established = Seen("CALL_ESTABLISHED");
    phone_.Command("accept", "");
    ASSERT_TRUE(WaitFor([&] { return Seen("CALL_ESTABLISHED") > established; }))
        << phone_.events();
    Settle();
  }
  void LoseLine() override { ADD_FAILURE() << "skipped"; }
  void RestoreLine() override { ADD_FAILURE() << "skipped"; }

  size_t samples_heard() const override {
    ADD_FAILURE() << "skipped";
    return 0;
  }
  int answers() const override {
    return static_cast<int>(Seen("CALL_ESTABLISHED"));
  }
  int hang_ups() const override {
    std::this_thread::sleep_for(kSettle);
    return static_cast<int>(Seen("CALL_CLOSED") - hung_up_ - refused_);
  }
  const std::string& dialed() const override {
    // The account baresip's last incoming call reached.
    const std::regex incoming(
        "\"CALL_INCOMING\"[^}]*\"accountaor\":\"sip:([^@\"]*)@");
    const std::string& events = phone_.Read();
    for (std::sregex_iterator i(events.begin(), events.end(), incoming), end;
         i != end; ++i)
      dialed_ = (*i)[1].str();
    return dialed_;
  }

 private:
  size_t Seen(const std::string& event) const {
    return Count(phone_.Read(), "\"" + event + "\"");
  }

  FakeClock& clock_;
  int line_port_;
  ProgramEnv env_;
  mutable Phone phone_{env_, "127.0.0.1", Voice(env_),
                       ";answermode=manual;regint=0"};
  size_t hung_up_ = 0;
  size_t refused_ = 0;
  mutable std::string dialed_;
};

// The SIP line with what its context refers to.
class SipBackendUnderTest : public LineBackend {
 public:
  SipBackendUnderTest(Clock& clock, LineAudioHub& hub, SipAccount account,
                      const std::string& runtime_dir)
      : context_{clock, io_,    hub,       names_,      owners_,
                 {},    store_, "SipLine", runtime_dir, nullptr},
        line_(context_, std::move(account)) {}
  std::vector<LineDevice*> Lines() override { return {&line_}; }
  int32_t Initialize() override { return line_.Initialize(); }
  int32_t Shutdown() override { return line_.Shutdown(); }
  std::string ErrorText(int32_t code) override { return line_.ErrorText(code); }

 private:
  asio::io_context io_;
  SerialPortNames names_;
  SerialPortOwners owners_;
  MemorySettingsStore store_;
  LineBackendContext context_;
  SipLine line_;
};

LinePair BaresipPair(Clock& clock, LineAudioHub& hub) {
  const int line_port = FreePort();
  auto far_end =
      std::make_unique<SipFarEnd>(dynamic_cast<FakeClock&>(clock), line_port);
  SipAccount account;
  account.address = far_end->CallText("linewarden");
  account.listen = "127.0.0.1:" + std::to_string(line_port);
  return {std::make_unique<SipBackendUnderTest>(clock, hub, account,
                                                far_end->home()),
          std::move(far_end)};
}

INSTANTIATE_TEST_SUITE_P(Sip, LineContractTest, ::testing::Values(BaresipPair));

}  // namespace
}  // namespace lw::testing
