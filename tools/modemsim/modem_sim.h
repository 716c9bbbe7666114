// A voice modem as its host sees it on the serial line, for trying the
// process without hardware and for tests over a real terminal. It follows
// the chipsets' command sets on its own (not the driver's code), so each
// checks the other: AT commands ended by CR, several in one line
// ("ATE0 V1", "AT+FCLASS=8;+VCID=1"), echo (E0/E1) and word or number
// results (V1/V0), RING sent whenever a ring is due, also amid a command,
// caller identification half a ring interval after the first ring (when the
// exchange sends it) in the profile's form, and the
// voice states: on-hook, voice command mode off-hook, receiving (VRX: the
// caller's sound at 8,000 samples a second in real time, shielded codes in
// the stream) and transmitting (VTX: sound taken in, DLE ETX ends it once
// drained). Each profile has its own abort rule for a recording.
//
// The far end of one call at a time is scripted by CallScript; what the
// sim observes goes to the event handler as JSON lines, the same as the
// simulated line's far end prints them. Time comes from the Clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/clock.h"

namespace lw {

struct CallScript {
  std::string name;
  std::string number;
  bool withhold_name = false;
  bool withhold_number = false;
  int rings = 10;
  uint32_t ring_interval_ms = 5000;
  int pickup_after_ring = 0;  // 0: nobody lifts an extension
  std::vector<int16_t> play;  // the caller's sound, 8 kHz
  uint32_t play_after_ms = 0;
  std::string digits;  // one every 500 ms
  uint32_t digits_after_ms = 0;
  int64_t hangup_after_ms = -1;  // < 0: 1 s after sound and digits, or 10 s
  // How the far end's hang-up shows: "busy", "dialtone", "silence", "loop".
  std::string hangup_signal = "busy";
  // A far end that drives the call step by step (the methods below): no
  // rings, sound, digits or hang-up of the call's own.
  bool driven = false;
  // A call the host dials (Await): how long the called party lets it ring,
  // and what the dial ends in: "answer" (VCON, then the talk above), "busy",
  // "nodialtone", "noanswer" or "nocarrier".
  uint32_t answer_after_ms = 2000;
  std::string dial_result = "answer";
};

class ModemSim {
 public:
  // The manual's description of one chipset (modem_sim.cc).
  struct Chipset;
  struct Handlers {
    // Bytes for the host.
    std::function<void(const std::string& bytes)> to_host;
    // One JSON line about the call.
    std::function<void(const std::string& json)> event;
    // The call is over; `capture` is what the host played into it (8 kHz,
    // pauses kept as silence).
    std::function<void(const std::vector<int16_t>& capture)> call_over;
  };

  // `profile`: usr, conexant or rockwell; false from Known for others.
  static bool Known(const std::string& profile);
  ModemSim(Clock& clock, const std::string& profile, Handlers handlers);
  ~ModemSim();
  ModemSim(const ModemSim&) = delete;
  ModemSim& operator=(const ModemSim&) = delete;

  // Bytes from the host.
  void FromHost(const std::string& bytes);
  // Starts a call to the host; false while one is going on.
  bool Call(CallScript script);
  // Waits for the host's next dial and plays the called party of `script`;
  // false while a call is going on or awaited.
  bool Await(CallScript script);
  // The caller hangs up now (the client went away).
  void CallerHangsUp();
  bool in_call() const { return call_ != nullptr; }
  bool talking() const;

  // --- The steps of a driven call.
  void RingNow();
  void CallerIdNow(const std::string& name, const std::string& number);
  void PickUpNow();
  void DigitsNow(const std::string& digits);
  // Sound the caller says next, streamed while the host records.
  void SoundNow(const std::vector<int16_t>& samples);
  // The caller hangs up with the script's signal (or gives up ringing).
  void HangUpNow();
  // The next dialled call waits for AnswerDial; without it ATD answers NO
  // CARRIER.
  void ExpectDial() { expect_dial_ = true; }
  void AnswerDial();
  // Samples the host has played into the call so far.
  size_t heard() const;

 private:
  struct CallState;
  enum class Mode { kCommand, kTransmit, kReceive };

  void Command(const std::string& line);
  bool Execute(std::string command, std::string& out);
  void Result(const std::string& word, int number);
  // A result code as E/V set it: "\r\nOK\r\n" in words, "0\r" in numbers.
  std::string ResultBytes(const std::string& word, int number) const;
  void EndDial();
  void Send(const std::string& bytes);
  void Code(char code);
  void OnTick();
  void Ring();
  void ReportCaller();
  void Converse(bool answered);
  void TalkTick();
  void EndCall(const char* by);
  void SignalHangUp();
  void StopReceiving();
  std::string SoundBytes(size_t samples);
  void TakeSound(const std::string& bytes);

  Clock& clock_;
  const Chipset& chipset_;
  Handlers handlers_;
  bool echo_ = true;
  bool words_ = true;
  int voice_class_ = 0;
  bool caller_id_ = false;
  bool off_hook_ = false;
  int format_ = -1;
  Mode mode_ = Mode::kCommand;
  std::string line_;
  bool dle_ = false;
  uint32_t transmit_started_ = 0;
  size_t transmitted_ = 0;
  bool draining_ = false;
  std::unique_ptr<CallState> call_;
  bool expect_dial_ = false;
  std::unique_ptr<CallScript> awaited_;
  std::unique_ptr<Timer> tick_;
};

}  // namespace lw
