#include "devices/channel.h"

namespace lw {

bool SendOn(MessageChannel& end, int32_t channel, const std::string& text) {
  if (!end.OpenChannel(channel)) return false;
  end.SendMessage(text);
  return true;
}

}  // namespace lw
