// The SIP line's delay from an INVITE sent on loopback to InComeCall on the
// loop (the time of each iteration), and to the 180 Ringing back at the
// caller (counter to_180_us, from the kernel's receive time): the line on the
// real clock and its libre thread, the caller a plain UDP socket. Each call is
// dropped (486) and acknowledged before the next.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <cstring>
#include <string>

#include "devices/line_registry.h"
#include "devices/memory_settings_store.h"
#include "devices/serial_port.h"
#include "devices/serial_port_names.h"
#include "drivers/asio_clock/asio_clock.h"
#include "drivers/sip/sip_line.h"

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A UDP socket on a free loopback port, and that port.
int BoundSocket(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = Loopback(0);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  *port = ntohs(a.sin_port);
  return fd;
}

std::string Request(const std::string& method, uint16_t line, uint16_t me,
                    int call, const std::string& body) {
  const std::string id = std::to_string(call);
  return method + " sip:bench@127.0.0.1:" + std::to_string(line) +
         " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(me) +
         ";rport;branch=z9hG4bKbench" + id +
         "\r\nMax-Forwards: 70\r\nFrom: \"BENCH\" "
         "<sip:5551234@127.0.0.1>;tag=b" +
         id + "\r\nTo: <sip:bench@127.0.0.1>\r\nCall-ID: bench" + id +
         "\r\nCSeq: 1 " + method +
         "\r\nContact: <sip:5551234@127.0.0.1:" + std::to_string(me) + ">\r\n" +
         (body.empty() ? "" : "Content-Type: application/sdp\r\n") +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Waits up to a second for a response with `code`; the wall-clock moment
// the kernel took it in, in microseconds, or 0 without one.
double Expect(int fd, const std::string& code) {
  char buf[4096];
  char control[CMSG_SPACE(sizeof(timespec))];
  const auto end = Clock::now() + std::chrono::seconds(1);
  while (Clock::now() < end) {
    iovec data{buf, sizeof buf};
    msghdr m{};
    m.msg_iov = &data;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &m, MSG_DONTWAIT);
    if (n <= 0) {
      usleep(100);
      continue;
    }
    if (!std::string(buf, static_cast<size_t>(n))
             .starts_with("SIP/2.0 " + code))
      continue;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c))
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec at{};
        std::memcpy(&at, CMSG_DATA(c), sizeof at);
        return static_cast<double>(at.tv_sec) * 1e6 +
               static_cast<double>(at.tv_nsec) / 1e3;
      }
  }
  return 0;
}

double WallMicroseconds() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void BM_InviteToInComeCall(benchmark::State& state) {
  asio::io_context io;
  // The loop waits for the line's posts even with nothing else to do.
  const auto work = asio::make_work_guard(io);
  lw::AsioClock clock(io);
  lw::LineAudioHub hub;
  lw::SerialPortNames names;
  lw::SerialPortOwners owners;
  lw::MemorySettingsStore store;
  uint16_t line_port = 0;
  close(BoundSocket(&line_port));
  const lw::LineBackendContext context{clock,  io,      hub,   names,
                                       owners, nullptr, store, "SipLine",
                                       "/tmp", nullptr};
  const std::string listen = "127.0.0.1:" + std::to_string(line_port);
  lw::SipAccount account;
  account.address = "sip:bench@127.0.0.1";
  account.listen = listen;
  lw::SipLine line(context, account);
  lw::LineRegistry lines(clock);
  lines.Register("sip", line);
  const auto tapi = lines.NewTelephony();
  bool offered = false;
  lw::TelephonyEvents events;
  events.InComeCall = [&] { offered = true; };
  tapi->SetEvents(events);
  if (tapi->LineOpen(lw::kPrivilegesOwnerMonitor, lw::kMediaModesVoice) != 0) {
    state.SkipWithError("the SIP line did not open");
    return;
  }
  uint16_t me = 0;
  const int fd = BoundSocket(&me);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  const sockaddr_in to = Loopback(line_port);
  const std::string sdp =
      "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\n"
      "t=0 0\r\nm=audio 4000 RTP/AVP 0\r\n";
  double to_180_us = 0;
  int call = 0;
  for (auto _ : state) {
    ++call;
    offered = false;
    const std::string invite = Request("INVITE", line_port, me, call, sdp);
    const double sent = WallMicroseconds();
    const auto t0 = Clock::now();
    sendto(fd, invite.data(), invite.size(), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
    while (!offered) io.run_one_for(std::chrono::milliseconds(100));
    const auto t1 = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    const double ringing = Expect(fd, "180");
    if (ringing == 0) {
      state.SkipWithError("no 180 Ringing");
      break;
    }
    to_180_us += ringing - sent;
    tapi->LineDrop();
    if (Expect(fd, "486") == 0) {
      state.SkipWithError("no 486 after the drop");
      break;
    }
    const std::string ack = Request("ACK", line_port, me, call, "");
    sendto(fd, ack.data(), ack.size(), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
    io.poll();
  }
  state.counters["to_180_us"] = to_180_us / call;
  tapi->LineClose();
  close(fd);
}
BENCHMARK(BM_InviteToInComeCall)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
