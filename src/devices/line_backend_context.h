// What a line backend is made from. The program's entry fills one context per
// backend and calls that backend's factory function; the backend keeps what
// it needs (everything in the context outlives it) and registers nothing
// itself. A driver folder thus needs only its factory and one entry in the
// entry's table of backends.
//
// Serial ports: a backend that drives a modem opens its port through
// new_serial_port with SerialPortUser::kModemLine, so the port's owner is
// kept in the one SerialPortOwners table that the modem channel uses too,
// and no backend writes serial code of its own. It names the terminals of
// the ports its lines report (GetDeviceID(kDeviceClassSerialPort)) in
// serial_names.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "devices/clock.h"
#include "devices/line_audio.h"
#include "devices/line_device.h"
#include "devices/serial_port.h"
#include "devices/serial_port_names.h"
#include "devices/settings_store.h"

namespace asio {
class io_context;
}  // namespace asio

namespace lw {

struct LineBackendContext {
  Clock& clock;
  // The loop's io_context, for sockets and descriptors of the backend.
  asio::io_context& io;
  // Where the lines' audio endpoints take their wave numbers.
  LineAudioHub& audio;
  SerialPortNames& serial_names;
  SerialPortOwners& serial_owners;
  // A serial port driver whose openings take the port for `user`.
  std::function<std::unique_ptr<SerialPort>(SerialPortUser user)>
      new_serial_port;
  SettingsStore& store;
  // The backend's own settings key below HKEY_LOCAL_MACHINE: the product's
  // key and "Properties\TabDevices\<backend name>".
  std::string settings_key;
  // The process's runtime folder (sockets of the backend).
  std::string runtime_dir;
  // Journals one line of the backend's (problems at start-up, a lost line).
  std::function<void(const std::string& text)> report;
  // Told when the backend's lines changed after it was made (a modem
  // plugged in); may be empty.
  std::function<void()> lines_changed = {};
};

// One per driver: makes the backend, or null when it cannot exist at all on
// this machine (it has reported why).
using LineBackendFactory =
    std::unique_ptr<LineBackend> (*)(const LineBackendContext& context);

}  // namespace lw
