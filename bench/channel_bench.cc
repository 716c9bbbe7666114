// Round trip of one message between two processes over the channels: the
// parent sends on 201 (opening the channel first, as every sender does), a
// child echoes each message on 202, the parent's loop receives the echo.
// Goal: median under 100 microseconds. Reported per size as the benchmark's
// time (mean) and the counters median_us and p99_us. A burst far larger
// than a socket holds shows the waiting queues' throughput.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "base/message_text.h"
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

// A child process echoing on 202 what it receives on 201, and the parent's
// end on 202 counting the echoes.
class EchoPair {
 public:
  EchoPair() : from_child_(io_, runtime_), to_child_(io_, runtime_) {
    from_child_.SetMessageArrived([this](const std::string&) { ++echoes_; });
    int ready[2];
    if (!from_child_.OpenChannel(kFromChild) || ::pipe(ready) != 0) return;
    child_ = ::fork();
    if (child_ == 0) {
      ::close(ready[0]);
      RunEchoChild(runtime_, ready[1]);
    }
    ::close(ready[1]);
    char ok = '0';
    ready_ = child_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == '1';
    ::close(ready[0]);
  }
  ~EchoPair() {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
  }
  bool ready() const { return ready_; }
  void Send(const std::string& text) { lw::SendOn(to_child_, kToChild, text); }
  // Runs the loop until `n` echoes have come in all; false when they stop.
  bool AwaitEchoes(int64_t n) {
    while (echoes_ < n)
      if (io_.run_one_for(std::chrono::seconds(2)) == 0) return false;
    return true;
  }

 private:
  lw::testing::TempDir dir_;
  const std::string runtime_ = dir_ / "rt";
  asio::io_context io_;
  lw::UnixChannel from_child_, to_child_;
  pid_t child_ = -1;
  bool ready_ = false;
  int64_t echoes_ = 0;
};

void BM_RoundTripTwoProcesses(benchmark::State& state) {
  EchoPair pair;
  const std::string text(static_cast<size_t>(state.range(0)), 'x');
  std::vector<double> micros;
  bool failed = !pair.ready();
  int64_t sent = 0;
  for (auto _ : state) {
    if (failed) break;
    const auto start = std::chrono::steady_clock::now();
    pair.Send(text);
    failed = !pair.AwaitEchoes(++sent);
    const std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    micros.push_back(took.count() * 1e6);
  }
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

// A burst of 2,000 short messages sent back to back, far more than a socket
// holds (about ten), echoed whole: every message goes through the waiting
// queues both ways. Reported as the time per burst and messages per second.
void BM_BurstEchoedByAnotherProcess(benchmark::State& state) {
  constexpr int kBurst = 2000;
  EchoPair pair;
  bool failed = !pair.ready();
  int64_t sent = 0;
  for (auto _ : state) {
    if (failed) break;
    for (int i = 0; i < kBurst; ++i) pair.Send("LineStatus\r\n0\r\n0\r\nFalse");
    sent += kBurst;
    failed = !pair.AwaitEchoes(sent);
  }
  if (failed) {
    state.SkipWithError("echoes stopped short of the burst");
    return;
  }
  state.SetItemsProcessed(sent);
}
BENCHMARK(BM_BurstEchoedByAnotherProcess)->Unit(benchmark::kMillisecond);

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
