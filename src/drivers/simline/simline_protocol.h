// The wire protocol between the simulated line (inside the process) and a
// far end (`lwdctl phone`), over the Unix stream socket
// `<runtime>/simline.sock`.
//
// The far end runs the timing of the call: it offers the call, rings, sends
// the caller identification, picks up an extension, plays its audio, keys
// digits and hangs up at the moments its script says; the line turns each
// message into telephony events at once. The line tells the far end when it
// went off-hook, when the process dialled out to it, what the process plays
// into the call, and when it hung up.
//
// Every message is one frame:
//
//   byte 0     type (an ASCII letter, below)
//   bytes 1-2  payload length, unsigned 16-bit little-endian
//   bytes 3-   payload
//
// Far end -> line:
//   'O' Offer          a new incoming call; empty
//   'R' Ring           the offered call rings once more; empty
//   'C' CallerId       name, one 0x00 byte, number (neither contains 0x00;
//                      an empty number is one the caller withheld)
//   'P' PickUp         an extension picked the offered call up: the rings
//                      stop and the conversation runs; empty
//   'D' Digit          one keypad digit: 0-9 * # A-D
//   'H' Hangup         the far end hangs up; empty
//   'W' WaitCall       answer the process's next outgoing call; empty
//   'N' AnswerCall     the far end answers the dialled call; empty
//   'M' ModemText      bytes the line's modem reports on its serial port as
//                      they are (any bytes), while the process reads the
//                      modem there; dropped otherwise
//   'L' LoseLine       the line goes away (unplugged): its call ends, and
//                      the process can use it no more until LineBack; empty
//   'B' LineBack       the lost line is there again; empty
// Line -> far end:
//   'o' Offered        the call is offered; one byte, 1 when a line of the
//                      process is open (the process sees the call), else 0
//   'b' Busy           refused: the line already carries a call; empty
//   'a' Answered       the call went off-hook (incoming call taken by the
//                      process, or outgoing call answered); empty
//   'd' Dialed         the process dials this far end; the number as dialled
//   'h' HungUp         the line hung up; empty
// Both ways:
//   'A' Audio          8 kHz 16-bit mono samples, little-endian; an even,
//                      non-zero length
//
// A stream that breaks these rules (unknown type, malformed payload) is
// broken off; the line treats that like a far end that went away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

enum class SimlineType : uint8_t {
  kOffer = 'O',
  kRing = 'R',
  kCallerId = 'C',
  kPickUp = 'P',
  kDigit = 'D',
  kHangup = 'H',
  kWaitCall = 'W',
  kAnswerCall = 'N',
  kModemText = 'M',
  kLoseLine = 'L',
  kLineBack = 'B',
  kOffered = 'o',
  kBusy = 'b',
  kAnswered = 'a',
  kDialed = 'd',
  kHungUp = 'h',
  kAudio = 'A',
};

struct SimlineMessage {
  SimlineType type = SimlineType::kHangup;
  std::string name;              // kCallerId
  std::string number;            // kCallerId, kDialed
  std::string text;              // kModemText
  char digit = 0;                // kDigit
  bool line_open = false;        // kOffered
  std::vector<int16_t> samples;  // kAudio

  friend bool operator==(const SimlineMessage&,
                         const SimlineMessage&) = default;
};

inline constexpr size_t kSimlineHeaderBytes = 3;
inline constexpr size_t kSimlineMaxPayload = 65535;
// Most samples one audio frame carries.
inline constexpr size_t kSimlineMaxSamples = kSimlineMaxPayload / 2;

// True for 0-9 * # A-D.
bool IsSimlineDigit(char c);

// The frame of `m`. Texts longer than a frame holds are cut, and a 0x00 in
// them ends them; audio beyond kSimlineMaxSamples is cut (send longer
// stretches as several frames). An invalid digit is sent as '0'.
std::string EncodeSimline(const SimlineMessage& m);

// Shorthands for the messages without payload, and for audio.
SimlineMessage SimlineOf(SimlineType type);
SimlineMessage SimlineAudio(std::span<const int16_t> samples);

// Splits a byte stream into messages. Bytes may arrive in pieces of any
// size; Next() hands out each message once it is whole. After a malformed
// frame the decoder stays failed and hands out nothing more.
class SimlineDecoder {
 public:
  enum class Result { kMessage, kNeedMore, kFailed };

  void Feed(std::string_view bytes);
  // The next whole message into `*out`.
  Result Next(SimlineMessage* out);

  bool failed() const { return failed_; }
  // Why the stream was refused ("unknown frame type 0x5a", ...).
  const std::string& error() const { return error_; }
  // Bytes received and not yet handed out.
  size_t buffered() const { return buffer_.size() - pos_; }

 private:
  Result Fail(std::string why);

  std::string buffer_;
  size_t pos_ = 0;
  bool failed_ = false;
  std::string error_;
};

}  // namespace lw
