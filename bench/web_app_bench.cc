// The owner's JSON interface on loopback, against the real server on its own
// loop thread:
// - the list answer "/api/calls" for 1,000 stored calls, over a fresh
//   connection each time as a browser or script asks it (goal: median under
//   5 ms);
// - the time from a call stored by the call store to its "stored" event on
//   an open "/api/events" stream (goal: under 100 ms).
#include <benchmark/benchmark.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "callstore/call_store.h"
#include "callstore/test_util.h"
#include "controller/controller_test_util.h"
#include "fetch_loop.h"
#include "journal/regional.h"
#include "loopback.h"
#include "web/dispatch.h"
#include "web/http_server.h"

namespace {

// A home with `calls` stored calls of today (every other one a message
// with its recording), `contacts` contacts (every fifth caller by name and
// number, the rest numbers nobody calls from, one in ten a pattern) and the
// server listening on a free port.
struct ServedHome {
  explicit ServedHome(int calls, int contacts = 0) {
    std::vector<lw::ContactRecord> list;
    for (int i = 1; i <= contacts; ++i) {
      const std::string n = std::to_string(i);
      list.push_back(
          i % 10 == 0
              ? lw::testing::MakeContact("Range " + n, "", "0900" + n + "*")
          : i % 5 == 0
              ? lw::testing::MakeContact("Caller " + n, "Caller " + n,
                                         "555" + std::to_string(1000 + i))
              : lw::testing::MakeContact("Other " + n, "", "777" + n));
    }
    if (contacts > 0) lw::testing::WriteContacts(env.home.path(), list);
    lw::CallStore store(env.home.path(), env.fake.clock());
    store.SetNumOfItemsInLast(calls);
    lw::CurrentCall call;
    store.SetCallInfo(call);
    for (int i = 1; i <= calls; ++i) {
      lw::CallRecord r{};
      memset(&r, ' ', sizeof r);
      lw::PutField(r.call_type, i % 2 ? "2" : "0");
      lw::PutField(r.caller_name, "Caller " + std::to_string(i));
      lw::PutField(r.caller_number, "555" + std::to_string(1000 + i));
      lw::PutField(r.date, call.info.date);
      lw::PutField(r.time, call.info.time);
      lw::PutField(r.length, "0:00:09");
      store.SaveCall(r, lw::DayFolderText(env.fake.clock().Now()), false);
      if (i % 2) std::ofstream(store.RecordingPath(r)) << "RIFF";
    }
    port = lw::testing::FreePort();
    server.Load();
    loop = std::thread([this] { io.run(); });
  }
  ~ServedHome() {
    io.stop();
    loop.join();
  }

  lw::testing::ControllerHome env;
  int32_t port = 0, allow = 1, protect = 0, view_calls = 1;
  std::string user, pass, view_log = "1";
  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> guard =
      asio::make_work_guard(io);
  lw::HttpServer server{
      io,
      env.fake.clock(),
      env.store,
      env.journal(),
      env.home.path(),
      lw::WebOptions{port, allow, protect, user, pass, view_calls, view_log}};
  std::thread loop;
};

void BM_CallsListOverLoopback(benchmark::State& state) {
  ServedHome home(1000);
  // A fresh connection for each list, read to the server's close.
  FetchEachIteration(state, home.port,
                     "GET /api/calls HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                     "Connection: close\r\n\r\n");
}
BENCHMARK(BM_CallsListOverLoopback)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The list answer built for 1,000 calls, without the connection.
void BuildCallsList(benchmark::State& state, int contacts) {
  ServedHome home(1000, contacts);
  lw::WebDispatcher dispatcher(
      home.env.fake.clock(), home.env.store, home.env.journal(),
      home.env.home.path(),
      lw::WebOptions{home.port, home.allow, home.protect, home.user, home.pass,
                     home.view_calls, home.view_log},
      false);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        dispatcher.Handle("GET /api/calls HTTP/1.1\r\n\r\n"));
}
void BM_CallsListBuilt(benchmark::State& state) { BuildCallsList(state, 0); }
BENCHMARK(BM_CallsListBuilt)->Unit(benchmark::kMicrosecond);
// The same with 1,000 contacts to name the callers by.
void BM_CallsListBuiltWithContacts(benchmark::State& state) {
  BuildCallsList(state, 1000);
}
BENCHMARK(BM_CallsListBuiltWithContacts)->Unit(benchmark::kMicrosecond);

void BM_CallStoredToEvent(benchmark::State& state) {
  ServedHome home(100);
  lw::CallStore store(home.env.home.path(), home.env.fake.clock());
  store.SetNumOfItemsInLast(100);
  const int fd = lw::testing::Connect(home.port);
  const std::string request =
      "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  send(fd, request.data(), request.size(), 0);
  std::string seen;
  char buf[65536];
  // Reads until `text` arrived; false when the stream ended.
  const auto read_until = [&](std::string_view text) {
    while (seen.find(text) == std::string::npos) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return false;
      seen.append(buf, static_cast<size_t>(n));
    }
    seen.clear();
    return true;
  };
  read_until("retry:");
  lw::CallRecord r{};
  memset(&r, ' ', sizeof r);
  lw::PutField(r.call_type, "2");
  lw::PutField(r.date, lw::ShortDateText(home.env.fake.clock().Now()));
  lw::PutField(r.time, "10:15:30");
  const std::string day = lw::DayFolderText(home.env.fake.clock().Now());
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    store.StoreCall(r, day, false, {});
    if (!read_until("event: stored")) {
      state.SkipWithError("the stream ended");
      break;
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count());
  }
  close(fd);
}
BENCHMARK(BM_CallStoredToEvent)
    ->Iterations(200)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace
BENCHMARK_MAIN();
