#include "drivers/voice_modem/voice_modem_backend.h"

#include <glob.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <chrono>
#include <deque>
#include <filesystem>
#include <optional>
#include <set>
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
      : context_(context),
        setting_(ReadPortsSetting(context)),
        watch_(context.io) {
    settle_ = context_.clock.CreateTimer([this] {
      settle_->SetEnabled(false);
      Look();
    });
    settle_->SetInterval(kSettleMs);
    const std::vector<std::string> ttys = ModemPorts(setting_);
    waiting_.assign(ttys.begin(), ttys.end());
    // Before the loop runs: each port in turn on the loop's io_context,
    // each for at most kProbeBudgetMs.
    while (!waiting_.empty() || probing_) {
      StartProbe();
      while (probing_ && std::chrono::steady_clock::now() < probing_->until) {
        context_.io.restart();
        context_.io.run_one_until(probing_->until);
      }
      if (probing_) Probed(std::nullopt);
    }
    context_.io.restart();
    if (ttys.empty())
      Note(setting_.empty()
               ? "No voice modem: no /dev/ttyACM* or /dev/ttyUSB*"
               : "No voice modem: no port in " + std::string(kModemPortsValue));
    Watch();
  }
  ~VoiceModemBackend() override {
    *alive_ = false;
    std::error_code ignored;
    watch_.close(ignored);
    if (probing_) probing_->port->SetPortOpen(false);
  }

  std::vector<LineDevice*> Lines() override {
    std::vector<LineDevice*> lines;
    for (const auto& line : lines_) lines.push_back(line.get());
    return lines;
  }
  int32_t Initialize() override {
    // The journal is on by now: what the probes found, once.
    if (!journal_on_ && context_.report)
      for (const std::string& note : notes_) context_.report(note);
    journal_on_ = true;
    notes_.clear();
    return 0;
  }
  std::string ErrorText(int32_t code) override {
    return VoiceModemErrorText(code);
  }

 private:
  // One port being probed.
  struct Probing {
    std::string tty;
    int16_t number;
    std::unique_ptr<SerialPort> port;
    std::unique_ptr<ModemSession> session;
    std::unique_ptr<ModemProbe> probe;
    std::chrono::steady_clock::time_point until;
  };

  void Note(const std::string& text) {
    if (!journal_on_)
      notes_.push_back(text);
    else if (context_.report)
      context_.report(text);
  }

  // Opens the next waiting port and starts its probe; its end comes to
  // Probed from the loop.
  void StartProbe() {
    while (!probing_ && !waiting_.empty()) {
      const std::string tty = waiting_.front();
      waiting_.pop_front();
      context_.serial_names.Set(next_number_, tty);
      auto p = std::make_unique<Probing>();
      p->tty = tty;
      p->number = next_number_;
      p->port = context_.new_serial_port(SerialPortUser::kModemLine);
      p->port->SetCommPort(p->number);
      p->port->SetSettings("115200,n,8,1");
      if (const int32_t result = p->port->SetPortOpen(true); result != 0) {
        context_.serial_names.Remove(p->number);
        // Said once: a port that cannot be opened yet (its permissions
        // still being set) is tried again at the next change.
        if (unopened_.insert(tty).second)
          Note(tty + ": cannot open the port: " + p->port->ErrorText(result));
        continue;
      }
      probed_.insert(tty);
      p->session = std::make_unique<ModemSession>(context_.clock, *p->port,
                                                  ModemSession::Events{});
      p->until = std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(kProbeBudgetMs);
      probing_ = std::move(p);
      const std::shared_ptr<bool> alive = alive_;
      const uint64_t serial = ++probe_serial_;
      probing_->probe = std::make_unique<ModemProbe>(
          *probing_->session, tty,
          [this, alive, serial](const std::optional<ModemIdentity>& identity) {
            context_.clock.Post([this, alive, serial, identity] {
              // Not for a probe given up over its budget.
              if (*alive && probing_ && serial == probe_serial_)
                Probed(identity);
            });
          });
    }
  }

  void Probed(std::optional<ModemIdentity> identity) {
    std::unique_ptr<Probing> p = std::move(probing_);
    p->probe.reset();
    p->session.reset();
    p->port->SetPortOpen(false);
    if (!identity) {
      context_.serial_names.Remove(p->number);
      Note("No modem answers on " + p->tty);
    } else {
      Note("Modem " + identity->name + " on " + p->tty +
           (identity->voice
                ? ", profile " + std::string(identity->profile->name)
                : ", not voice-capable"));
      lines_.push_back(std::make_unique<VoiceModemLine>(
          context_.clock, context_.audio,
          context_.new_serial_port(SerialPortUser::kModemLine), p->number,
          std::move(*identity), context_.report));
      ++next_number_;
      if (journal_on_ && context_.lines_changed) context_.lines_changed();
    }
    StartProbe();
  }

  // Hot-plug: the folders of the ports (/dev for the default ones) are
  // watched; a change there, once settled, has the ports looked at again,
  // and a port not probed since it appeared is probed on the loop. Nothing
  // wakes the process while the folders stay as they are.
  void Watch() {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return;
    std::error_code ec;
    watch_.assign(fd, ec);
    if (ec) {
      ::close(fd);
      return;
    }
    AddWatches();
    Read();
  }
  void AddWatches() {
    std::set<std::string> folders;
    std::istringstream words(setting_);
    for (std::string word; words >> word;) {
      const std::string folder =
          std::filesystem::path(word).parent_path().string();
      // A folder that is not there yet (made when the device comes):
      // its parent is watched until it is.
      folders.insert(std::filesystem::is_directory(folder) ? folder : "/dev");
    }
    if (setting_.find_first_not_of(" \t") == std::string::npos)
      folders.insert("/dev");
    for (const std::string& folder : folders)
      ::inotify_add_watch(watch_.native_handle(), folder.c_str(),
                          IN_CREATE | IN_ATTRIB | IN_MOVED_TO);
  }
  void Read() {
    const std::shared_ptr<bool> alive = alive_;
    watch_.async_read_some(asio::buffer(changes_),
                           [this, alive](const std::error_code& ec, size_t) {
                             if (ec || !*alive) return;
                             if (!settle_->Enabled()) settle_->SetEnabled(true);
                             Read();
                           });
  }
  void Look() {
    AddWatches();
    const std::vector<std::string> ttys = ModemPorts(setting_);
    const std::set<std::string> now(ttys.begin(), ttys.end());
    // A port gone is probed again when it comes back; the lines of known
    // modems find their ports themselves.
    std::erase_if(probed_, [&](const std::string& t) { return !now.count(t); });
    for (const auto& line : lines_) probed_.insert(line->identity().tty);
    for (const std::string& tty : ttys)
      if (!probed_.count(tty) &&
          std::find(waiting_.begin(), waiting_.end(), tty) == waiting_.end() &&
          !(probing_ && probing_->tty == tty))
        waiting_.push_back(tty);
    StartProbe();
  }

  static constexpr uint32_t kSettleMs = 500;

  const LineBackendContext context_;
  const std::string setting_;
  std::vector<std::string> notes_;
  bool journal_on_ = false;
  std::vector<std::unique_ptr<VoiceModemLine>> lines_;
  int16_t next_number_ = kFirstModemPort;
  std::deque<std::string> waiting_;
  std::unique_ptr<Probing> probing_;
  uint64_t probe_serial_ = 0;
  std::set<std::string> probed_;
  std::set<std::string> unopened_;
  asio::posix::stream_descriptor watch_;
  std::array<char, 4096> changes_{};
  std::unique_ptr<Timer> settle_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
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
