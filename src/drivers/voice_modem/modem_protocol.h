// The voice-modem protocol without any I/O: the byte stream from the modem
// taken apart into text lines, shielded (DLE) codes and sound, caller
// identification reports, the sample-format and class lists, sound bytes to
// samples and back. Nothing here waits or blocks; the session
// (modem_session.h) feeds it what the port delivered.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/voice_modem/modem_profiles.h"

namespace lw {

inline constexpr char kDle = 0x10;
inline constexpr char kEtx = 0x03;

// Takes the modem's bytes apart. In command mode the bytes are text lines
// ended by CR or LF (empty lines are dropped) with shielded codes (DLE and
// one character) between them; while streaming (AT+VRX) they are sound,
// with DLE DLE standing for one DLE byte, DLE ETX ending the stream and any
// other DLE pair a code. A DLE at the end of one read pairs with the first
// byte of the next.
class ModemStream {
 public:
  struct Events {
    std::function<void(const std::string& line)> line;
    std::function<void(char code)> code;
    std::function<void(std::string_view sound)> sound;
    // DLE ETX: the stream ended; the bytes after it are text again.
    std::function<void()> end;
  };
  static constexpr size_t kMaxLine = 256;

  explicit ModemStream(Events events) : events_(std::move(events)) {}
  // Sound follows the CONNECT line; the LF that ends that line is no sound.
  void SetStreaming(bool streaming) {
    streaming_ = streaming;
    skip_lf_ = streaming;
  }
  bool streaming() const { return streaming_; }
  void Feed(std::string_view bytes);

 private:
  void FlushSound();

  Events events_;
  bool streaming_ = false;
  bool dle_ = false;
  bool skip_lf_ = false;
  std::string line_;
  std::string sound_;
};

// Sound bytes for AT+VTX: every DLE doubled.
std::string ShieldSound(std::string_view sound);

// What a shielded code means on a call of `profile`'s chipset.
enum class ModemSignal {
  kNone,
  kDigit,
  kHangUp,
  kPickUp,
  kRing,
  kOverrun,
  kUnderrun
};

// Turns shielded codes into signals. A keypad digit comes either as its
// code alone or between DLE / and DLE ~ (pressed, released), where a
// repeated code while the key is held is the same press.
class ModemSignals {
 public:
  explicit ModemSignals(const ModemProfile& profile) : profile_(profile) {}
  // The signal of `code`; for kDigit, `digit` is "0".."9", "*", "#",
  // "A".."D".
  ModemSignal Decode(char code, std::string& digit);

 private:
  const ModemProfile& profile_;
  bool pressed_ = false;
  bool reported_ = false;
};

// A line of a caller identification report: "NMBR = 5551234" or
// "NMBR=5551234" (DATE, TIME, NMBR, NAME, MESG); none for other lines.
struct CallerIdField {
  std::string key;
  std::string value;
};
std::optional<CallerIdField> ParseCallerIdLine(std::string_view line);

// The caller identification of one call, collected from its report lines.
// "P" (private) and "O" (out of area) stand for an absent value, and so
// does a MESG whose parameter says the number (04) or name (08) is absent;
// an absent value is reported empty, except a number the caller withheld
// ("P", or a MESG 04 for "P"), which is kWithheldCallerNumber.
struct CallerId {
  std::string name;
  std::string number;
  bool any = false;  // some field arrived
  void Add(const CallerIdField& field);
};

// The final result codes of a command.
enum class ModemResult {
  kOk,
  kConnect,
  kVcon,
  kRing,
  kError,
  kBusy,
  kNoDialtone,
  kNoAnswer,
  kNoCarrier,
  kTimeout,
  kLost
};
// The result a line of text is, if it is one ("OK", "CONNECT", "VCON",
// "ERROR", "BUSY", "NO DIALTONE", "NO ANSWER", "NO CARRIER"; "RING" is
// kRing but never ends a command).
std::optional<ModemResult> ResultOf(std::string_view line);
std::string_view ResultText(ModemResult result);

// Whether an AT+FCLASS=? (or AT#CLS=?) answer lists class 8, voice:
// "0,1,2,8", "(0-2,8)", "0,1,1.0,2,8".
bool ListsVoiceClass(std::span<const std::string> lines);
// The first of the profile's formats that an AT+VSM=? answer lists (lines
// such as "128,\"8-BIT LINEAR\",8,0,(8000),(0),(0)", with or without a
// "+VSM:" prefix).
std::optional<ModemSampleFormat> ChooseSampleFormat(
    const ModemProfile& profile, std::span<const std::string> lines);

// Sound bytes to 16-bit samples and back. Bytes of a 16-bit sound come in
// pairs (low byte first); an odd byte waits in `carry` for the next read.
void DecodeSound(ModemSound sound, std::string_view bytes,
                 std::vector<int16_t>& out, std::string& carry);
std::string EncodeSound(ModemSound sound, std::span<const int16_t> samples);

}  // namespace lw
