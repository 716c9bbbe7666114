#include "line/desktop_channels.h"

#include <utility>

#include "call/call_line.h"

namespace lw {

void DesktopChannels::Bind(const Devices& devices,
                           MessageChannel::Handler commands) {
  line_state_ = devices.new_channel();
  commands_ = devices.new_channel();
  caller_id_ = devices.new_channel();
  call_ended_ = devices.new_channel();
  mail_requests_ = devices.new_channel();
  commands_->SetMessageArrived(std::move(commands));
  line_state_->OpenChannel(kChannelOut);
  commands_->OpenChannel(kChannelIn);
  caller_id_->OpenChannel(kChannelCallerID);
  call_ended_->OpenChannel(kChannelIdle);
  mail_requests_->OpenChannel(kChannelMail);
}

void DesktopChannels::SendText(int32_t channel, const std::string& text) {
  MessageChannel* end = nullptr;
  switch (channel) {
    case kChannelOut:
      end = line_state_.get();
      break;
    case kChannelCallerID:
      end = caller_id_.get();
      break;
    case kChannelIdle:
      end = call_ended_.get();
      break;
    case kChannelMail:
      end = mail_requests_.get();
      break;
    default:
      break;
  }
  if (end != nullptr) SendOn(*end, channel, text);
}

}  // namespace lw
