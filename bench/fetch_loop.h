// The web benchmarks' loop: one request per iteration over a fresh loopback
// connection, as a browser or a script asks, read to the server's close.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

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
    bool first = true;
    bool refused = false;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) {
      // A status line other than 200 would time a refusal, not the answer.
      const std::string_view head(buf, static_cast<size_t>(n));
      if (first && head.starts_with("HTTP/") &&
          head.substr(0, head.find('\n')).find(" 200 ") == head.npos)
        refused = true;
      first = false;
      bytes += n;
    }
    close(fd);
    if (refused) {
      state.SkipWithError("the server did not answer 200");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
