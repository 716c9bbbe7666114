// The simulated line: a virtual telephone line inside the process, driven
// from outside through the socket `<runtime>/simline.sock` by far ends such as
// `lwdctl phone` (protocol in simline_protocol.h). It is a real line driver,
// always present in the device list, so the process runs with no hardware.
//
// One SimulatedLine per process. The telephony controls of the process
// (SimulatedTelephony, one per component) share it; it holds the one call of
// the line and raises the call's events on every control whose line is open.
//
// The call:
//   none -> offered (a far end offered it; it rings when the far end says)
//        -> picked up (an extension took it: no more rings, the conversation
//           runs, the far end's audio reaches a record sink; still offered
//           as far as the controls go, so LineAnswer takes the line)
//        -> connected (LineAnswer) -> disconnected (far end hung up) ->
//           none (LineDrop)
//   none -> dialing (MakeCall; handed to a far end waiting to answer) ->
//           connected (the far end answers)
//   An offered or dialling call that the far end abandons ends with Idle;
//   LineDrop ends any call and tells its far end. A far end that goes away
//   (socket closed or broken) hangs up.
//
// Audio: the line's audio endpoint is registered in the LineAudioHub under
// the wave-in and wave-out numbers given to the constructor (GetDeviceID hands
// them out). What the process plays while the call is connected goes to the
// far end as it comes. The far end's audio, while the call is connected or
// picked up, goes to the record sink one 160-sample block every 20 ms of the
// Clock, zeros where the far end sent nothing; the pacing timer runs only
// while a sink is attached to such a call, so an idle line costs nothing.
//
// Everything runs on the io_context's thread. Events that a control's own
// operation causes (Connected after LineAnswer, Idle after LineDrop, Dialing
// after MakeCall, InComeCall after a LineOpen while a call rings) are posted
// to the io_context, never raised inside the operation.
#pragma once

#include <array>
#include <asio/io_context.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "devices/clock.h"
#include "devices/line_audio.h"
#include "drivers/simline/simline_protocol.h"

namespace lw {

class SimulatedTelephony;

class SimulatedLine : public LineAudioEndpoint {
 public:
  enum class CallState {
    kNone,
    kOffered,
    kPickedUp,
    kDialing,
    kConnected,
    kDisconnected
  };

  static constexpr const char* kDeviceName = "Linewarden Simulated Line";
  static constexpr const char* kSocketName = "simline.sock";
  // Most far-end audio held for the record sink; older samples are dropped.
  static constexpr size_t kMaxQueuedSamples = kLineSampleRate / 2;

  struct Options {
    int32_t wave_in = 1;  // endpoint numbers in the LineAudioHub
    int32_t wave_out = 2;
    bool listen = true;  // false: no socket (in-process far ends only)
  };

  // Listens on `<runtime_dir>/simline.sock` (the folder is created 0700 when
  // missing, only its last component; a stale socket file is replaced). When
  // that fails the line still works, but no far end can reach it:
  // listen_error() and ListenStatus() say why. `io`, `clock` and `hub`
  // outlive the line, and the line outlives every SimulatedTelephony made on
  // it.
  SimulatedLine(asio::io_context& io, Clock& clock, LineAudioHub& hub,
                std::string runtime_dir, Options options);
  SimulatedLine(asio::io_context& io, Clock& clock, LineAudioHub& hub,
                std::string runtime_dir)
      : SimulatedLine(io, clock, hub, std::move(runtime_dir), Options()) {}
  ~SimulatedLine() override;
  SimulatedLine(const SimulatedLine&) = delete;
  SimulatedLine& operator=(const SimulatedLine&) = delete;

  // The socket far ends connect to.
  const std::string& socket_path() const { return socket_path_; }
  bool listening() const { return !listen_error_; }
  const std::error_code& listen_error() const { return listen_error_; }
  // One line for the journal: where the line listens, or why it cannot.
  std::string ListenStatus() const;

  int32_t wave_in() const { return options_.wave_in; }
  int32_t wave_out() const { return options_.wave_out; }

  // --- Far ends inside the process (the socket sessions use these too;
  // tests drive the line with them). `deliver` receives what the line tells
  // this far end; it must not call back into the line.
  using FarEndId = uint64_t;
  FarEndId ConnectFarEnd(std::function<void(const SimlineMessage&)> deliver);
  void FromFarEnd(FarEndId id, const SimlineMessage& message);
  // The far end went away: as a hang-up when it had the call.
  void DisconnectFarEnd(FarEndId id);

  // --- Observation.
  CallState call_state() const { return state_; }
  int32_t rings() const { return rings_; }
  size_t far_ends() const { return far_ends_.size(); }

  // --- LineAudioEndpoint.
  void PlayToLine(std::span<const int16_t> samples) override;
  void SetRecordSink(Sink sink) override;

 private:
  friend class SimulatedTelephony;
  struct Listener;

  // The controls.
  void Attach(SimulatedTelephony* t) { controls_.push_back(t); }
  void Detach(SimulatedTelephony* t);
  bool IsAttached(const SimulatedTelephony* t) const;
  int32_t OpenControls() const;
  void ForEachOpen(const std::function<void(SimulatedTelephony&)>& raise);
  // Runs `event` on the loop later, unless the line is gone by then.
  void Post(std::function<void()> event);
  // Raises an event later on the controls whose line is open now and then.
  void Raise(const std::function<void(SimulatedTelephony&)>& raise);
  void RaiseIdle();

  // Called by SimulatedTelephony.
  void ControlOpened(SimulatedTelephony* t);
  void ControlClosed();
  int32_t Answer(SimulatedTelephony* t);
  int32_t Drop();
  int32_t Dial(const std::string& number);

  void Tell(FarEndId id, const SimlineMessage& message);
  void EndCall();
  void OnFarEndHangup();
  void UpdatePacing();
  void OnPacingTick();
  bool AudioFlows() const {
    return state_ == CallState::kConnected || state_ == CallState::kPickedUp;
  }
  void StartListening();

  asio::io_context& io_;
  Clock& clock_;
  LineAudioHub& hub_;
  const std::string runtime_dir_;
  const Options options_;
  std::string socket_path_;
  std::error_code listen_error_;
  std::shared_ptr<Listener> listener_;
  // Cleared when the line goes away, so posted events find out.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  std::vector<SimulatedTelephony*> controls_;
  std::map<FarEndId, std::function<void(const SimlineMessage&)>> far_ends_;
  FarEndId next_far_end_ = 1;
  std::deque<FarEndId> waiting_answerers_;

  CallState state_ = CallState::kNone;
  uint64_t call_serial_ = 0;   // changes with every call that begins or ends
  FarEndId call_far_end_ = 0;  // 0: the call has no far end (any more)
  int32_t rings_ = 0;
  std::string dialed_number_;

  Sink sink_;
  std::deque<int16_t> far_audio_;
  std::unique_ptr<Timer> pacing_;
};

}  // namespace lw
