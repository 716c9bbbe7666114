#include "devices/serial_port.h"

namespace lw {

bool SerialPortOwners::Acquire(int16_t port, SerialPortUser user) {
  if (port < 1 || user == SerialPortUser::kNobody) return false;
  const SerialPortUser holder = Owner(port);
  if (holder != SerialPortUser::kNobody && holder != user) return false;
  owners_[port] = user;
  return true;
}

bool SerialPortOwners::Release(int16_t port, SerialPortUser user) {
  auto it = owners_.find(port);
  if (it == owners_.end() || it->second != user) return false;
  owners_.erase(it);
  return true;
}

bool SerialPortOwners::HandOver(int16_t port, SerialPortUser from,
                                SerialPortUser to) {
  auto it = owners_.find(port);
  if (it == owners_.end() || it->second != from) return false;
  if (to == SerialPortUser::kNobody) {
    owners_.erase(it);
  } else {
    it->second = to;
  }
  return true;
}

SerialPortUser SerialPortOwners::Owner(int16_t port) const {
  auto it = owners_.find(port);
  return it == owners_.end() ? SerialPortUser::kNobody : it->second;
}

}  // namespace lw
