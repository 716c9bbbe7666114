// Runs the real `lwdctl phone` against a simulated line on a real loop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "drivers/asio_clock/asio_clock.h"
#include "drivers/simline/simulated_line.h"
#include "drivers/simline/simulated_telephony.h"
#include "temp_dir.h"

extern char** environ;

namespace lw {
namespace {

class LwdctlPhoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("LW_TEST_BIN");
    if (bin == nullptr) GTEST_SKIP() << "LW_TEST_BIN not set (run by CTest)";
    lwdctl_ = std::string(bin) + "/lwdctl";
    ASSERT_TRUE(std::filesystem::exists(lwdctl_)) << lwdctl_;
    line_ = std::make_unique<SimulatedLine>(io_, clock_, hub_, dir_.path());
    ASSERT_TRUE(line_->listening()) << line_->ListenStatus();
    tapi_ = std::make_unique<SimulatedTelephony>(*line_);
    TelephonyEvents e;
    e.InComeCall = [this] { events_.push_back("InComeCall"); };
    e.Ring = [this](int32_t n) {
      events_.push_back("Ring(" + std::to_string(n) + ")");
    };
    e.CallerID = [this](const std::string& name, const std::string& number) {
      events_.push_back("CallerID(" + name + "," + number + ")");
    };
    e.Connected = [this] { events_.push_back("Connected"); };
    e.Disconnected = [this] { events_.push_back("Disconnected"); };
    e.Idle = [this] { events_.push_back("Idle"); };
    e.Dialing = [this] { events_.push_back("Dialing"); };
    tapi_->SetEvents(std::move(e));
    ASSERT_EQ(tapi_->LineOpen(6, 6), 0);
  }

  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) ::close(out_fd_);
  }

  // Starts lwdctl with `args` in this test's runtime folder.
  void Start(std::vector<std::string> args) {
    args.insert(args.begin(), lwdctl_);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_strings = {"LINEWARDEN_RUNTIME=" +
                                            dir_.path()};
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string(*e).rfind("LINEWARDEN_RUNTIME=", 0) != 0)
        env_strings.push_back(*e);
    std::vector<char*> env;
    for (std::string& s : env_strings) env.push_back(s.data());
    env.push_back(nullptr);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    ASSERT_EQ(posix_spawn(&pid_, lwdctl_.c_str(), &actions, nullptr,
                          argv.data(), env.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_fd_ = fds[0];
  }

  // Serves the line until lwdctl exits (or a generous bound passes, a
  // hang, not a timing check); answers its exit status and output lines.
  int Serve(const std::function<void()>& each_turn = nullptr) {
    int status = 0;
    // Keeps run_for waiting its turn when the line has nothing to do.
    auto work = asio::make_work_guard(io_);
    for (int i = 0; i < 3000; ++i) {
      io_.restart();
      io_.run_for(std::chrono::milliseconds(10));
      if (each_turn) each_turn();
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
    }
    // What is still posted for the line.
    work.reset();
    io_.restart();
    io_.poll();
    if (pid_ > 0) return -1;
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out_fd_, buf, sizeof buf)) > 0) out.append(buf, n);
    size_t i = 0;
    while (i < out.size()) {
      size_t j = out.find('\n', i);
      if (j == std::string::npos) j = out.size();
      output_.push_back(out.substr(i, j - i));
      i = j + 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  testing::TempDir dir_;
  asio::io_context io_;
  AsioClock clock_{io_};
  LineAudioHub hub_;
  std::unique_ptr<SimulatedLine> line_;
  std::unique_ptr<SimulatedTelephony> tapi_;
  std::vector<std::string> events_;
  std::string lwdctl_;
  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::vector<std::string> output_;
};

TEST_F(LwdctlPhoneTest, UnansweredCallRingsThreeTimes) {
  // Given nobody answers, expect three rings and the caller's hang-up on
  // both sides.
  Start({"phone", "call", "--number", "5551234", "--rings", "3",
         "--ring-interval", "0.2"});
  ASSERT_EQ(Serve(), 0);
  EXPECT_EQ(output_, (std::vector<std::string>{
                         "{\"event\":\"offered\",\"line_open\":true}",
                         "{\"event\":\"ring\",\"count\":1}",
                         "{\"event\":\"ring\",\"count\":2}",
                         "{\"event\":\"ring\",\"count\":3}",
                         "{\"event\":\"hangup\",\"by\":\"caller\"}"}));
  EXPECT_EQ(events_, (std::vector<std::string>{"InComeCall", "Ring(1)",
                                               "CallerID(,5551234)", "Ring(2)",
                                               "Ring(3)", "Idle"}));
}

TEST_F(LwdctlPhoneTest, AnswersOutgoingCallAndCapturesLineAudio) {
  // Given `phone answer`, expect it to take the dialled call, and its
  // capture to hold what the process played into the call.
  const std::string capture = dir_ / "capture.wav";
  Start({"phone", "answer", "--hangup-after", "0.3", "--capture", capture});
  std::string text;
  ASSERT_EQ(tapi_->MakeCall("5551234", text), 0);
  std::vector<int16_t> played(kLineBlockSamples);
  for (size_t i = 0; i < played.size(); ++i)
    played[i] = static_cast<int16_t>(i * 100 - 8000);
  bool sent = false;
  ASSERT_EQ(Serve([&] {
              if (!sent && tapi_->IsCallActive()) {
                hub_.Find(tapi_->GetDeviceID(kDeviceClassWaveOut))
                    ->PlayToLine(played);
                sent = true;
              }
            }),
            0);
  EXPECT_EQ(output_, (std::vector<std::string>{
                         "{\"event\":\"waiting\"}",
                         "{\"event\":\"dialed\",\"number\":\"5551234\"}",
                         "{\"event\":\"answered\"}",
                         "{\"event\":\"hangup\",\"by\":\"caller\"}"}));
  EXPECT_EQ(events_,
            (std::vector<std::string>{"Dialing", "Connected", "Disconnected"}));

  SF_INFO info{};
  SNDFILE* f = sf_open(capture.c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(info.samplerate, 8000);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  std::vector<int16_t> got(static_cast<size_t>(info.frames));
  sf_read_short(f, got.data(), info.frames);
  sf_close(f);
  EXPECT_NE(std::search(got.begin(), got.end(), played.begin(), played.end()),
            got.end());
}

TEST_F(LwdctlPhoneTest, LineHangupEndsTheCaller) {
  // Given the process answers and drops the call, expect the caller to
  // report the line's hang-up after the rings it heard.
  Start({"phone", "call", "--name", "Ann", "--rings", "5", "--ring-interval",
         "0.1"});
  bool answered = false;
  bool dropped = false;
  ASSERT_EQ(Serve([&] {
              if (!answered &&
                  std::count(events_.begin(), events_.end(), "Ring(2)") == 1) {
                EXPECT_EQ(tapi_->LineAnswer(), 0);
                answered = true;
              }
              if (!dropped && tapi_->IsCallActive()) {
                EXPECT_EQ(tapi_->LineDrop(), 0);
                dropped = true;
              }
            }),
            0);
  ASSERT_GE(output_.size(), 3u);
  EXPECT_EQ(output_[output_.size() - 2].rfind("{\"event\":\"answered\"", 0),
            0u);
  EXPECT_EQ(output_.back(), "{\"event\":\"hangup\",\"by\":\"line\"}");
  EXPECT_EQ(events_.back(), "Idle");
}

TEST_F(LwdctlPhoneTest, PickedUpCallerAudioReachesRecordSink) {
  // Given a 16 kHz stereo file the caller plays after an extension picked up
  // at the first ring, expect no more rings, the sound converted to the line
  // format at a record sink without the process answering, and Idle when
  // the caller hangs up.
  const std::string tone = dir_ / "tone.wav";
  {
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(tone.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<int16_t> frames(2 * 4800);  // 0.3 s
    for (size_t i = 0; i < frames.size(); ++i)
      frames[i] = static_cast<int16_t>(
          10000 * std::sin(2 * 3.14159265 * 440 * (i / 2) / 16000.0) + 0.5);
    sf_writef_short(f, frames.data(), 4800);
    sf_close(f);
  }
  size_t heard = 0;
  size_t loud = 0;
  hub_.Find(tapi_->GetDeviceID(kDeviceClassWaveIn))
      ->SetRecordSink([&](std::span<const int16_t> s) {
        heard += s.size();
        for (int16_t v : s) loud += std::abs(v) > 100;
      });
  Start({"phone", "call", "--rings", "5", "--ring-interval", "0.1",
         "--pickup-after-ring", "1", "--play", tone, "--hangup-after", "0.6"});
  ASSERT_EQ(Serve(), 0);
  EXPECT_EQ(output_, (std::vector<std::string>{
                         "{\"event\":\"offered\",\"line_open\":true}",
                         "{\"event\":\"ring\",\"count\":1}",
                         "{\"event\":\"picked_up\",\"after_rings\":1}",
                         "{\"event\":\"hangup\",\"by\":\"caller\"}"}));
  EXPECT_EQ(events_,
            (std::vector<std::string>{"InComeCall", "Ring(1)", "Idle"}));
  // 0.3 s at 8 kHz, less the sine's few quiet samples and what may still
  // wait in the line when the caller hangs up.
  EXPECT_GT(loud, 1800u);
  EXPECT_LE(loud, 2400u);
  EXPECT_GE(heard, loud);
}

TEST_F(LwdctlPhoneTest, NoLineIsAClearError) {
  tapi_.reset();
  line_.reset();  // gone with its socket
  Start({"phone", "call"});
  EXPECT_EQ(Serve(), 1);
  EXPECT_TRUE(output_.empty());
}

}  // namespace
}  // namespace lw
