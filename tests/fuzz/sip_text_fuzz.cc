// What a SIP caller controls before the call is taken: the identity headers
// of the INVITE and the digits of INFO bodies and telephone events. The
// input is the P-Asserted-Identity value, a NUL, then the From value (also
// read as a dtmf-relay body and a telephone-event payload). The readers
// must answer without a crash, and what they answer comes from the input.
#include <string>
#include <string_view>

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
  return 0;
}
