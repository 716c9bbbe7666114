// Mailing a call to a real SMTP server (aiosmtpd on loopback) while the loop
// goes on with its other work.
//
// BM_LoopStallWhileMailing: a 1 MB recording is mailed while a 1 ms timer
// ticks on the same loop; max_stall_us is the longest a tick came late
// (goal: under 1 ms, so the transfer never holds up the line). The time per
// iteration is from Send to the server having accepted the mail, the delay
// between a call's end and its mail being delivered (the wrap-up that comes
// before Send takes well under a millisecond, see bench_calls).
// BM_MailWithoutRecording: the same for a mail of text only.
// BM_LoopStallIdle: the same ticker for 200 ms with nothing else to do, the
// lateness that the machine's scheduling alone gives.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "drivers/curl/curl_mail.h"
#include "loopback.h"

namespace {

using Clock = std::chrono::steady_clock;

// Sends one mail and runs the loop, with a 1 ms ticker beside it, until the
// mail is complete. Answers the longest lateness of a tick in microseconds.
double MailOnce(asio::io_context& io, lw::CurlMail& mail,
                const lw::MailMessage& m, bool* ok) {
  bool done = false;
  lw::MailEvents events;
  events.Complete = [&](int32_t result) {
    done = true;
    *ok = result == 0;
    if (result != 0)
      std::fprintf(stderr, "mail: %s\n", mail.ErrorText(result).c_str());
  };
  mail.SetEvents(std::move(events));
  asio::steady_timer ticker(io);
  double max_late_us = 0;
  Clock::time_point due = Clock::now() + std::chrono::milliseconds(1);
  std::function<void()> arm = [&] {
    ticker.expires_at(due);
    ticker.async_wait([&](const asio::error_code& ec) {
      if (ec) return;
      const double late =
          std::chrono::duration<double, std::micro>(Clock::now() - due).count();
      max_late_us = std::max(max_late_us, late);
      due = Clock::now() + std::chrono::milliseconds(1);
      if (!done) arm();
    });
  };
  // The loop stops whenever it runs out of work; each mail starts it anew.
  io.restart();
  arm();
  mail.Send(m);
  const auto end = Clock::now() + std::chrono::seconds(30);
  while (!done && Clock::now() < end) io.run_one_for(std::chrono::seconds(1));
  ticker.cancel();
  io.poll();
  return max_late_us;
}

void Run(benchmark::State& state, size_t attachment_bytes) {
  lw::testing::SmtpSink sink;
  lw::testing::TempDir dir;
  asio::io_context io;
  lw::CurlMail mail(io);
  lw::MailMessage m = lw::testing::MailTo(sink.server());
  if (attachment_bytes > 0) {
    m.attachment = dir / "message.wav";
    std::ofstream(m.attachment, std::ios::binary)
        << std::string(attachment_bytes, 'x');
  }
  double max_stall = 0;
  for (auto _ : state) {
    bool ok = false;
    max_stall = std::max(max_stall, MailOnce(io, mail, m, &ok));
    if (!ok) {
      state.SkipWithError("the mail was not accepted");
      break;
    }
  }
  state.counters["max_stall_us"] = max_stall;
}

void BM_LoopStallWhileMailing(benchmark::State& state) { Run(state, 1 << 20); }
BENCHMARK(BM_LoopStallWhileMailing)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

void BM_MailWithoutRecording(benchmark::State& state) { Run(state, 0); }
BENCHMARK(BM_MailWithoutRecording)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime();

void BM_LoopStallIdle(benchmark::State& state) {
  asio::io_context io;
  double max_late_us = 0;
  for (auto _ : state) {
    asio::steady_timer ticker(io);
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(1);
    const auto end = Clock::now() + std::chrono::milliseconds(200);
    std::function<void()> arm = [&] {
      ticker.expires_at(due);
      ticker.async_wait([&](const asio::error_code& ec) {
        if (ec) return;
        max_late_us = std::max(
            max_late_us,
            std::chrono::duration<double, std::micro>(Clock::now() - due)
                .count());
        due = Clock::now() + std::chrono::milliseconds(1);
        if (Clock::now() < end) arm();
      });
    };
    io.restart();
    arm();
    io.run();
  }
  state.counters["max_stall_us"] = max_late_us;
}
BENCHMARK(BM_LoopStallIdle)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
