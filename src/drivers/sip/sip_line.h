// The SIP line: one SIP account as one line device, on libre (signalling,
// SDP, RTP) and librem (G.711).
//
// Threads. libre keeps its own loop (re_main) with its own timers
// (transaction retransmissions, registration refresh) and is not
// thread-safe. It runs on a thread of the driver's own, not on the process's
// Asio loop: the process's loop stops in Pause, and a libre loop driven from
// it would stop retransmitting and refreshing with it. Everything libre is
// touched on that thread only: the loop thread hands it work through a libre
// message queue (SipStack::Run), and every event of the stack comes back to
// the loop thread with Clock::Post, where the line keeps all of its call
// state. The call's sound does not take that way: the loop thread sends
// each RTP packet itself on the call's socket, and takes the far end's
// sound from a locked queue the libre thread fills, so neither thread wakes
// the other at the sound's pace. A posted event carries the number of the call
// it belongs to, so a late event of a call that has ended changes nothing.
//
// Calls. An offered INVITE is answered 180 Ringing and raises InComeCall,
// CallerID (P-Asserted-Identity, else From; a withheld part is empty) and
// rings on a RingCadence of "txtSipRingSeconds" seconds. Answer sends 200
// with SDP (PCMU, PCMA, telephone-event). While a call is connected, a 40 ms
// timer on the loop sends the endpoint's next two blocks as two RTP packets
// of 20 ms and hands the endpoint two blocks of the far end's sound from a
// short jitter queue (zeros where nothing arrived). Drop sends BYE on a
// connected call, 486 on an offered one and CANCEL on a dialled one. A second
// INVITE while a call is there is answered 486; an INVITE without usable SDP or
// codec 488, each with a journal line. Keypad digits come as RFC 4733 events,
// SIP INFO (application/dtmf-relay) or tones in the far end's sound (librem's
// detector); DigitPresses makes one MonitorDigit of each key press.
//
// Registration ("chkSipRegister" "1"): digest authentication with
// "txtSipAuthUser" and "txtSipPassword", refreshed by libre. A failed
// registration is a lost line (LineLost) and is tried again by the stack
// after 1 s, doubling to 60 s; a later success brings the line back
// (LineBack). Each change of state is one journal line; the password is
// never part of one. Behind a home router (the registrar's Via answer names
// another address than the line's own) the stack puts that public address
// in the SDP of calls through the registrar and keeps the router's mapping
// open with an empty line to the registrar every 25 s.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/line_backend_context.h"
#include "devices/ring_cadence.h"
#include "drivers/sip/sip_text.h"

namespace lw {

// The account as the settings section Properties\TabDevices\SipLine has it.
struct SipAccount {
  std::string address;    // "sip:user@domain"
  std::string auth_user;  // empty: the address's user
  std::string password;
  std::string registrar;       // host[:port]; empty: the address's domain
  std::string outbound_proxy;  // host[:port] or empty
  std::string listen = "0.0.0.0:5060";
  bool register_account = false;
  uint32_t ring_ms = kRingCadenceMs;
  bool operator==(const SipAccount&) const = default;
};
// Reads the section; false when "txtSipAddress" is empty (no SIP line).
// `problem` receives what was wrong with a value that fell back to its
// default.
bool ReadSipAccount(SettingsStore& store, const std::string& key,
                    SipAccount& account, std::string& problem);

class SipStack;

// Where the line tells its registration state, in the runtime folder.
inline constexpr char kSipStateFile[] = "sip-line";

class SipLine : public LineBackend, public LineDevice {
 public:
  // Result codes of the line.
  enum Code : int32_t {
    kStackFailed = 1,  // the SIP stack or its port could not start
    kNoCall,
    kLost,  // the registration is lost
    kBusy,
    kNotStarted,
  };

  SipLine(const LineBackendContext& context, SipAccount account);
  ~SipLine() override;

  // LineBackend
  std::vector<LineDevice*> Lines() override { return {this}; }
  int32_t Initialize() override;
  int32_t Shutdown() override;
  std::string ErrorText(int32_t code) override;

  // LineDevice
  DeviceInfo Caps() override;
  void SetEvents(TelephonyEvents events) override {
    events_ = std::move(events);
  }
  int32_t Open(int32_t privileges, int32_t media_modes) override;
  int32_t Close() override;
  bool CallOffered() override { return state_ == State::kOffered; }
  bool CallActive() override { return state_ == State::kConnected; }
  int32_t Answer() override;
  int32_t Drop() override;
  int32_t MonitorDigits(bool on) override;
  int32_t Dial(const std::string& number, std::string& call_text) override;
  DialCapability DialKinds() override {
    return DialCapability::kNumbersAndSipAddresses;
  }
  LineAudioEndpoint* Audio() override { return &audio_; }
  int32_t GetDeviceID(int16_t) override { return -1; }

  // What the stack reports, on the loop thread (SipStack posts them).
  void OnOffered(uint32_t call, const NameAndUser& caller);
  void OnConnected(uint32_t call);
  void OnEnded(uint32_t call, const std::string& why);
  void OnDigit(uint32_t call, DigitPresses::Source source, char key,
               uint32_t press_id);
  void OnRegistration(bool registered, const std::string& text);
  void Report(const std::string& text) {
    if (report_) report_(text);
  }
  // A problem with the settings, journalled at the first Initialize (the
  // journal is not on yet when the backend is made).
  void SetSettingsProblem(std::string problem) {
    settings_problem_ = std::move(problem);
  }

 private:
  enum class State { kIdle, kOffered, kConnected, kFarEndGone, kDialing };
  // Reads the account again when the line opens: a changed one restarts
  // the stack with it (the owner mends a password and switches the line
  // off and on), without a restart of the process. Non-zero when the
  // stack does not start again.
  int32_t Reload();
  void EndCall();
  // Tells `lwdctl devices` the registration state: the file kStateFile of
  // the runtime folder holds "<line name> TAB <state>".
  void PublishState(const std::string& state);
  void UpdatePacing();
  void Tick();

  Clock& clock_;
  SettingsStore& store_;
  std::string settings_key_;
  SipAccount account_;
  std::function<void(const std::string&)> report_;
  std::string runtime_dir_;
  TelephonyEvents events_;
  LineAudioEndpoint audio_;
  RingCadence rings_;
  std::unique_ptr<Timer> pace_;
  std::unique_ptr<SipStack> stack_;
  std::string start_error_;
  std::string settings_problem_;
  int open_controls_ = 0;
  State state_ = State::kIdle;
  uint32_t call_ = 0;  // the number of the current or last call
  bool lost_ = false;
  bool registered_ = false;
  bool monitoring_digits_ = false;
  DigitPresses presses_;
  std::vector<int16_t> received_;  // the jitter queue
  // One pace's sound, each way in turn.
  std::array<int16_t, size_t{2} * kLineBlockSamples> block_{};
  bool primed_ = false;
  // Cleared when the line goes: a change still in the loop's queue is void.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The factory of the backend "sip": null when no SIP line is set up.
std::unique_ptr<LineBackend> NewSipBackend(const LineBackendContext& context);

}  // namespace lw
