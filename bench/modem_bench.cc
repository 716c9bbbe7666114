// The voice-modem line over a real terminal: the modem simulator on the
// master side of a pseudo-terminal, the line on its other side through the
// process's serial port driver, both on one Asio loop. Measures the delay
// from the simulator writing RING to the telephony control's Ring event
// (the registry's hand-over to the loop included), and the cost of
// recording a call: a second of the caller's sound streamed at 8,000 bytes
// a second, received and handed to a record sink.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "devices/line_registry.h"
#include "drivers/asio_clock/asio_clock.h"
#include "drivers/serial/asio_serial_port.h"
#include "drivers/voice_modem/voice_modem_line.h"
#include "modem_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

class OneLine : public lw::LineBackend {
 public:
  explicit OneLine(lw::LineDevice& line) : line_(line) {}
  std::vector<lw::LineDevice*> Lines() override { return {&line_}; }
  std::string ErrorText(int32_t code) override {
    return lw::VoiceModemErrorText(code);
  }

 private:
  lw::LineDevice& line_;
};

// The simulator of `profile` on a pseudo-terminal and the process's side of
// it: the line opened on a telephony control, set up for voice.
struct Rig {
  explicit Rig(const std::string& profile)
      : clock(io),
        master(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)),
        pty(io, master),
        sim(clock, profile,
            {[this](const std::string& b) { Write(b); },
             [this](const std::string& json) { last_event = json; },
             [](const std::vector<int16_t>&) {}}),
        lines(clock) {
    ::grantpt(master);
    ::unlockpt(master);
    names.Set(1, ::ptsname(master));
    Read();
    lw::ModemIdentity identity;
    identity.tty = ::ptsname(master);
    identity.name = profile;
    identity.profile = lw::FindModemProfile(profile);
    identity.voice = true;
    identity.format = identity.profile->formats.front();
    line = std::make_unique<lw::VoiceModemLine>(
        clock, hub,
        std::make_unique<lw::AsioSerialPort>(io, names, nullptr,
                                             lw::SerialPortUser::kModemLine),
        1, identity, nullptr);
    backend = std::make_unique<OneLine>(*line);
    lines.Register("modem", *backend);
    tapi = lines.NewTelephony();
    lw::TelephonyEvents events;
    events.Ring = [this](int32_t) { ++rings; };
    events.Connected = [this] { connected = true; };
    tapi->SetEvents(events);
    tapi->LineInitialize();
    tapi->SetDeviceIndex(0);
    tapi->LineOpen(lw::kPrivilegesOwnerMonitor, lw::kMediaModesVoice);
    RunFor(std::chrono::milliseconds(300));  // the voice set-up commands
  }
  ~Rig() {
    tapi->LineClose();
    tapi->LineShutdown();
  }
  void Write(const std::string& bytes) {
    // A few bytes at a time into a terminal with room: written at once.
    for (size_t at = 0; at < bytes.size();) {
      const ssize_t n = ::write(master, bytes.data() + at, bytes.size() - at);
      if (n > 0) at += static_cast<size_t>(n);
    }
  }
  void Read() {
    pty.async_read_some(asio::buffer(input),
                        [this](const std::error_code& ec, size_t n) {
                          if (ec) return;
                          sim.FromHost(std::string(input.data(), n));
                          Read();
                        });
  }
  void RunFor(Clock::duration d) {
    io.restart();
    io.run_for(d);
  }
  bool RunUntil(const std::function<bool()>& done) {
    const Clock::time_point end = Clock::now() + std::chrono::seconds(5);
    while (!done() && Clock::now() < end) {
      io.restart();
      io.run_one_for(std::chrono::milliseconds(100));
    }
    return done();
  }

  asio::io_context io;
  lw::AsioClock clock;
  int master;
  asio::posix::stream_descriptor pty;
  std::array<char, 4096> input{};
  lw::ModemSim sim;
  std::string last_event;
  lw::SerialPortNames names;
  lw::LineAudioHub hub;
  std::unique_ptr<lw::VoiceModemLine> line;
  std::unique_ptr<OneLine> backend;
  lw::LineRegistry lines;
  std::unique_ptr<lw::Telephony> tapi;
  int rings = 0;
  bool connected = false;
};

double CpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_RingToRingEvent(benchmark::State& state) {
  Rig rig("conexant");
  lw::CallScript call;
  call.driven = true;
  rig.sim.Call(call);
  double worst = 0;
  for (auto _ : state) {
    const int before = rig.rings;
    const Clock::time_point start = Clock::now();
    rig.sim.RingNow();
    if (!rig.RunUntil([&] { return rig.rings > before; })) {
      state.SkipWithError("no Ring event");
      break;
    }
    const double delay =
        std::chrono::duration<double>(Clock::now() - start).count();
    worst = std::max(worst, delay);
    state.SetIterationTime(delay);
  }
  state.counters["worst_ms"] = worst * 1000;
  rig.sim.CallerHangsUp();
}
BENCHMARK(BM_RingToRingEvent)->UseManualTime()->Iterations(200);

void BM_RecordingACallInRealTime(benchmark::State& state) {
  // The caller talks for the whole measurement; the line records after the
  // answer. CPU of this process (simulator and line) over wall time.
  const char* profile = state.range(0) == 0 ? "conexant" : "usr";
  state.SetLabel(profile);
  Rig rig(profile);
  lw::CallScript call;
  call.rings = 1;
  call.ring_interval_ms = 100;
  call.play.assign(8000 * 60, 1000);
  call.hangup_after_ms = 60000;
  rig.sim.Call(call);
  if (!rig.RunUntil([&] { return rig.rings > 0; })) {
    state.SkipWithError("no ring");
    return;
  }
  rig.tapi->LineAnswer();
  int64_t recorded = 0;
  rig.hub.Find(rig.tapi->GetDeviceID(lw::kDeviceClassWaveIn))
      ->SetRecordSink([&](std::span<const int16_t> s) {
        recorded += static_cast<int64_t>(s.size());
      });
  rig.RunFor(std::chrono::milliseconds(500));
  double cpu = 0;
  double wall = 0;
  for (auto _ : state) {
    const double c0 = CpuSeconds();
    const Clock::time_point w0 = Clock::now();
    rig.RunFor(std::chrono::seconds(1));
    cpu += CpuSeconds() - c0;
    wall += std::chrono::duration<double>(Clock::now() - w0).count();
  }
  state.counters["cpu_percent_of_core"] = wall > 0 ? cpu / wall * 100 : 0;
  state.counters["samples_recorded"] = static_cast<double>(recorded);
  rig.hub.Find(rig.tapi->GetDeviceID(lw::kDeviceClassWaveIn))
      ->SetRecordSink(nullptr);
  rig.tapi->LineDrop();
  rig.sim.CallerHangsUp();
  rig.RunFor(std::chrono::milliseconds(100));
}
BENCHMARK(BM_RecordingACallInRealTime)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
