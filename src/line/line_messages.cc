#include "line/line_messages.h"

#include "base/message_text.h"
#include "callstore/templates.h"

namespace lw {

std::string DeviceIndexText(LineState& s) {
  return s.Tapi1 ? std::to_string(s.Tapi1->DeviceIndex()) : "0";
}

void SendToDesktop(LineState& /*s*/, MessageChannel* end, int32_t channel,
                   std::initializer_list<std::string_view> fields) {
  if (end == nullptr) return;
  SendOn(*end, channel, JoinFields(fields));
}

void SendOutWithDevice(LineState& s, std::string_view name) {
  const std::string device = DeviceIndexText(s);
  SendToDesktop(s, s.udiOut.get(), kChannelOut, {name, device});
}

std::string FillForCall(const LineState& s, const std::string& text) {
  const CallOptions& o = s.Options;
  RemoteDigits d;
  d.RCPlay = o.RCPlay;
  d.RCPrevDigit = o.RCPrevDigit;
  d.RCCloseRC = o.RCCloseRC;
  d.RCNextDigit = o.RCNextDigit;
  d.RCFirstDigit = o.RCFirstDigit;
  d.RCDelete = o.RCDelete;
  return FillCallTemplate(text, s.Call.info, d);
}

}  // namespace lw
