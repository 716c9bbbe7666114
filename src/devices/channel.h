// A numbered local message channel: the process and the desktop application
// exchange short texts over channels 105 to 111. A message sent on a channel
// reaches every other party bound to the same number, whole and in order; a
// sender never receives its own message.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lw {

class MessageChannel {
 public:
  using Handler = std::function<void(const std::string& text)>;
  virtual ~MessageChannel() = default;

  // Binds this end to `channel`. Cheap when already bound to that number;
  // callers call it before every send and send only when it answers true.
  // False when the transport cannot be used (e.g. the runtime folder is
  // missing or not writable).
  virtual bool OpenChannel(int32_t channel) = 0;

  // Sends one message on the bound channel. Never blocks on a slow or dead
  // party: what a party cannot take at once waits for it in a bounded queue
  // on the loop and reaches it in order once it reads. Only a party that is
  // gone, or that takes nothing for a bounded time, loses messages, and the
  // loss is journalled once per episode. Does nothing when not bound.
  virtual void SendMessage(const std::string& text) = 0;

  // MessageArrived: called on the loop thread with each whole message
  // received on the bound channel.
  virtual void SetMessageArrived(Handler handler) = 0;
};

// Opens `channel` on `end` and sends `text` only when the open answered true;
// otherwise the message is dropped (not queued, not retried). Answers whether
// it was sent.
bool SendOn(MessageChannel& end, int32_t channel, const std::string& text);

}  // namespace lw
