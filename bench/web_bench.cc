// The web server on loopback: the calls page of a latest-call list of 100
// entries, asked over a fresh connection each time as a browser does
// (connect, request, read to the close), and the page's building alone.
// Goal: median under 2 ms for the whole request.
#include <benchmark/benchmark.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "callstore/call_record.h"
#include "callstore/contacts.h"
#include "controller/controller_test_util.h"
#include "fetch_loop.h"
#include "loopback.h"
#include "web/dispatch.h"
#include "web/http_server.h"

namespace {

constexpr int kEntries = 100;

// A home whose latest-call list holds 100 calls of one day, every other one
// with a recording, and a contact file of 50 contacts, half of them callers
// of the list.
struct CallsHome {
  CallsHome() {
    const auto day = env.home / "Data/Log/2005/03/15";
    std::filesystem::create_directories(day);
    std::ofstream data(day + "/Data", std::ios::binary);
    std::ofstream last(env.home / "Data/Last", std::ios::binary);
    for (int i = 1; i <= kEntries; ++i) {
      lw::CallRecord r{};
      memset(&r, ' ', sizeof r);
      lw::PutField(r.call_type, i % 2 ? "2" : "0");
      lw::PutField(r.caller_name, "Caller " + std::to_string(i));
      lw::PutField(r.caller_number, "555" + std::to_string(1000 + i));
      lw::PutField(r.date, "03/15/2005");
      lw::PutField(r.time, "10:15:30");
      lw::PutField(r.length, "0:00:09");
      data.write(r.bytes(), sizeof r);
      last << i << ":\\Data\\Log\\2005\\03\\15\\\r\n";
    }
    std::ofstream contacts(env.home / "Data/Contactes", std::ios::binary);
    for (int i = 1; i <= 200; i += 4) {
      lw::ContactRecord c{};
      memset(&c, ' ', sizeof c);
      lw::PutField(c.name, "Contact " + std::to_string(i));
      lw::PutField(c.caller_name, "Caller " + std::to_string(i));
      lw::PutField(c.caller_number, "555" + std::to_string(1000 + i));
      contacts.write(c.bytes(), sizeof c);
    }
  }
  lw::testing::ControllerHome env;
  int32_t port = 0, allow = 1, protect = 0, view_calls = 1;
  std::string user, pass, view_log = "1";
  lw::WebOptions options{port, allow,      protect, user,
                         pass, view_calls, view_log};
};

void BM_CallsPageOverLoopback(benchmark::State& state) {
  CallsHome home;
  home.port = lw::testing::FreePort();
  asio::io_context io;
  auto guard = asio::make_work_guard(io);
  lw::HttpServer server(io, home.env.fake.clock(), home.env.store,
                        home.env.journal(), home.env.home.path(), home.options);
  server.Load();
  std::thread loop([&] { io.run(); });
  FetchEachIteration(state, home.port, "GET / HTTP/1.0\r\n\r\n");
  io.stop();
  loop.join();
}
BENCHMARK(BM_CallsPageOverLoopback)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_CallsPageBuilt(benchmark::State& state) {
  CallsHome home;
  lw::WebDispatcher dispatcher(home.env.fake.clock(), home.env.store,
                               home.env.journal(), home.env.home.path(),
                               home.options, false);
  for (auto _ : state)
    benchmark::DoNotOptimize(dispatcher.Handle("GET / HTTP/1.0\r\n\r\n"));
}
BENCHMARK(BM_CallsPageBuilt)->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();
