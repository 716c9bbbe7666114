#include "devices/fake/fake_devices.h"

#include <string>
#include <utility>

namespace lw {

namespace {

// A fake that clears its entry in the FakeDevices list when destroyed (as
// long as the FakeDevices itself is still there).
template <typename Fake>
class Tracked final : public Fake {
 public:
  template <typename... Args>
  Tracked(std::shared_ptr<bool> alive, std::vector<Fake*>* list, Args&&... args)
      : Fake(std::forward<Args>(args)...),
        alive_(std::move(alive)),
        list_(list),
        index_(list->size()) {
    list->push_back(this);
  }
  ~Tracked() override {
    if (*alive_) (*list_)[index_] = nullptr;
  }

 private:
  std::shared_ptr<bool> alive_;
  std::vector<Fake*>* list_;
  size_t index_;
};

}  // namespace

template <typename Fake, typename... Args>
std::unique_ptr<Fake> FakeDevices::Make(std::vector<Fake*>& list,
                                        Args&&... args) {
  return std::make_unique<Tracked<Fake>>(alive_, &list,
                                         std::forward<Args>(args)...);
}

FakeDevices::FakeDevices(LocalDateTime start)
    : clock_(start),
      line_(clock_, line_audio_),
      lines_(clock_),
      devices_{clock_,  sound_devices_, nullptr, nullptr, nullptr,
               nullptr, nullptr,        nullptr, nullptr} {
  lines_.Register("simline", line_, /*simulated=*/true);
  devices_.new_telephony = [this] { return lines_.NewTelephony(); };
  devices_.new_wave = [this]() -> std::unique_ptr<Wave> {
    return Make(waves_, clock_, wave_files_, sound_devices_);
  };
  devices_.new_serial_port = [this]() -> std::unique_ptr<SerialPort> {
    auto port = Make(serial_ports_, clock_, &serial_owners_);
    port->on_output = [this](const std::string& data) {
      line_.ModemReceived(data);
    };
    return port;
  };
  // The line's modem reports to the port made last: the line controller's.
  line_.AttachModem(
      {.owners = &serial_owners_, .report = [this](const std::string& text) {
         if (!serial_ports_.empty() && serial_ports_.back() != nullptr)
           serial_ports_.back()->Receive(text);
       }});
  devices_.new_channel = [this]() -> std::unique_ptr<MessageChannel> {
    return std::make_unique<FakeChannel>(hub_);
  };
  devices_.new_mail = [this]() -> std::unique_ptr<Mail> {
    return Make(mails_);
  };
  devices_.new_voice = [this]() -> std::unique_ptr<Voice> {
    return Make(voices_made_, clock_, voices_);
  };
}

}  // namespace lw
