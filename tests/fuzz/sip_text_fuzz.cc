// What a SIP caller controls before the call is taken: the identity headers
// of the INVITE, the formats of its SDP offer and the digits of INFO bodies
// and telephone events. The input is the P-Asserted-Identity value, a NUL,
// then the From value (also read as a dtmf-relay body, a telephone-event
// payload and the offer's formats, one "<pt> <name>" a line). The readers
// must answer without a crash, and what they answer comes from the input.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/sip/sip_text.h"
#include "fuzz_home.h"

using lw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view asserted = input.substr(0, nul);
  const std::string_view from = nul == std::string_view::npos
                                    ? std::string_view()
                                    : input.substr(nul + 1);
  const lw::NameAndUser caller = lw::CallerIdentity(asserted, from);
  Check(caller.name.size() <= size && caller.user.size() <= size);
  const lw::SipAddressParts parts = lw::SplitSipAddress(from);
  Check(parts.host.size() <= from.size() && parts.user.size() <= from.size());
  if (const auto key = lw::ParseDtmfRelay(from))
    Check(std::string_view("0123456789*#ABCD").find(*key) !=
          std::string_view::npos);
  if (const auto event = lw::ParseTelephoneEvent(data, size))
    Check(size >= 4 && data[0] < 16);
  std::vector<lw::SdpFormat> formats;
  for (std::string_view rest = from; !rest.empty();) {
    const std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    lw::SdpFormat format;
    const auto [end, ec] =
        std::from_chars(line.data(), line.data() + line.size(), format.pt);
    format.name = line.substr(static_cast<size_t>(end - line.data()));
    if (!format.name.empty()) format.name.remove_prefix(1);
    formats.push_back(format);
  }
  const lw::ChosenFormats chosen = lw::ChooseFormats(formats);
  // A type is chosen when the offer has one of its encoding, and only then.
  const auto is = [](std::string_view name, std::string_view lower) {
    return name.size() == lower.size() &&
           std::equal(name.begin(), name.end(), lower.begin(),
                      [](char a, char b) {
                        return std::tolower(static_cast<unsigned char>(a)) == b;
                      });
  };
  const auto audio = [&](const lw::SdpFormat& f) {
    return is(f.name, "pcmu") || is(f.name, "pcma") ||
           (f.name.empty() && (f.pt == 0 || f.pt == 8));
  };
  const auto event = [&](const lw::SdpFormat& f) {
    return is(f.name, "telephone-event");
  };
  const auto has = [&](auto fits, int pt) {
    return std::any_of(formats.begin(), formats.end(), [&](const auto& f) {
      return fits(f) && f.pt >= 0 && f.pt <= 127 && (pt < 0 || f.pt == pt);
    });
  };
  Check((chosen.audio_pt >= 0) == has(audio, -1) &&
        (chosen.audio_pt < 0 || has(audio, chosen.audio_pt)));
  Check((chosen.event_pt >= 0) == has(event, -1) &&
        (chosen.event_pt < 0 || has(event, chosen.event_pt)));
  return 0;
}
