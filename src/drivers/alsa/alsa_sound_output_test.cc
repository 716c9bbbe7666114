#include "drivers/alsa/alsa_sound_output.h"

#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <memory>
#include <thread>
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
  ASSERT_TRUE(output.Open(kNullSoundDevice, 8000)) << output.Error();
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

  ASSERT_TRUE(output.Open(kNullSoundDevice, 8000));
  ASSERT_TRUE(output.Write(sound));
  output.Finish([&] { ++drained; });
  output.Stop();
  io.restart();
  io.run_for(std::chrono::milliseconds(150));
  EXPECT_EQ(drained, 2);
  EXPECT_FALSE(output.Write(sound));
  EXPECT_FALSE(output.Open("no-such-device", 8000));
  EXPECT_FALSE(output.Error().empty());
}

TEST(AlsaSoundOutputTest, NoStaleOrLateNotices) {
  // Given sound that drained while the loop was busy and a Stop before the
  // loop saw the notice, expect no notice; sound after a new Open then
  // drains normally.
  asio::io_context io;
  int drained = 0;
  std::vector<int16_t> samples(80, 1000);
  AlsaSoundOutput output(io);
  ASSERT_TRUE(output.Open(kNullSoundDevice, 8000));
  output.Write(samples);
  output.Finish([&] { ++drained; });
  // The loop does not run: the worker's notice (if already posted) waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  output.Stop();
  // Nor may it end the sound of the next Open.
  ASSERT_TRUE(output.Open(kNullSoundDevice, 8000));
  output.Write(std::vector<int16_t>(16000, 1000));
  output.Finish([&] { ++drained; });
  io.restart();
  io.poll();
  EXPECT_EQ(drained, 0);
  ASSERT_TRUE(output.Open(kNullSoundDevice, 8000));
  output.Write(samples);
  output.Finish([&] { ++drained; });
  EXPECT_TRUE(RunUntil(io, [&] { return drained == 1; }));

  // An output destroyed while its sound plays runs no handler afterwards.
  auto gone = std::make_unique<AlsaSoundOutput>(io);
  ASSERT_TRUE(gone->Open(kNullSoundDevice, 8000));
  gone->Write(std::vector<int16_t>(16, 1));
  gone->Finish([&] { ++drained; });
  gone.reset();
  auto work = asio::make_work_guard(io);
  io.restart();
  io.run_for(std::chrono::milliseconds(50));
  EXPECT_EQ(drained, 1);
}

}  // namespace
}  // namespace lw
