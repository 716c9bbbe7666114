#include "call/call_line.h"

#include "base/message_text.h"
#include "callstore/templates.h"

namespace lw {

void CallLine::Send(int32_t channel,
                    std::initializer_list<std::string_view> fields) {
  SendText(channel, JoinFields(fields));
}

void CallLine::SendOutWithDevice(std::string_view name) {
  const std::string device = DeviceIndexText();
  Send(kChannelOut, {name, device});
}

void CallLine::MonitorDigitsJournalled(bool on) {
  const int32_t result = MonitorDigits(on);
  journal().LogSys("Tapi.LineMonitorDigits(" + DeviceIndexText() + ")->" +
                       telephony().GetErrorText(result),
                   0, "");
}

std::string CallLine::FillForCall(const std::string& text) {
  return FillForCall(text, call().Call.info);
}

std::string CallLine::FillForCall(const std::string& text,
                                  const CallInfo& info) {
  const CallOptions& o = options();
  RemoteDigits d;
  d.RCPlay = o.RCPlay;
  d.RCPrevDigit = o.RCPrevDigit;
  d.RCCloseRC = o.RCCloseRC;
  d.RCNextDigit = o.RCNextDigit;
  d.RCFirstDigit = o.RCFirstDigit;
  d.RCDelete = o.RCDelete;
  return FillCallTemplate(text, info, d);
}

}  // namespace lw
