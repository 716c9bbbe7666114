// One voice modem as a telephone line (line_device.h): its serial port held
// from the first control's Open to the last one's Close, the call driven by
// AT commands and the modem's reports through a ModemSession.
//
// The call: ready (voice mode, caller identification on) -> offered at the
// first RING (rings counted, the caller identification reported before the
// ring that follows it) -> connected after the profile's answer command
// (AT+VLS=1, or ATA and VCON) -> disconnected when the modem reports the far
// end gone (busy, dial tone, silence or loop break codes) -> ready after
// Drop (ATH). An offered call whose rings stop for longer than
// kGiveUpMs without an extension lifted (the pick-up code) ends with Idle.
// Dial sends ATDT: VCON connects, BUSY, NO DIALTONE, NO ANSWER, NO CARRIER
// or ERROR end the call with Idle.
//
// Audio is half-duplex. While connected, a play source puts the modem into
// AT+VTX and each 20 ms block pulled goes out with its DLE bytes doubled,
// ended by DLE ETX once the sources are done (the modem drains and answers
// OK); a record sink without sources puts it into AT+VRX and every sound
// byte it sends reaches the sink at the modem's pace, DLE codes taken out.
// Switching from recording to playing sends DLE ! and waits for the end of
// the stream. Keypad digits and hang-up codes arrive in either mode.
//
// The modem's own reports: an overrun of its receive buffer or an underrun
// of its play buffer is journalled once a call and the stream goes on; a
// command left unanswered for kCommandTimeoutMs is journalled and ends what
// it was for (the set-up, the answer or the dial), never waiting longer;
// lines that answer nothing are journalled as noise, kMaxUnexpected at most.
//
// A port that reports its device gone ends the call at once (no Idle),
// raises LineLost and fails every operation but Close; the port is tried
// again every kRetryMs, and LineBack follows once it opens.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/clock.h"
#include "devices/line_audio.h"
#include "devices/line_device.h"
#include "devices/serial_port.h"
#include "drivers/voice_modem/modem_profiles.h"
#include "drivers/voice_modem/modem_protocol.h"
#include "drivers/voice_modem/modem_session.h"

namespace lw {

// The line's own result codes.
inline constexpr int32_t kVoiceModemNoCall = 0x1;
inline constexpr int32_t kVoiceModemBadState = 0x2;
inline constexpr int32_t kVoiceModemPortBusy = 0x3;
inline constexpr int32_t kVoiceModemLost = 0x4;
inline constexpr int32_t kVoiceModemNotVoice = 0x5;
std::string VoiceModemErrorText(int32_t code);

// What the probe found out about one modem.
struct ModemIdentity {
  std::string tty;
  std::string name;  // from ATI / AT+GMI
  const ModemProfile* profile = nullptr;
  bool voice = false;  // lists class 8 and took the voice commands
  ModemSampleFormat format{0, ModemSound::kLinear8};
};

class VoiceModemLine : public LineDevice {
 public:
  static constexpr uint32_t kGiveUpMs = kMaxRingGapMs + 1000;
  static constexpr uint32_t kRetryMs = 2000;
  static constexpr uint32_t kBlockMs = 20;
  static constexpr uint32_t kDialTimeoutMs = 60000;
  static constexpr uint32_t kCommandTimeoutMs = ModemSession::kCommandTimeoutMs;
  // Lines of noise journalled after each opening of the port.
  static constexpr int kMaxUnexpected = 10;

  // `port` is opened as serial port number `port_number`; `report` journals
  // a line of the modem's.
  VoiceModemLine(Clock& clock, LineAudioHub& hub,
                 std::unique_ptr<SerialPort> port, int16_t port_number,
                 ModemIdentity identity,
                 std::function<void(const std::string&)> report);
  ~VoiceModemLine() override;

  const ModemIdentity& identity() const { return identity_; }
  bool lost() const { return lost_; }

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
  LineAudioEndpoint* Audio() override { return &audio_; }
  int32_t GetDeviceID(int16_t device_class) override;

 private:
  enum class State {
    kClosed,
    kReady,
    kOffered,
    kAnswering,
    kConnected,
    kDialing,
    kDisconnected
  };
  // What the modem does with sound while connected.
  enum class Flow {
    kCommand,
    kStartingPlay,
    kPlaying,
    kDraining,
    kStartingRecord,
    kRecording,
    kStopping
  };

  int32_t OpenPort();
  void ClosePort();
  void Setup();
  void OnLine(const std::string& line);
  void OnCode(char code);
  void OnSound(std::string_view sound);
  void OnStreamEnd();
  void OnLost();
  void OnRing();
  void OnGiveUp();
  void OnBufferReport(bool overrun);
  void OnRetry();
  void FarEndGone();
  void EndCall();
  void UpdateFlow();
  void OnTick();
  void StopStream();
  void Report(const std::string& text) {
    if (report_) report_(identity_.tty + ": " + text);
  }

  Clock& clock_;
  std::unique_ptr<SerialPort> port_;
  int16_t port_number_;
  ModemIdentity identity_;
  std::function<void(const std::string&)> report_;
  TelephonyEvents events_;
  std::unique_ptr<ModemSession> session_;
  ModemSignals signals_;

  int32_t open_controls_ = 0;
  bool lost_ = false;
  State state_ = State::kClosed;
  Flow flow_ = Flow::kCommand;
  bool awaiting_end_result_ = false;  // stream ended, its OK still to come
  int unexpected_ = 0;
  int32_t rings_ = 0;
  bool picked_up_ = false;
  bool monitoring_ = false;
  CallerId caller_;
  bool caller_reported_ = false;
  bool overrun_reported_ = false;
  bool underrun_reported_ = false;
  uint64_t call_serial_ = 0;

  LineAudioEndpoint audio_;
  std::string play_bytes_;  // sound waiting for CONNECT of AT+VTX
  std::string carry_;       // an odd byte of 16-bit sound
  std::vector<int16_t> received_;
  std::unique_ptr<Timer> pacing_;
  std::unique_ptr<Timer> give_up_;
  std::unique_ptr<Timer> retry_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lw
