#include "drivers/serial/asio_serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace lw {
namespace {

TEST(AsioSerialPortTest, PseudoTerminalInRawModeBothWaysAndItsErrors) {
  // Given a pseudo-terminal named as port 3, expect 9600 8N1, bytes
  // unchanged both ways (so no echo, line editing or flow control) with every
  // received character raised, and 8002, 8005, 8012 (another holder's lock,
  // another user in the owners table) and 8018 where they belong; the port
  // held for the user it was made for while open.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string tty = ::ptsname(master);
  SerialPortNames names;
  names.Set(3, tty);
  names.Set(4, "/nonexistent/tty");
  asio::io_context io;
  SerialPortOwners owners;
  AsioSerialPort port(io, names, &owners, SerialPortUser::kModemLine);
  std::string got;
  int raised = 0;
  port.SetEvents({.OnComm = [&] {
    ++raised;
    got += port.Input();
  }});

  EXPECT_EQ(port.Output("x"), kCommPortNotOpen);
  for (int16_t missing : {4, 5}) {
    port.SetCommPort(missing);
    EXPECT_EQ(port.SetPortOpen(true), kCommPortInvalid);
  }
  port.SetCommPort(3);
  const int holder = ::open(tty.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  EXPECT_EQ(port.SetPortOpen(true), kCommPortBusy);
  ::close(holder);
  owners.Acquire(3, SerialPortUser::kModemChannel);
  EXPECT_EQ(port.SetPortOpen(true), kCommPortBusy);
  owners.Release(3, SerialPortUser::kModemChannel);
  ASSERT_EQ(port.SetPortOpen(true), 0);
  EXPECT_EQ(owners.Owner(3), SerialPortUser::kModemLine);
  EXPECT_EQ(port.SetPortOpen(true), kCommPortAlreadyOpen);
  EXPECT_EQ(port.SetCommPort(1), kCommPortAlreadyOpen);

  termios t{};
  ASSERT_EQ(::tcgetattr(master, &t), 0);  // the terminal side's settings
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});
  EXPECT_EQ(::cfgetospeed(&t), speed_t{B9600});

  port.SetRThreshold(1);
  port.SetInputLen(1);
  const std::string modem = "\r\nRING\r\n\x10\xff\x11";
  ASSERT_EQ(::write(master, modem.data(), modem.size()), ssize_t(modem.size()));
  ASSERT_EQ(port.Output("AT\r\n"), 0);
  std::string sent;
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while ((got.size() < modem.size() || sent.size() < 4) &&
         std::chrono::steady_clock::now() < give_up) {
    io.run_for(std::chrono::milliseconds(10));
    char buf[16];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n > 0) sent.append(buf, size_t(n));
  }
  EXPECT_EQ(got, modem);
  EXPECT_EQ(raised, int(modem.size()));
  EXPECT_EQ(sent, "AT\r\n");

  EXPECT_EQ(port.SetPortOpen(false), 0);
  EXPECT_FALSE(port.PortOpen());
  EXPECT_EQ(owners.Owner(3), SerialPortUser::kNobody);
  EXPECT_EQ(port.SetPortOpen(true), 0);  // the lock went with the close

  // The terminal goes away while open: one event says so.
  ::close(master);
  while (port.CommEvent() != kCommEvPortLost &&
         std::chrono::steady_clock::now() < give_up)
    io.run_for(std::chrono::milliseconds(10));
  EXPECT_EQ(port.CommEvent(), kCommEvPortLost);
  EXPECT_EQ(raised, int(modem.size()) + 1);
}

}  // namespace
}  // namespace lw
