// Runs a real asio loop in a test until what the test waits for holds.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <functional>

namespace lw::testing {

// Runs `io` until `done` holds, also waiting for work that other threads
// post meanwhile; false when it still does not hold after 20 s. The limit
// only keeps a fault from hanging the test, it is not part of what is tested.
inline bool RunUntil(asio::io_context& io, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto work = asio::make_work_guard(io);
  io.restart();
  while (!done() && std::chrono::steady_clock::now() < end)
    io.run_one_for(std::chrono::milliseconds(20));
  return done();
}

}  // namespace lw::testing
