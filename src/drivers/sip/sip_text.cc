#include "drivers/sip/sip_text.h"

#include <cctype>

#include "devices/telephony.h"

namespace lw {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
    s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
    s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i])
      return false;
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

// "%41" escapes in the user part of an address.
std::string Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() &&
        std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(
          std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

constexpr char kKeys[] = "0123456789*#ABCD";

}  // namespace

SipAddressParts SplitSipAddress(std::string_view uri) {
  uri = Trim(uri);
  SipAddressParts parts;
  if (StartsWithNoCase(uri, "tel:")) {
    uri.remove_prefix(4);
    parts.user = Unescape(uri.substr(0, uri.find(';')));
    return parts;
  }
  if (StartsWithNoCase(uri, "sip:")) {
    uri.remove_prefix(4);
  } else if (StartsWithNoCase(uri, "sips:")) {
    uri.remove_prefix(5);
  } else {
    return parts;
  }
  uri = uri.substr(0, uri.find_first_of(";?>"));
  const size_t at = uri.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view user = uri.substr(0, at);
    user = user.substr(0, user.find_first_of(":;"));  // password, parameters
    parts.user = Unescape(user);
    uri.remove_prefix(at + 1);
  }
  parts.host = std::string(uri);
  return parts;
}

NameAndUser ParseNameAddr(std::string_view value) {
  value = Trim(value);
  NameAndUser out;
  std::string_view address = value;
  if (!value.empty() && value.front() == '"') {
    size_t i = 1;
    for (; i < value.size() && value[i] != '"'; ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      out.name += value[i];
    }
    address = i < value.size() ? value.substr(i + 1) : std::string_view();
  } else if (const size_t lt = value.find('<'); lt != std::string_view::npos) {
    out.name = std::string(Trim(value.substr(0, lt)));
    address = value.substr(lt);
  }
  if (const size_t lt = address.find('<'); lt != std::string_view::npos) {
    address.remove_prefix(lt + 1);
    address = address.substr(0, address.find('>'));
  }
  out.user = SplitSipAddress(address).user;
  return out;
}

NameAndUser CallerIdentity(std::string_view asserted_identity,
                           std::string_view from) {
  // The asserted identity may list a sip: and a tel: address; the first
  // one with a user names the caller.
  NameAndUser caller;
  std::string_view rest = asserted_identity;
  while (!Trim(rest).empty() && caller.user.empty()) {
    size_t comma = std::string_view::npos;
    bool quoted = false;
    for (size_t i = 0; i < rest.size() && comma == std::string_view::npos;
         ++i) {
      if (rest[i] == '"') quoted = !quoted;
      if (rest[i] == ',' && !quoted) comma = i;
    }
    const NameAndUser one = ParseNameAddr(rest.substr(0, comma));
    if (caller.name.empty()) caller.name = one.name;
    caller.user = one.user;
    rest = comma == std::string_view::npos ? std::string_view()
                                           : rest.substr(comma + 1);
  }
  if (caller.user.empty())
    caller = ParseNameAddr(from);
  else if (caller.name.empty())
    caller.name = ParseNameAddr(from).name;  // a tel: identity has no name
  if (EqualsNoCase(caller.name, "anonymous")) caller.name.clear();
  if (EqualsNoCase(caller.user, "anonymous"))
    caller.user = kWithheldCallerNumber;
  return caller;
}

ChosenFormats ChooseFormats(std::span<const SdpFormat> formats) {
  ChosenFormats chosen;
  for (const SdpFormat& format : formats) {
    // RTP payload types are 0 to 127; anything else names no format.
    if (format.pt < 0 || format.pt > 127) continue;
    std::string_view name = format.name;
    if (name.empty() && format.pt == 0) name = "pcmu";
    if (name.empty() && format.pt == 8) name = "pcma";
    if (chosen.audio_pt < 0 &&
        (EqualsNoCase(name, "pcmu") || EqualsNoCase(name, "pcma"))) {
      chosen.audio_pt = format.pt;
      chosen.alaw = EqualsNoCase(name, "pcma");
    }
    if (chosen.event_pt < 0 && EqualsNoCase(name, "telephone-event"))
      chosen.event_pt = format.pt;
  }
  return chosen;
}

std::optional<TelephoneEvent> ParseTelephoneEvent(const uint8_t* payload,
                                                  size_t size) {
  if (size < 4 || payload[0] >= sizeof kKeys - 1) return std::nullopt;
  return TelephoneEvent{kKeys[payload[0]], (payload[1] & 0x80) != 0};
}

std::optional<char> ParseDtmfRelay(std::string_view body) {
  while (!body.empty()) {
    const size_t end = body.find('\n');
    std::string_view line = Trim(body.substr(0, end));
    body = end == std::string_view::npos ? std::string_view()
                                         : body.substr(end + 1);
    if (!StartsWithNoCase(line, "signal")) continue;
    line.remove_prefix(6);
    line = Trim(line);
    if (line.empty() || line.front() != '=') continue;
    line = Trim(line.substr(1));
    if (line.size() != 1) {
      // "Signal=10" and "Signal=11" are "*" and "#" on some phones.
      if (line == "10") return '*';
      if (line == "11") return '#';
      return std::nullopt;
    }
    const char key =
        static_cast<char>(std::toupper(static_cast<unsigned char>(line[0])));
    for (const char* k = kKeys; *k != '\0'; ++k)
      if (*k == key) return key;
    return std::nullopt;
  }
  return std::nullopt;
}

bool DigitPresses::Take(Source source, char key, uint32_t press_id,
                        uint32_t now_ms) {
  if (source == Source::kTelephoneEvent) {
    if (have_event_ && press_id == last_event_id_) return false;
    have_event_ = true;
    last_event_id_ = press_id;
  }
  if (have_last_ && source != last_source_ && key == last_key_ &&
      now_ms - last_ms_ < kSamePressWindowMs)
    return false;
  have_last_ = true;
  last_source_ = source;
  last_key_ = key;
  last_ms_ = now_ms;
  return true;
}

}  // namespace lw
