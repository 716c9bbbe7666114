// The libre side of the SIP line: the thread that runs libre's loop, the
// SIP stack, the registration and the one session with its RTP socket.
// Every public member is called on the process's loop thread and hands its
// work to the libre thread; everything libre reports reaches the SipLine on
// the loop thread through Clock::Post (see sip_line.h for why).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "devices/clock.h"

namespace lw {

class SipLine;
struct SipAccount;

// Why an offered call ended that another phone of the account answered.
inline constexpr char kCompletedElsewhere[] = "Call completed elsewhere";

class SipStack {
 public:
  // `line` and `clock` outlive the stack.
  SipStack(Clock& clock, SipLine& line, const SipAccount& account);
  // Stops the thread (as Stop).
  ~SipStack();
  SipStack(const SipStack&) = delete;
  SipStack& operator=(const SipStack&) = delete;

  // Starts the thread, binds the SIP port and, for a registering account,
  // starts registering. Empty on success, else what failed.
  std::string Start();
  // Ends the call and the registration and stops the thread.
  void Stop();

  // Whether an offered INVITE may ring here (a control has the line open);
  // otherwise it is answered 480.
  void SetAccepting(bool accepting) { accepting_ = accepting; }
  // A number for a new call, unique for the stack's life.
  uint32_t NewCall() { return ++calls_; }

  // Answers call `call` with 200 and the SDP answer.
  void Answer(uint32_t call);
  // Ends call `call`: 486 while offered, CANCEL while dialled, else BYE.
  void Hangup(uint32_t call);
  // Invites `uri` as call `call`.
  void Dial(uint32_t call, const std::string& uri);
  // One 20 ms block of the line's sound for the far end of call `call`,
  // sent as one RTP packet from the calling thread: the libre thread wakes
  // only for what arrives.
  void Send(uint32_t call, std::span<const int16_t> block);

  // Appends the far end's sound of call `call` received since the last
  // take to `into`. The sound waits here, not in a post per packet, so the
  // loop wakes only for its own 20 ms pace.
  void TakeHeard(uint32_t call, std::vector<int16_t>& into);

  struct State;  // the libre thread's own (sip_stack.cc)

 private:
  void Run(std::function<void()> work);

  std::unique_ptr<State> state_;
  std::thread thread_;
  std::atomic<bool> accepting_{false};
  std::atomic<uint32_t> calls_{0};
  // The RTP stream Send makes, the loop thread's own.
  uint32_t stream_call_ = 0;
  uint16_t sequence_ = 0;
  uint32_t timestamp_ = 0;
  uint32_t ssrc_ = 0;
  bool running_ = false;
};

}  // namespace lw
