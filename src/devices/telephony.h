// The telephony control: the list of line devices, opening and closing a
// line, answering, hanging up and placing calls, keypad digits, and the call
// events that drive the call state machine.
//
// The line controller holds one instance, `telephony`; the process controller
// holds another only to initialise telephony and to turn result codes into
// texts. Behind it sit the line drivers: voice modems on serial ports, SIP
// lines and the simulated line, which is always in the list.
//
// Contract shared by every implementation:
// - Results are 32-bit codes, 0 = success; no operation throws. Every code,
//   0 included, has a text (GetErrorText) for the journal.
// - Operations address the device selected with SetDeviceIndex, except that
//   while the control has a line open, every per-device answer (GetDeviceID,
//   DialKinds) is about that line: a line listed ahead of it later does not
//   change what the control answers.
// - Events run on the loop thread, one at a time, and never inside the
//   operation that causes them: LineAnswer returns before its Connected runs,
//   LineDrop before its Idle, MakeCall before its Dialing.
// - A closed line raises no events. LineClose and LineShutdown complete before
//   they return: IsLineOpen is False afterwards, and a call still present is
//   abandoned without further events.
// - LineInitialize and LineShutdown are counted per control: a line backend
//   is prepared when the first control initialises it and shut down when the
//   last one that did shuts down. LineOpen initialises the line's backend
//   for the control on its own (after LineShutdown too).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lw {

// What GetDeviceCaps reports of the current device.
struct DeviceInfo {
  std::string Name;
  bool TapiCapable = false;    // can be opened and carry calls
  bool VoiceCapable = false;   // can play into and record from a call
  bool MonitorDigits = false;  // reports keypad digits of the far end
};

// What a line dials: every line dials telephone numbers (the keypad
// "0".."9", "*", "#", a leading "+" and "," for a pause); a SIP line dials
// SIP addresses ("sip:user@host", "sips:...") as well.
enum class DialCapability { kNumbers, kNumbersAndSipAddresses };

// Device classes of GetDeviceID.
inline constexpr int16_t kDeviceClassWaveIn = 1;
inline constexpr int16_t kDeviceClassWaveOut = 2;
inline constexpr int16_t kDeviceClassSerialPort = 22;

// The rings of an offered call come less than this far apart: the line
// controller takes a longer gap to mean that an extension picked the call
// up. A line without ring signals rings on a cadence inside it
// (ring_cadence.h).
inline constexpr uint32_t kMaxRingGapMs = 7000;

// Privileges and media modes of LineOpen as the line controller passes them.
inline constexpr int32_t kPrivilegesOwnerMonitor = 6;  // open the line
inline constexpr int32_t kMediaModesVoice = 6;
inline constexpr int32_t kPrivilegesOwner = 4;  // take the modem from the port
inline constexpr int32_t kMediaModeAutomatedVoice = 8;

// The caller number a line reports for a caller who withheld it.
inline constexpr const char* kWithheldCallerNumber = "WITHHELD";

// The call events. Empty slots are not raised. Each event concerns the one
// call of the open line.
struct TelephonyEvents {
  // A call is offered, before its rings; also raised after LineOpen for a
  // call that was already ringing when the line was opened.
  std::function<void()> InComeCall;
  // The call rang; `count` = rings of this call so far, from 1.
  std::function<void(int32_t count)> Ring;
  // Caller identification of the offered call; texts as the device reported
  // them (possibly empty). A number the caller withheld is reported as
  // kWithheldCallerNumber, one that did not come as empty text.
  std::function<void(const std::string& name, const std::string& number)>
      CallerID;
  // The call went off-hook: answered here, or an outgoing call was answered.
  std::function<void()> Connected;
  // The far end hung up a connected call. The call stays until LineDrop,
  // whose Idle follows.
  std::function<void()> Disconnected;
  // The call is over and the line is free: after LineDrop, or when an
  // offered or dialled call ended without being connected.
  std::function<void()> Idle;
  // An outgoing call is being dialled.
  std::function<void()> Dialing;
  // A keypad digit of the far end ("0".."9", "*", "#", "A".."D"), only while
  // digit monitoring is on.
  std::function<void(const std::string& digit)> MonitorDigit;
  // The open line went away (a modem unplugged, a registration lost). A call
  // on it ended without an Idle; every operation on the line fails until
  // LineBack. The control keeps the line open until it closes it.
  std::function<void()> LineLost;
  // The lost line is there again and can be opened. Raised to the controls
  // that had it open when it was lost, whether or not they closed it since.
  std::function<void()> LineBack;
};

class Telephony {
 public:
  virtual ~Telephony() = default;

  // Replaces the event handlers.
  virtual void SetEvents(TelephonyEvents events) = 0;

  // Prepares the line backends for this control. A backend that fails is
  // left out of the device list (the registry reports it once) and tried
  // again at the next LineInitialize; the others go on. Non-zero only when
  // no backend could be prepared. Other operations work without it.
  virtual int32_t LineInitialize() = 0;
  // Number of devices; indexes run from 0.
  virtual int32_t GetNumDevices() = 0;
  // The device later operations address (default 0).
  virtual void SetDeviceIndex(int32_t index) = 0;
  virtual int32_t DeviceIndex() = 0;
  // Fills `info` for the current device; non-zero for an index outside the
  // list, with `info` cleared.
  virtual int32_t GetDeviceCaps(DeviceInfo& info) = 0;

  // Opens the current device's line with the given call privileges and media
  // modes (see the constants above). Fails while the device is in use
  // elsewhere, e.g. its modem held open on the serial port.
  virtual int32_t LineOpen(int32_t privileges, int32_t media_modes) = 0;
  virtual int32_t LineClose() = 0;
  // Closes the control's line and gives up its initialisation.
  virtual int32_t LineShutdown() = 0;
  virtual bool IsLineOpen() = 0;

  // Takes the offered call off-hook; Connected follows.
  virtual int32_t LineAnswer() = 0;
  // Hangs up the call; the call is no longer active when this returns, and
  // Idle follows. Non-zero when there is no call.
  virtual int32_t LineDrop() = 0;
  // Starts (true) or stops (false) keypad digit reports. Monitoring belongs
  // to the call: it ends with the call.
  virtual int32_t LineMonitorDigits(bool on) = 0;
  // Dials `number` on the open line; Dialing follows, Connected when the far
  // end answers, Idle when the call ends. `call_text` receives the number as
  // the device dials it (empty on failure). The line controller refuses what
  // DialKinds does not cover before it calls here.
  virtual int32_t MakeCall(const std::string& number,
                           std::string& call_text) = 0;
  // What the line dials (kNumbers for no such device).
  virtual DialCapability DialKinds() = 0;

  // The line's wave-in (1) or wave-out (2) endpoint number, or its serial
  // port number (22); -1 for another class or no such device.
  virtual int32_t GetDeviceID(int16_t device_class) = 0;
  // True while a call is connected (from Connected until the far end hangs
  // up or the call is dropped).
  virtual bool IsCallActive() = 0;

  // Text of a result code, for the journal.
  virtual std::string GetErrorText(int32_t code) = 0;
};

}  // namespace lw
