#include "drivers/alsa/alsa_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <thread>
#include <vector>

namespace lw {
namespace {

// The loop runs until the player reports a drained queue; the time limit
// only keeps a missing notification from hanging the test.
class AlsaOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    player_.SetOnDrained([this] {
      ++drained_;
      io_.stop();
    });
  }
  void RunUntilDrained() {
    auto work = asio::make_work_guard(io_);
    io_.restart();
    io_.run_for(std::chrono::seconds(10));
  }

  asio::io_context io_;
  AlsaOutput player_{io_};
  int drained_ = 0;
};

TEST_F(AlsaOutputTest, StopCancelsPendingNotice) {
  // given sound that drained while the loop was busy and a Stop before the
  // loop saw the notice, expect no notice; new sound then drains normally
  ASSERT_EQ(player_.Open(kNullSoundDevice, 8000), kAlsaOk);
  std::vector<int16_t> samples(80, 1000);
  player_.Write(samples);
  // The loop does not run: the worker's notice (if already posted) waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  player_.Stop();
  io_.restart();
  io_.poll();
  EXPECT_EQ(drained_, 0);
  player_.Write(samples);
  RunUntilDrained();
  EXPECT_EQ(drained_, 1);
}

TEST_F(AlsaOutputTest, DestroyedPlayerRunsNoHandler) {
  // given a player destroyed while its sound plays, expect nothing to run
  auto player = std::make_unique<AlsaOutput>(io_);
  int calls = 0;
  player->SetOnDrained([&] { ++calls; });
  ASSERT_EQ(player->Open(kNullSoundDevice, 8000), kAlsaOk);
  std::vector<int16_t> samples(16, 1);
  player->Write(samples);
  player.reset();
  auto work = asio::make_work_guard(io_);
  io_.restart();
  io_.run_for(std::chrono::milliseconds(50));
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace lw
