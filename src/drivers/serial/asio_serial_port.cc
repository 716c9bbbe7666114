#include "drivers/serial/asio_serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <asio/serial_port.hpp>
#include <asio/write.hpp>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <functional>
#include <optional>
#include <sstream>
#include <utility>

namespace lw {
namespace {

constexpr const char* kDefaultSettings = "9600,n,8,1";

// Line settings as the terminal takes them.
struct LineSettings {
  speed_t speed;
  tcflag_t parity;  // PARENB, PARODD, CMSPAR bits
  tcflag_t size;    // CS5 .. CS8
  bool two_stop_bits;
};

std::optional<speed_t> SpeedOf(long baud) {
  static constexpr std::pair<long, speed_t> kSpeeds[] = {
      {110, B110},     {300, B300},     {600, B600},       {1200, B1200},
      {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
      {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}};
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud) return speed;
  }
  return std::nullopt;
}

// "baud,parity,data bits,stop bits", parity one of n e o m s.
std::optional<LineSettings> ParseSettings(const std::string& text) {
  std::istringstream in(text);
  std::string baud, parity, bits, stop;
  if (!std::getline(in, baud, ',') || !std::getline(in, parity, ',') ||
      !std::getline(in, bits, ',') || !std::getline(in, stop) ||
      parity.size() != 1 || bits.size() != 1) {
    return std::nullopt;
  }
  LineSettings s{};
  char* end = nullptr;
  const long rate = std::strtol(baud.c_str(), &end, 10);
  const auto speed =
      baud.empty() || *end != '\0' ? std::nullopt : SpeedOf(rate);
  if (!speed) return std::nullopt;
  s.speed = *speed;
  static constexpr std::pair<char, tcflag_t> kParities[] = {
      {'n', 0},
      {'e', PARENB},
      {'o', PARENB | PARODD},
      {'m', PARENB | PARODD | CMSPAR},
      {'s', PARENB | CMSPAR}};
  const char p = char(std::tolower(static_cast<unsigned char>(parity[0])));
  const auto* found = std::find_if(std::begin(kParities), std::end(kParities),
                                   [p](const auto& e) { return e.first == p; });
  if (found == std::end(kParities)) return std::nullopt;
  s.parity = found->second;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (bits[0] < '5' || bits[0] > '8') return std::nullopt;
  s.size = kSizes[bits[0] - '5'];
  if (stop != "1" && stop != "1.5" && stop != "2") return std::nullopt;
  s.two_stop_bits = stop != "1";
  return s;
}

// Raw mode with `s`, the receiver on, no software flow control; RTS/CTS
// when `rts_cts` is asked for and the device raises CTS (a port without
// the line, or a pseudo-terminal, runs without).
bool SetRaw(int fd, const LineSettings& s, bool rts_cts) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return false;
  ::cfmakeraw(&t);
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD | s.size | s.parity;
  if (s.two_stop_bits) t.c_cflag |= CSTOPB;
  int lines = 0;
  if (rts_cts && ::ioctl(fd, TIOCMGET, &lines) == 0 && (lines & TIOCM_CTS))
    t.c_cflag |= CRTSCTS;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, s.speed) != 0 || ::cfsetospeed(&t, s.speed) != 0) {
    return false;
  }
  return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

// A device that another program holds; everything else means the port
// cannot be used as named.
int32_t OpenErrorCode(int error) {
  return error == EBUSY || error == EWOULDBLOCK ? kCommPortBusy
                                                : kCommPortInvalid;
}

}  // namespace

struct AsioSerialPort::State {
  explicit State(asio::io_context& io) : port(io) {}

  asio::serial_port port;
  SerialPortEvents events;
  int16_t number = 1;
  std::string settings = kDefaultSettings;
  bool rts_cts = false;
  bool open = false;
  // Counts openings and closings, so that a completion of an earlier
  // opening does nothing.
  uint64_t generation = 0;
  int16_t threshold = 0;
  int16_t input_len = 0;
  int16_t comm_event = 0;
  std::string input;
  std::deque<std::string> output;  // front: being written
  std::array<char, 512> read_buffer{};

  static void Read(const std::shared_ptr<State>& s);
  static void Write(const std::shared_ptr<State>& s);
  // Raises OnComm for a block of `count` new characters.
  void Raise(size_t count, uint64_t gen);
  void RaiseOnComm();
};

void AsioSerialPort::State::Read(const std::shared_ptr<State>& s) {
  const uint64_t gen = s->generation;
  s->port.async_read_some(asio::buffer(s->read_buffer),
                          [s, gen](const std::error_code& ec, size_t n) {
                            if (gen != s->generation) return;
                            // An error other than a close (the far end gone, a
                            // device unplugged) ends the reading and is
                            // reported once; the user closes the port.
                            if (ec) {
                              s->comm_event = kCommEvPortLost;
                              s->RaiseOnComm();
                              return;
                            }
                            const size_t room = kMaxInput - s->input.size();
                            s->input.append(s->read_buffer.data(),
                                            std::min(n, room));
                            s->Raise(n, gen);
                            if (gen == s->generation) Read(s);
                          });
}

void AsioSerialPort::State::Raise(size_t count, uint64_t gen) {
  for (size_t i = 0; i < count; ++i) {
    if (gen != generation || threshold <= 0 ||
        input.size() < static_cast<size_t>(threshold)) {
      return;
    }
    comm_event = kCommEvReceive;
    RaiseOnComm();
  }
}

void AsioSerialPort::State::RaiseOnComm() {
  // A copy: the handler may replace the events or close the port.
  const std::function<void()> on_comm = events.OnComm;
  if (!on_comm) return;
  try {
    on_comm();
  } catch (...) {
    // Handlers journal their own failures; the loop must go on.
  }
}

void AsioSerialPort::State::Write(const std::shared_ptr<State>& s) {
  const uint64_t gen = s->generation;
  asio::async_write(s->port, asio::buffer(s->output.front()),
                    [s, gen](const std::error_code& ec, size_t) {
                      if (gen != s->generation) return;
                      if (ec) {
                        s->output.clear();
                        return;
                      }
                      s->output.pop_front();
                      if (!s->output.empty()) Write(s);
                    });
}

AsioSerialPort::AsioSerialPort(asio::io_context& io,
                               const SerialPortNames& names,
                               SerialPortOwners* owners, SerialPortUser user)
    : names_(names),
      owners_(owners),
      user_(user),
      s_(std::make_shared<State>(io)) {}

AsioSerialPort::~AsioSerialPort() {
  s_->events = {};
  Close();
}

void AsioSerialPort::SetEvents(SerialPortEvents events) {
  s_->events = std::move(events);
}

int32_t AsioSerialPort::SetCommPort(int16_t port) {
  if (s_->open) return kCommPortAlreadyOpen;
  s_->number = port;
  return 0;
}

int16_t AsioSerialPort::CommPort() { return s_->number; }

void AsioSerialPort::SetSettings(const std::string& settings) {
  if (ParseSettings(settings)) s_->settings = settings;
}

std::string AsioSerialPort::Settings() { return s_->settings; }

void AsioSerialPort::SetHardwareFlowControl(bool on) { s_->rts_cts = on; }

int32_t AsioSerialPort::SetPortOpen(bool open) {
  if (!open) {
    Close();
    return 0;
  }
  return s_->open ? kCommPortAlreadyOpen : Open();
}

int32_t AsioSerialPort::Open() {
  const std::optional<std::string> tty = names_.Tty(s_->number);
  const std::optional<LineSettings> settings = ParseSettings(s_->settings);
  if (!tty || !settings) return kCommPortInvalid;
  if (owners_ != nullptr && !owners_->Acquire(s_->number, user_)) {
    return kCommPortBusy;
  }
  const int fd =
      ::open(tty->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int32_t code = fd < 0 ? OpenErrorCode(errno) : 0;
  if (code == 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    code = OpenErrorCode(errno);
  } else if (code == 0 && (!::isatty(fd) || ::ioctl(fd, TIOCEXCL) != 0 ||
                           !SetRaw(fd, *settings, s_->rts_cts))) {
    code = kCommPortInvalid;
  }
  std::error_code ec;
  if (code == 0) {
    // What waited before the port was opened is not for us.
    ::tcflush(fd, TCIOFLUSH);
    s_->port.assign(fd, ec);
    if (ec) code = kCommPortInvalid;
  }
  if (code != 0) {
    if (fd >= 0) {
      ::ioctl(fd, TIOCNXCL);
      ::close(fd);
    }
    if (owners_ != nullptr) owners_->Release(s_->number, user_);
    return code;
  }
  s_->open = true;
  ++s_->generation;
  State::Read(s_);
  return 0;
}

void AsioSerialPort::Close() {
  if (!s_->open) return;
  s_->open = false;
  ++s_->generation;
  // Exclusive mode outlives our descriptor while the far end (the simulated
  // line's pseudo-terminal) keeps the terminal; the next opening needs it
  // off.
  ::ioctl(s_->port.native_handle(), TIOCNXCL);
  std::error_code ec;
  s_->port.close(ec);
  s_->input.clear();
  s_->output.clear();
  if (owners_ != nullptr) owners_->Release(s_->number, user_);
}

bool AsioSerialPort::PortOpen() { return s_->open; }

void AsioSerialPort::SetRThreshold(int16_t count) { s_->threshold = count; }
int16_t AsioSerialPort::RThreshold() { return s_->threshold; }
void AsioSerialPort::SetInputLen(int16_t count) { s_->input_len = count; }
int16_t AsioSerialPort::InputLen() { return s_->input_len; }

int32_t AsioSerialPort::InBufferCount() {
  return static_cast<int32_t>(s_->input.size());
}

std::string AsioSerialPort::Input() {
  const size_t n = s_->input_len <= 0
                       ? s_->input.size()
                       : std::min<size_t>(s_->input_len, s_->input.size());
  std::string taken = s_->input.substr(0, n);
  s_->input.erase(0, n);
  return taken;
}

int32_t AsioSerialPort::Output(const std::string& data) {
  if (!s_->open) return kCommPortNotOpen;
  if (data.empty()) return 0;
  s_->output.push_back(data);
  if (s_->output.size() == 1) State::Write(s_);
  return 0;
}

int16_t AsioSerialPort::CommEvent() { return s_->comm_event; }

std::string AsioSerialPort::ErrorText(int32_t code) {
  static const std::pair<int32_t, const char*> kTexts[] = {
      {0, "Success"},
      {kCommPortInvalid, "Invalid port number"},
      {kCommPortAlreadyOpen, "Port already open"},
      {kCommPortBusy, "Port held by another program"},
      {kCommPortNotOpen, "Operation valid only when the port is open"}};
  for (const auto& [number, text] : kTexts) {
    if (number == code) return text;
  }
  return "Serial port error " + std::to_string(code);
}

}  // namespace lw
