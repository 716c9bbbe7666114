// The simulated line: a virtual telephone line inside the process, driven
// from outside through the socket `<runtime>/simline.sock` by far ends such as
// `lwdctl phone` (protocol in simline_protocol.h). It is a real line driver,
// always present in the device list, so the process runs with no hardware.
//
// It is a line backend with one line (line_device.h): register it in the
// LineRegistry, which makes the telephony controls of the components and
// hands the line's events to those that have it open. Tests register it the
// same way and drive it in virtual time: without Listen it needs no event
// loop, only the Clock, whose Post carries its deferred steps.
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
// Audio: the line's audio endpoint (line_audio.h) takes its numbers in the
// LineAudioHub; GetDeviceID hands them out. The line drives it on one 20 ms
// pacing timer of the Clock: each tick pulls the next 160-sample block from
// the play sources and sends it to the far end while the call is connected,
// and, while the call is connected or picked up and a sink is attached,
// hands the sink the far end's next block (zeros where the far end sent
// nothing). A sound that starts on an idle line goes out at once. The timer
// runs only while there is something to pull or record, so an idle line
// costs nothing.
//
// The modem side (AttachModem): the line's voice modem as its serial port
// shows it. While the process holds that port for its modem channel (the
// SerialPortOwners table says so), the call appears there as the modem's
// text reports and not as telephony events: "RING" for each ring, then,
// after the first ring, the caller identification as DATE, TIME, NMBR and
// NAME lines ("NMBR = 5551234"; a withheld value, sent empty by the far end,
// as "NMBR = P" for the number and "MESG = 080150" for the name). The
// modem answers each AT command it receives with "OK", or "ERROR" for one
// that does not begin with "AT". Meanwhile the line cannot be opened (the
// modem is busy on its port); once the process has closed the port and
// opened the line, the telephony control reports the call, already ringing,
// and counts its rings from there. A line open on a control holds the port
// for the modem line, so the port cannot be opened then.
//
// A far end may take the line away (LoseLine) and bring it back (LineBack):
// a call on the line ends at its far end and the line raises LineLost; until
// LineBack every operation but Close fails with kSimLineLost and new calls
// are refused as busy.
//
// Everything runs on the loop thread. The line raises its events when they
// happen; the registry defers them to the loop. Going off-hook after Answer
// is itself a step posted to the Clock, so a caller may still give up first.
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
#include "devices/line_device.h"
#include "devices/serial_port.h"
#include "drivers/simline/simline_protocol.h"

namespace lw {

// The line's own result codes other than 0 (the registry moves them into the
// backend's range).
inline constexpr int32_t kSimLineNoCall = 0x4;      // no call to act on
inline constexpr int32_t kSimLineCallExists = 0x5;  // MakeCall during a call
inline constexpr int32_t kSimLineBadState = 0x6;    // call not answerable
inline constexpr int32_t kSimLineDeviceBusy = 0x7;  // only as a fault switch
inline constexpr int32_t kSimLineLost = 0x8;        // the line is lost

class SimulatedLine : public LineBackend, public LineDevice {
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
  // The serial port number of the line's modem (AttachModem).
  static constexpr int16_t kModemPort = 100;
  // Most far-end audio held for the record sink; older samples are dropped.
  static constexpr size_t kMaxQueuedSamples = kLineSampleRate / 2;

  struct Options {
    // What GetDeviceCaps reports of the line.
    DeviceInfo info{kDeviceName, true, true, true};
  };

  // `clock` and `hub` outlive the line; the line stays registered in a
  // LineRegistry until the registry's controls are gone.
  SimulatedLine(Clock& clock, LineAudioHub& hub, Options options);
  SimulatedLine(Clock& clock, LineAudioHub& hub)
      : SimulatedLine(clock, hub, Options()) {}
  ~SimulatedLine() override;
  SimulatedLine(const SimulatedLine&) = delete;
  SimulatedLine& operator=(const SimulatedLine&) = delete;

  // Listens on `<runtime_dir>/simline.sock` with `io` (which outlives the
  // line) for far ends outside the process. The folder is created 0700 when
  // missing (only its last component); a stale socket file is replaced. When
  // that fails the line still works, but no far end can reach it:
  // listen_error() and ListenStatus() say why.
  void Listen(asio::io_context& io, const std::string& runtime_dir);

  // The socket far ends connect to (empty before Listen).
  const std::string& socket_path() const { return socket_path_; }
  bool listening() const { return !listen_error_; }
  const std::error_code& listen_error() const { return listen_error_; }
  // One line for the journal: where the line listens, or why it cannot.
  std::string ListenStatus() const;

  // --- Far ends inside the process (the socket sessions use these too;
  // tests drive the line with them). `deliver` receives what the line tells
  // this far end; it must not call back into the line.
  using FarEndId = uint64_t;
  FarEndId ConnectFarEnd(std::function<void(const SimlineMessage&)> deliver);
  void FromFarEnd(FarEndId id, const SimlineMessage& message);
  // The far end went away: as a hang-up when it had the call.
  void DisconnectFarEnd(FarEndId id);

  // --- The modem side (see above). `report` carries the modem's text to the
  // reader of the port; `owners` outlives the line.
  struct Modem {
    int16_t port = kModemPort;  // GetDeviceID(kDeviceClassSerialPort)
    SerialPortOwners* owners = nullptr;
    std::function<void(const std::string&)> report;
  };
  void AttachModem(Modem modem) { modem_ = std::move(modem); }
  // What the port's user wrote to the modem.
  void ModemReceived(const std::string& bytes);

  // --- Observation.
  CallState call_state() const { return state_; }
  int32_t rings() const { return rings_; }
  bool lost() const { return lost_; }
  size_t far_ends() const { return far_ends_.size(); }
  // Controls that have the line open now.
  int32_t open_controls() const { return open_controls_; }
  // Every operation that reached the line, failed ones too, in order:
  // "LineInitialize", "LineOpen(6,6)", "LineClose", "LineShutdown",
  // "LineAnswer", "LineDrop", "LineMonitorDigits(True)", "MakeCall(5551234)".
  const std::vector<std::string>& ops() const { return ops_; }
  void ClearOps() { ops_.clear(); }

  // --- Fault switches: the code an operation returns instead of doing its
  // work (one of the line's codes above, or any below
  // kLineBackendCodeRange). A failing operation changes nothing.
  struct Faults {
    int32_t initialize_result = 0;
    int32_t open_result = 0;
    int32_t close_result = 0;
    int32_t shutdown_result = 0;
    int32_t answer_result = 0;
    int32_t drop_result = 0;
    int32_t monitor_result = 0;
    int32_t make_call_result = 0;
  };
  Faults& faults() { return faults_; }

  // --- LineBackend.
  std::vector<LineDevice*> Lines() override { return {this}; }
  int32_t Initialize() override;
  int32_t Shutdown() override;
  std::string ErrorText(int32_t code) override;

  // --- LineDevice.
  DeviceInfo Caps() override { return options_.info; }
  void SetEvents(TelephonyEvents events) override {
    events_ = std::move(events);
  }
  int32_t Open(int32_t privileges, int32_t media_modes) override;
  int32_t Close() override;
  bool CallOffered() override {
    return state_ == CallState::kOffered || state_ == CallState::kPickedUp;
  }
  bool CallActive() override { return state_ == CallState::kConnected; }
  int32_t Answer() override;
  int32_t Drop() override;
  int32_t MonitorDigits(bool on) override;
  int32_t Dial(const std::string& number, std::string& call_text) override;
  LineAudioEndpoint* Audio() override { return &audio_; }
  int32_t GetDeviceID(int16_t device_class) override;

 private:
  struct Listener;

  int32_t Fault(const std::string& op, int32_t result) {
    ops_.push_back(op);
    return result != 0 ? result : lost_ ? kSimLineLost : 0;
  }
  void RaiseIdle() {
    if (events_.Idle) events_.Idle();
  }

  void Tell(FarEndId id, const SimlineMessage& message);
  void EndCall();
  void OnFarEndHangup();
  void UpdatePacing();
  void OnPacingTick();
  void PlayBlock();
  bool AudioFlows() const {
    return state_ == CallState::kConnected || state_ == CallState::kPickedUp;
  }
  void StartListening(asio::io_context& io, const std::string& runtime_dir);
  // True while the process reads the modem on its port.
  bool ModemReports() const {
    return modem_.owners != nullptr && modem_.report &&
           modem_.owners->Owner(modem_.port) == SerialPortUser::kModemChannel;
  }
  void ModemLine(const std::string& text) {
    modem_.report("\r\n" + text + "\r\n");
  }
  void ModemCallerId();

  Clock& clock_;
  const Options options_;
  std::string socket_path_;
  std::error_code listen_error_;
  std::shared_ptr<Listener> listener_;
  // Cleared when the line goes away, so posted steps find out.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  TelephonyEvents events_;
  int32_t open_controls_ = 0;
  bool lost_ = false;
  std::vector<std::string> ops_;
  Faults faults_;
  std::map<FarEndId, std::function<void(const SimlineMessage&)>> far_ends_;
  FarEndId next_far_end_ = 1;
  std::deque<FarEndId> waiting_answerers_;

  CallState state_ = CallState::kNone;
  uint64_t call_serial_ = 0;   // changes with every call that begins or ends
  FarEndId call_far_end_ = 0;  // 0: the call has no far end (any more)
  int32_t rings_ = 0;
  std::string dialed_number_;
  bool monitoring_digits_ = false;  // LineMonitorDigits, until the call ends

  Modem modem_;
  std::string at_command_;      // AT command being received
  int32_t modem_rings_ = 0;     // rings the modem reported for this call
  bool modem_cid_due_ = false;  // caller identification waits for a ring
  std::string cid_name_;
  std::string cid_number_;

  LineAudioEndpoint audio_;
  std::deque<int16_t> far_audio_;
  std::unique_ptr<Timer> pacing_;
};

}  // namespace lw
