// The line controller's five channel ends to the desktop application:
// 107 (line state and calls), 108 (line commands), 109 (caller
// identification), 110 (end of a call) and 111 (mail requests). They are
// made and bound when the line controller loads and live as long as it does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devices/channel.h"
#include "devices/devices.h"

namespace lw {

class DesktopChannels {
 public:
  // Makes the five ends from `devices`, hands every message that arrives on
  // 108 to `commands`, and binds each end to its number.
  void Bind(const Devices& devices, MessageChannel::Handler commands);

  // Sends `text` on `channel` (107, 109, 110 or 111) when that end is bound
  // and its channel can be opened; otherwise the text is dropped. Nothing is
  // sent on 108 or on any other number.
  void SendText(int32_t channel, const std::string& text);

 private:
  std::unique_ptr<MessageChannel> line_state_;     // 107
  std::unique_ptr<MessageChannel> commands_;       // 108
  std::unique_ptr<MessageChannel> caller_id_;      // 109
  std::unique_ptr<MessageChannel> call_ended_;     // 110
  std::unique_ptr<MessageChannel> mail_requests_;  // 111
};

}  // namespace lw
