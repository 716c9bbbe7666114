#include "drivers/simline/sim_modem_pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <asio/write.hpp>
#include <cerrno>

namespace lw {

SimModemPty::SimModemPty(asio::io_context& io) : master_(io) {}

SimModemPty::~SimModemPty() {
  *alive_ = false;
  std::error_code ignored;
  master_.close(ignored);
  if (terminal_fd_ >= 0) ::close(terminal_fd_);
}

void SimModemPty::Attach(SimulatedLine& line, SerialPortOwners& owners) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const char* name = master < 0 ? nullptr : ::ptsname(master);
  if (name == nullptr || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    error_ = std::error_code(errno, std::generic_category());
    if (master >= 0) ::close(master);
    return;
  }
  tty_ = name;
  terminal_fd_ = ::open(tty_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (terminal_fd_ >= 0 && ::tcgetattr(terminal_fd_, &t) == 0) {
    // No echo and no translation even before the driver sets its own mode.
    ::cfmakeraw(&t);
    ::tcsetattr(terminal_fd_, TCSANOW, &t);
  }
  master_.assign(master, error_);
  if (error_) {
    ::close(master);
    tty_.clear();
    return;
  }
  line_ = &line;
  line.AttachModem(
      {.port = SimulatedLine::kModemPort,
       .owners = &owners,
       .report = [this](const std::string& text) { Write(text); }});
  Read();
}

void SimModemPty::Read() {
  std::weak_ptr<bool> alive = alive_;
  master_.async_read_some(
      asio::buffer(buffer_),
      [this, alive](const std::error_code& ec, size_t n) {
        if (alive.expired() || ec) return;
        line_->ModemReceived(std::string(buffer_.data(), n));
        Read();
      });
}

void SimModemPty::Write(const std::string& text) {
  if (!master_.is_open() || text.empty()) return;
  output_.push_back(text);
  if (output_.size() == 1) WriteNext();
}

void SimModemPty::WriteNext() {
  std::weak_ptr<bool> alive = alive_;
  asio::async_write(master_, asio::buffer(output_.front()),
                    [this, alive](const std::error_code& ec, size_t) {
                      if (alive.expired()) return;
                      output_.pop_front();
                      if (ec) output_.clear();
                      if (!output_.empty()) WriteNext();
                    });
}

}  // namespace lw
