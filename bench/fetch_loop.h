// The web benchmarks' loop: one request per iteration over a fresh loopback
// connection, as a browser or a script asks, read to the server's close.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "loopback.h"

inline void FetchEachIteration(benchmark::State& state, int port,
                               const std::string& request) {
  size_t bytes = 0;
  char buf[65536];
  for (auto _ : state) {
    const int fd = lw::testing::Connect(port);
    if (fd < 0) {
      state.SkipWithError("connect failed");
      break;
    }
    send(fd, request.data(), request.size(), 0);
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) bytes += n;
    close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
