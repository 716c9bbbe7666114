// In-memory message channels for tests. Every FakeChannel attaches to one
// FakeChannelHub; a message sent by one end reaches, synchronously and in
// order, every other end bound to the same number. The test plays the desktop
// application through the hub (which must outlive its ends): it sends on a
// number (`Send`) and reads what the ends sent on a number (`Sent`).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "devices/channel.h"

namespace lw {

class FakeChannel;

class FakeChannelHub {
 public:
  FakeChannelHub() = default;
  FakeChannelHub(const FakeChannelHub&) = delete;
  FakeChannelHub& operator=(const FakeChannelHub&) = delete;

  // The desktop application sends `text` on `channel`: every end bound to
  // that number receives it before this returns. Not recorded in Sent().
  void Send(int32_t channel, const std::string& text) {
    Deliver(nullptr, channel, text);
  }

  // Texts the ends sent on `channel`, oldest first.
  const std::vector<std::string>& Sent(int32_t channel) const;
  void ClearSent() { sent_.clear(); }

  // Fault switch: while set, OpenChannel answers false (the transport cannot
  // be used) and leaves the end unbound, so its sends are dropped.
  void set_open_fails(bool fails) { open_fails_ = fails; }

 private:
  friend class FakeChannel;
  void Attach(FakeChannel* end) { ends_.push_back(end); }
  void Detach(FakeChannel* end);
  bool Attached(const FakeChannel* end) const;
  void Deliver(const FakeChannel* from, int32_t channel,
               const std::string& text);

  std::vector<FakeChannel*> ends_;
  std::map<int32_t, std::vector<std::string>> sent_;
  bool open_fails_ = false;
};

class FakeChannel : public MessageChannel {
 public:
  explicit FakeChannel(FakeChannelHub& hub) : hub_(hub) { hub_.Attach(this); }
  ~FakeChannel() override { hub_.Detach(this); }
  FakeChannel(const FakeChannel&) = delete;
  FakeChannel& operator=(const FakeChannel&) = delete;

  bool OpenChannel(int32_t channel) override;
  void SendMessage(const std::string& text) override;
  void SetMessageArrived(Handler handler) override {
    handler_ = std::move(handler);
  }

  bool bound() const { return bound_; }
  int32_t channel() const { return channel_; }

 private:
  friend class FakeChannelHub;
  void Receive(const std::string& text);

  FakeChannelHub& hub_;
  Handler handler_;
  bool bound_ = false;
  int32_t channel_ = 0;
};

}  // namespace lw
