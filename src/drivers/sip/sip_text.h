// The texts and rules of a SIP line that do not need the SIP stack: who a
// caller is, which formats of an SDP offer or answer the line takes, which
// keypad digit a packet or a request carries, and when two digit reports are
// one key press. Everything here works on text a stranger
// controls, so nothing here trusts its input's shape.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lw {

// The user part and host of "sip:user@host" (also "sips:", and "tel:"
// with the number as the user); empty parts when the text is not such an
// address.
struct SipAddressParts {
  std::string user;
  std::string host;
};
SipAddressParts SplitSipAddress(std::string_view uri);

// An address header value, with or without a display name and angle
// brackets ("\"Alice\" <sip:5551234@host>;tag=1", "Bob <sip:bob@host>",
// "sip:carol@host"): its display name (quotes and escapes removed) and the
// user part of its address.
struct NameAndUser {
  std::string name;
  std::string user;
};
NameAndUser ParseNameAddr(std::string_view value);

// The caller of an offered call: the P-Asserted-Identity header's user (and
// name, else the From header's name) when the header names one, else the
// From header's name and user. A withheld name ("Anonymous") and a missing
// part are empty; a withheld user ("anonymous@anonymous.invalid") is
// kWithheldCallerNumber.
NameAndUser CallerIdentity(std::string_view asserted_identity,
                           std::string_view from);

// One format of an SDP audio line: its payload type and the encoding name
// its rtpmap gives (empty when it has none).
struct SdpFormat {
  int pt = -1;
  std::string_view name;
};
// What the line takes of the far end's formats: the first PCMU or PCMA one
// (payload types 0 and 8 are those without an rtpmap) and the first
// telephone-event one; -1 for the one that is missing. A payload type
// outside 0 to 127 is passed over.
struct ChosenFormats {
  int audio_pt = -1;
  bool alaw = false;
  int event_pt = -1;
};
ChosenFormats ChooseFormats(std::span<const SdpFormat> formats);

// The key of an RFC 4733 telephone-event payload ("0".."9", "*", "#",
// "A".."D"), and whether the packet ends the key press; nullopt for another
// event or a short payload.
struct TelephoneEvent {
  char key;
  bool end;
};
std::optional<TelephoneEvent> ParseTelephoneEvent(const uint8_t* payload,
                                                  size_t size);

// The key of an INFO request's application/dtmf-relay body
// ("Signal=5\r\nDuration=160"); nullopt when it names none.
std::optional<char> ParseDtmfRelay(std::string_view body);

// One report per key press, whichever way the press arrives. A telephone
// event repeats its packets for as long as the key is down and three more
// times at its end; all of them carry the RTP timestamp of the press, so a
// new timestamp is a new press. An INFO request is one press. A phone that
// sends the same press both ways (or a tone besides) reports the same key
// from another source shortly after: such a report within
// kSamePressWindowMs of the last taken press of that key is dropped.
class DigitPresses {
 public:
  enum class Source { kTelephoneEvent, kInfo, kInBand };
  static constexpr uint32_t kSamePressWindowMs = 500;

  // True when this report is a new press. `press_id` tells presses of one
  // source apart (the RTP timestamp; ignored for INFO); `now_ms` is the
  // loop's tick count.
  bool Take(Source source, char key, uint32_t press_id, uint32_t now_ms);
  // A new call: nothing pressed yet.
  void Reset() { *this = DigitPresses(); }

 private:
  bool have_last_ = false;
  Source last_source_ = Source::kInfo;
  char last_key_ = 0;
  uint32_t last_ms_ = 0;
  bool have_event_ = false;
  uint32_t last_event_id_ = 0;
};

}  // namespace lw
