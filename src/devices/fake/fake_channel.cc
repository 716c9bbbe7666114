#include "devices/fake/fake_channel.h"

#include <algorithm>

namespace lw {

const std::vector<std::string>& FakeChannelHub::Sent(int32_t channel) const {
  static const std::vector<std::string> kNone;
  auto it = sent_.find(channel);
  return it == sent_.end() ? kNone : it->second;
}

void FakeChannelHub::Detach(FakeChannel* end) {
  ends_.erase(std::remove(ends_.begin(), ends_.end(), end), ends_.end());
}

bool FakeChannelHub::Attached(const FakeChannel* end) const {
  return std::find(ends_.begin(), ends_.end(), end) != ends_.end();
}

void FakeChannelHub::Deliver(const FakeChannel* from, int32_t channel,
                             const std::string& text) {
  // A handler may send, rebind or destroy ends while we deliver: walk a
  // snapshot and re-check each end just before handing it the message.
  const std::vector<FakeChannel*> snapshot = ends_;
  for (FakeChannel* end : snapshot) {
    if (end == from || !Attached(end)) continue;
    if (!end->bound_ || end->channel_ != channel) continue;
    end->Receive(text);
  }
}

bool FakeChannel::OpenChannel(int32_t channel) {
  if (hub_.open_fails_) {
    bound_ = false;
    return false;
  }
  bound_ = true;
  channel_ = channel;
  return true;
}

void FakeChannel::SendMessage(const std::string& text) {
  if (!bound_) return;
  hub_.sent_[channel_].push_back(text);
  hub_.Deliver(this, channel_, text);
}

void FakeChannel::Receive(const std::string& text) {
  if (!handler_) return;
  // Copy: the handler may replace itself while it runs.
  Handler handler = handler_;
  handler(text);
}

}  // namespace lw
