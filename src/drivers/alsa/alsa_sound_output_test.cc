#include "drivers/alsa/alsa_sound_output.h"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <vector>

namespace lw {
namespace {

// Runs `io` until `done` or a generous limit; the limit only guards
// against hanging, it is not a timing check.
template <typename Done>
bool RunUntil(asio::io_context& io, Done done) {
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done() && std::chrono::steady_clock::now() < limit) {
    io.restart();
    io.run_for(std::chrono::milliseconds(10));
  }
  return done();
}

TEST(AlsaSoundOutputTest, DrainedComesOnceAfterFinishNeverInsideIt) {
  // Given the null device, expect the drained notice after Finish, from
  // the loop, once; with nothing written too; and none after Stop.
  asio::io_context io;
  AlsaSoundOutput output(io);
  ASSERT_TRUE(output.Open("null", 8000)) << output.Error();
  int drained = 0;
  std::vector<int16_t> sound(400, 1000);
  ASSERT_TRUE(output.Write(sound));
  output.Finish([&] { ++drained; });
  EXPECT_EQ(drained, 0);
  EXPECT_TRUE(RunUntil(io, [&] { return drained > 0; }));
  io.restart();
  io.run_for(std::chrono::milliseconds(50));
  EXPECT_EQ(drained, 1);

  output.Finish([&] { ++drained; });
  EXPECT_EQ(drained, 1);
  EXPECT_TRUE(RunUntil(io, [&] { return drained > 1; }));

  ASSERT_TRUE(output.Open("null", 8000));
  ASSERT_TRUE(output.Write(sound));
  output.Finish([&] { ++drained; });
  output.Stop();
  io.restart();
  io.run_for(std::chrono::milliseconds(150));
  EXPECT_EQ(drained, 2);
  EXPECT_FALSE(output.Write(sound));
}

}  // namespace
}  // namespace lw
