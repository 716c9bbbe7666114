// Round trip of one message between two processes over the channels: the
// parent sends on 201 (opening the channel first, as every sender does), a
// child echoes each message on 202, the parent's loop receives the echo.
// Goal: median under 100 microseconds. Reported per size as the benchmark's
// time (mean) and the counters median_us and p99_us.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "controller/message_text.h"
#include "drivers/unix_channel/unix_channel.h"
#include "temp_dir.h"

namespace {

constexpr int32_t kToChild = 201;
constexpr int32_t kFromChild = 202;

[[noreturn]] void RunEchoChild(const std::string& runtime, int ready_fd) {
  asio::io_context io;
  lw::UnixChannel in(io, runtime), out(io, runtime);
  in.SetMessageArrived(
      [&](const std::string& text) { lw::SendOn(out, kFromChild, text); });
  const char ok = in.OpenChannel(kToChild) ? '1' : '0';
  if (::write(ready_fd, &ok, 1) != 1) _exit(1);
  ::close(ready_fd);
  io.run();
  _exit(0);
}

void BM_RoundTripTwoProcesses(benchmark::State& state) {
  lw::testing::TempDir dir;
  const std::string runtime = dir / "rt";
  asio::io_context io;
  lw::UnixChannel to_child(io, runtime), from_child(io, runtime);
  bool echoed = false;
  from_child.SetMessageArrived([&](const std::string&) { echoed = true; });
  if (!from_child.OpenChannel(kFromChild)) {
    state.SkipWithError("cannot bind");
    return;
  }

  int ready[2];
  if (::pipe(ready) != 0) {
    state.SkipWithError("pipe");
    return;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    RunEchoChild(runtime, ready[1]);
  }
  ::close(ready[1]);
  char ok = '0';
  const bool child_ready = ::read(ready[0], &ok, 1) == 1 && ok == '1';
  ::close(ready[0]);

  const std::string text(static_cast<size_t>(state.range(0)), 'x');
  std::vector<double> micros;
  bool failed = !child_ready;
  for (auto _ : state) {
    if (failed) break;
    echoed = false;
    const auto start = std::chrono::steady_clock::now();
    lw::SendOn(to_child, kToChild, text);
    while (!echoed) {
      if (io.run_one_for(std::chrono::seconds(2)) == 0) {
        failed = true;
        break;
      }
    }
    const std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    micros.push_back(took.count() * 1e6);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  if (failed) {
    state.SkipWithError("no echo from the child");
    return;
  }
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) {
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RoundTripTwoProcesses)
    ->Arg(32)
    ->Arg(4096)
    ->Arg(lw::UnixChannel::kMaxMessageBytes)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// Cost of one send on the caller's thread: list the channel folder, send to
// every other party. Three readers drain their queues between rounds.
void BM_SendToThreeParties(benchmark::State& state) {
  lw::testing::TempDir dir;
  const std::string runtime = dir / "rt";
  asio::io_context io;
  lw::UnixChannel sender(io, runtime), r1(io, runtime), r2(io, runtime),
      r3(io, runtime);
  int got = 0;
  for (lw::UnixChannel* r : {&r1, &r2, &r3}) {
    r->SetMessageArrived([&](const std::string&) { ++got; });
    r->OpenChannel(107);
  }
  const std::string text = "LineStatus\r\n0\r\n0\r\nFalse";
  for (auto _ : state) {
    lw::SendOn(sender, 107, text);
    state.PauseTiming();
    while (got < 3 && io.run_one_for(std::chrono::seconds(2)) > 0) {
    }
    got = 0;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SendToThreeParties)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
