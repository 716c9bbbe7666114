// One telephone line of a line backend (the simulated line, a voice modem, a
// SIP line) and the backend that offers such lines. The line registry
// (line_registry.h) lists the lines of every backend and builds the one
// Telephony over them; the code above it never sees a LineDevice. Each
// driver makes its backend with one factory function from a
// LineBackendContext (line_backend_context.h).
//
// Contract of a line:
// - Everything runs on the loop thread. A backend whose library calls from
//   another thread hands its events to the loop with Clock::Post first.
// - Events are raised at the moment they happen on the line, also inside one
//   of the line's own operations; the registry defers them to the loop and
//   hands them to the controls that had the line open at that moment, so no
//   control ever sees an event inside its own call. Digits go only to the
//   controls that monitor them; monitoring ends with the call (Idle).
// - Several controls may hold the line open at once (the process's
//   components each have one): Open and Close come once per control. When
//   the last one closes, a call of the process is abandoned without events.
// - A line may be lost and come back (a modem unplugged, a registration
//   lost): it raises LineLost once, ends its call at the far end without an
//   Idle and fails every operation but Close until it raises LineBack. The
//   line controller then reports the line closed, ends and stores the call
//   it had through the normal wrap-up, journals the loss once, and opens the
//   line again at LineBack, with no restart.
// - Rings: a line raises Ring for each ring of an offered call, less than
//   kMaxRingGapMs apart (a longer gap means an extension picked the call up);
//   a line without ring signals of its own (SIP) rings on the documented
//   cadence of a RingCadence (ring_cadence.h). A caller who gives up before
//   the call is taken ends it with Idle.
// - Results are the backend's own codes, 0 = success, below
//   kLineBackendCodeRange; the registry moves them into the backend's own
//   range before they reach a journal line, and asks the backend for texts.
//
// Every backend runs the line contract suite (line_contract_test_fixture.h)
// with its own far end (line_far_end_test_util.h): instantiate
// LineContractTest with the factory of its (backend, far end) pair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/line_audio.h"
#include "devices/telephony.h"

namespace lw {

// Codes a backend returns are 1..kLineBackendCodeRange-1.
inline constexpr int32_t kLineBackendCodeRange = 0x1000;

class LineDevice {
 public:
  virtual ~LineDevice() = default;

  virtual DeviceInfo Caps() = 0;
  // Where the line raises its call events (set once by the registry).
  virtual void SetEvents(TelephonyEvents events) = 0;

  // One more control opens the line; fails while the line is held elsewhere
  // (a modem open on its serial port).
  virtual int32_t Open(int32_t privileges, int32_t media_modes) = 0;
  // One control closes it.
  virtual int32_t Close() = 0;
  // A call was offered (and not answered yet) when a control opened: the
  // registry reports it to that control as InComeCall.
  virtual bool CallOffered() = 0;
  // True while a call is connected.
  virtual bool CallActive() = 0;

  // Takes the offered call off-hook: Connected follows.
  virtual int32_t Answer() = 0;
  // Hangs up the call at once: Idle follows.
  virtual int32_t Drop() = 0;
  // A control starts (true) or stops keypad digit reports for the call; the
  // registry hands digits only to the controls that asked.
  virtual int32_t MonitorDigits(bool on) = 0;
  // Dials `number`: Dialing follows, then Connected when the far end answers.
  // `call_text` is the number as dialled (empty on failure).
  virtual int32_t Dial(const std::string& number, std::string& call_text) = 0;
  // What the line dials; a SIP line adds SIP addresses.
  virtual DialCapability DialKinds() { return DialCapability::kNumbers; }

  // Where the line's call audio meets the wave driver and the voice; null
  // for a line without audio. The registry answers the wave-in and wave-out
  // device numbers from it.
  //
  // A line that plays into the call or records it but not both at once (a
  // voice modem) marks its endpoint half-duplex (SetHalfDuplex); the wave
  // driver answers IsHalfDuplex from it. On such a line the process never
  // plays and records at once: a recording waits for the end of the prompt
  // that plays (greeting, beep, notice), and nothing is played into a call
  // while it is recorded (the prompts come before the recording, and the
  // remote-access dialogue, which speaks and plays, records nothing). The
  // simulated line is full duplex.
  virtual LineAudioEndpoint* Audio() { return nullptr; }
  // Any other device of the line: its serial port (kDeviceClassSerialPort);
  // -1 where it has none.
  virtual int32_t GetDeviceID(int16_t device_class) = 0;
};

class LineBackend {
 public:
  virtual ~LineBackend() = default;

  // The lines it offers now, in its own order. The backend owns them; they
  // live as long as the backend stays registered.
  virtual std::vector<LineDevice*> Lines() = 0;
  // Prepares the backend (a SIP account registers): called when the first
  // control initialises it, and again after Shutdown. A failure keeps the
  // backend's lines out of the device list until a later Initialize
  // succeeds. Backends with nothing to prepare answer 0.
  virtual int32_t Initialize() { return 0; }
  // The last control that initialised it shut down; its lines are closed.
  virtual int32_t Shutdown() { return 0; }
  // Text of one of its own codes (never 0).
  virtual std::string ErrorText(int32_t code) = 0;
};

}  // namespace lw
