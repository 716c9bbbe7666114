// The far end of a line under test, for the tests every line backend runs:
// the line contract suite (line_contract_test_fixture.h) and the call tests
// (line/call_test_fixture.h). It plays the caller, or the called party of
// the process's outgoing call, in the words of the scenario, and observes
// what the line sent it. The simulated line's SimFarEnd is the first; a
// voice modem's or a SIP line's far end drives a real peer, and each of its
// operations returns once the line has seen it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "devices/clock.h"
#include "devices/line_audio.h"
#include "devices/line_device.h"

namespace lw::testing {

class LineFarEnd {
 public:
  virtual ~LineFarEnd() = default;

  // --- A call to the line: offered first, ringing only when told to.
  virtual void Offer() = 0;
  virtual void CallerId(const std::string& name, const std::string& number) = 0;
  virtual void Ring() = 0;
  // Somebody lifts an extension: the rings stop, the talk goes on.
  virtual void PickUp() = 0;
  // --- Either call.
  virtual void HangUp() = 0;
  virtual void Digits(const std::string& digits) = 0;
  virtual void Audio(std::span<const int16_t> samples) = 0;
  // --- A call from the line: waits for the process's next outgoing call,
  // then answers it.
  virtual void WaitCall() = 0;
  virtual void AnswerCall() = 0;
  // --- The line goes away (a modem unplugged, a registration lost), and
  // comes back.
  virtual void LoseLine() = 0;
  virtual void RestoreLine() = 0;

  // A line that learns of a call only from its first ring (a voice modem:
  // the offer is the first RING, and nothing reaches a closed line) rings
  // once more at Offer; the suite then leaves out what such a line cannot
  // show.
  virtual bool OfferRings() const { return false; }
  // A sample the line carries to a record sink unchanged: a line with
  // 8-bit sound keeps only a sample's high byte.
  virtual int16_t CarriedSample() const { return 7; }
  // A line that is told the caller with the offer (a SIP line) reports it
  // at once; the suite looks at the caller only where it is told later.
  virtual bool OfferNamesCaller() const { return false; }
  // Why this far end cannot play the contract case `test`, or empty.
  virtual std::string Unable(const std::string& /*test*/) const { return {}; }
  // Waits until what the line sent has reached the line's loop (real
  // sockets and threads take real time); then the loop runs it.
  virtual void Settle() {}
  // What the line calls its dialled call to `number`.
  virtual std::string CallText(const std::string& number) const {
    return number;
  }

  // --- What the line sent this far end.
  virtual size_t samples_heard() const = 0;
  // Times this far end's call was connected (the line answered it, or the
  // far end answered the line's call).
  virtual int answers() const = 0;
  // Times the line hung up on this far end.
  virtual int hang_ups() const = 0;
  // The number the line dialled to reach this far end (empty until then).
  virtual const std::string& dialed() const = 0;
};

// A line backend under test and the far end of its first line, made on the
// test's clock and audio hub. The far end goes before the backend.
struct LinePair {
  std::unique_ptr<LineBackend> backend;
  std::unique_ptr<LineFarEnd> far_end;
};
using LinePairFactory = std::function<LinePair(Clock&, LineAudioHub&)>;

}  // namespace lw::testing
