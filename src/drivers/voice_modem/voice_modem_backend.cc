#include "drivers/voice_modem/voice_modem_backend.h"

#include <glob.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <optional>
#include <sstream>
#include <utility>

namespace lw {
namespace {

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    if (!text.empty()) text += ' ';
    text += line;
  }
  return text;
}

std::string ReadPortsSetting(const LineBackendContext& context) {
  uint32_t type = 0;
  std::string data;
  if (context.store.GetValue(HKEY_LOCAL_MACHINE, context.settings_key,
                             kModemPortsValue, &type,
                             &data) != StoreStatus::kOk ||
      type != REG_SZ)
    return "";
  while (!data.empty() && data.back() == '\0') data.pop_back();
  return data;
}

class VoiceModemBackend : public LineBackend {
 public:
  explicit VoiceModemBackend(const LineBackendContext& context)
      : report_(context.report) {
    const std::string setting = ReadPortsSetting(context);
    const std::vector<std::string> ttys = ModemPorts(setting);
    int16_t number = kFirstModemPort;
    for (const std::string& tty : ttys) {
      context.serial_names.Set(number, tty);
      std::optional<ModemIdentity> identity = Probe(context, number, tty);
      if (!identity) {
        context.serial_names.Remove(number);
        notes_.push_back("No modem answers on " + tty);
        continue;
      }
      notes_.push_back(
          "Modem " + identity->name + " on " + tty +
          (identity->voice ? ", profile " + std::string(identity->profile->name)
                           : ", not voice-capable"));
      lines_.push_back(std::make_unique<VoiceModemLine>(
          context.clock, context.audio,
          context.new_serial_port(SerialPortUser::kModemLine), number,
          std::move(*identity), context.report));
      ++number;
    }
    if (ttys.empty())
      notes_.push_back(setting.empty()
                           ? "No voice modem: no /dev/ttyACM* or /dev/ttyUSB*"
                           : "No voice modem: no port in " +
                                 std::string(kModemPortsValue));
  }

  std::vector<LineDevice*> Lines() override {
    std::vector<LineDevice*> lines;
    for (const auto& line : lines_) lines.push_back(line.get());
    return lines;
  }
  int32_t Initialize() override {
    // The journal is on by now: what the probes found, once.
    if (report_)
      for (const std::string& note : notes_) report_(note);
    report_ = nullptr;
    return 0;
  }
  std::string ErrorText(int32_t code) override {
    return VoiceModemErrorText(code);
  }

 private:
  // Runs the probe on the loop's io_context before the loop itself runs,
  // for at most kProbeBudgetMs.
  static std::optional<ModemIdentity> Probe(const LineBackendContext& context,
                                            int16_t number,
                                            const std::string& tty) {
    std::unique_ptr<SerialPort> port =
        context.new_serial_port(SerialPortUser::kModemLine);
    port->SetCommPort(number);
    port->SetSettings("115200,n,8,1");
    if (const int32_t result = port->SetPortOpen(true); result != 0) {
      if (context.report)
        context.report(tty +
                       ": cannot open the port: " + port->ErrorText(result));
      return std::nullopt;
    }
    std::optional<ModemIdentity> found;
    {
      ModemSession session(context.clock, *port, {});
      ModemProbe probe(session, tty, [&found](std::optional<ModemIdentity> i) {
        found = std::move(i);
      });
      const auto deadline = std::chrono::steady_clock::now() +
                            std::chrono::milliseconds(kProbeBudgetMs);
      while (!probe.finished() && std::chrono::steady_clock::now() < deadline) {
        context.io.restart();
        context.io.run_one_until(deadline);
      }
      context.io.restart();
    }
    port->SetPortOpen(false);
    return found;
  }

  std::function<void(const std::string&)> report_;
  std::vector<std::string> notes_;
  std::vector<std::unique_ptr<VoiceModemLine>> lines_;
};

}  // namespace

std::vector<std::string> ModemPorts(const std::string& setting) {
  std::vector<std::string> ports;
  std::istringstream words(setting);
  for (std::string word; words >> word;) ports.push_back(word);
  if (!ports.empty()) return ports;
  for (const char* pattern : {"/dev/ttyACM*", "/dev/ttyUSB*"}) {
    glob_t found{};
    if (::glob(pattern, 0, nullptr, &found) == 0)
      for (size_t i = 0; i < found.gl_pathc; ++i)
        ports.emplace_back(found.gl_pathv[i]);
    ::globfree(&found);
  }
  return ports;
}

ModemProbe::ModemProbe(ModemSession& session, std::string tty, Done done)
    : session_(session), done_(std::move(done)) {
  identity_.tty = std::move(tty);
  Step("ATE0 V1", [this](ModemResult r, const std::vector<std::string>&) {
    if (r != ModemResult::kOk) return Finish(false);
    Step("ATI", [this](ModemResult, const std::vector<std::string>& lines) {
      ati_ = Joined(lines);
      Step("AT+GMI", [this](ModemResult r,
                            const std::vector<std::string>& lines) {
        const std::string maker = r == ModemResult::kOk ? Joined(lines) : "";
        identity_.profile = &ProfileForIdentity(ati_ + " " + maker);
        identity_.name =
            (maker.empty() ? ati_ : maker) + " (" + identity_.tty + ")";
        const bool old = identity_.profile->voice_mode.starts_with("AT#");
        Step(old ? "AT#CLS=?" : "AT+FCLASS=?",
             [this, old](ModemResult r, const std::vector<std::string>& l) {
               if (r != ModemResult::kOk || !ListsVoiceClass(l))
                 return Finish(true);
               Step(
                   std::string(identity_.profile->voice_mode),
                   [this, old](ModemResult r, const std::vector<std::string>&) {
                     if (r != ModemResult::kOk) return Finish(true);
                     Step(old ? "AT#VSM=?" : "AT+VSM=?",
                          [this, old](ModemResult r,
                                      const std::vector<std::string>& l) {
                            const auto format =
                                ChooseSampleFormat(*identity_.profile, l);
                            if (r == ModemResult::kOk && format) {
                              identity_.voice = true;
                              identity_.format = *format;
                            }
                            Step(old ? "AT#CLS=0" : "AT+FCLASS=0",
                                 [this](ModemResult,
                                        const std::vector<std::string>&) {
                                   Finish(true);
                                 });
                          });
                   });
             });
      });
    });
  });
}

void ModemProbe::Step(
    std::string command,
    std::function<void(ModemResult, const std::vector<std::string>&)> next) {
  session_.Command(
      std::move(command),
      [this, next = std::move(next)](ModemResult r,
                                     const std::vector<std::string>& lines) {
        if (r == ModemResult::kTimeout || r == ModemResult::kLost)
          return Finish(identity_.profile != nullptr);
        next(r, lines);
      },
      kProbeCommandMs);
}

std::unique_ptr<LineBackend> NewVoiceModemBackend(
    const LineBackendContext& context) {
  return std::make_unique<VoiceModemBackend>(context);
}

void ModemProbe::Finish(bool modem) {
  if (finished_) return;
  finished_ = true;
  if (!modem) return done_(std::nullopt);
  done_(identity_);
}

}  // namespace lw
