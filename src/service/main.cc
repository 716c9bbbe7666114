// linewarden-proc: the background process. Builds the real drivers into the
// devices bundle and runs the start-up procedure.
#include <unistd.h>

#include <asio/io_context.hpp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/descriptors.h"
#include "base/system.h"
#include "callstore/file_io.h"
#include "controller/process_controller.h"
#include "devices/devices.h"
#include "devices/line_audio.h"
#include "devices/line_backend_context.h"
#include "devices/line_registry.h"
#include "devices/serial_port_names.h"
#include "drivers/alsa/alsa_sound_output.h"
#include "drivers/asio_clock/asio_clock.h"
#include "drivers/curl/curl_mail.h"
#include "drivers/curl/curl_webhook.h"
#include "drivers/espeak/espeak_voice.h"
#include "drivers/serial/asio_serial_port.h"
#include "drivers/simline/simline_backend.h"
#ifdef LW_WITH_SIP
#include "drivers/sip/sip_line.h"
#endif
#include "drivers/sndfile_wave/sndfile_wave.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "drivers/unix_channel/unix_channel.h"
#ifdef LW_WITH_VOICE_MODEM
#include "drivers/voice_modem/voice_modem_backend.h"
#endif
#include "journal/journal.h"
#include "notify/speech.h"
#include "service/main_entry.h"
#include "service/paths.h"
#include "service/service_host.h"
#include "settings/registry_routines.h"

namespace {

// The line backends this build has, in the order they register; the registry
// lists the simulated ones after every real line. A backend whose CMake
// option is off (LW_WITH_<BACKEND>) is built without, and left out here.
struct LineBackendEntry {
  const char* name;     // its name in the registry and its result codes
  const char* section;  // its settings section Properties\TabDevices\<section>
  const char* journal_source;
  bool simulated;
  lw::LineBackendFactory make;
};
constexpr LineBackendEntry kLineBackends[] = {
#ifdef LW_WITH_VOICE_MODEM
    {"voice_modem", "VoiceModem", "VoiceModem", false,
     lw::NewVoiceModemBackend},
#endif
#ifdef LW_WITH_SIP
    {"sip", "SipLine", "SipLine", false, lw::NewSipBackend},
#endif
    {"simline", "simline", "SimLine", true, lw::NewSimLineBackend},
};

// The controller with everything it is built on, made when Main asks for it
// (after the start decision, so a process that ends at once opens nothing).
class Program : public lw::MainController {
 public:
  Program(asio::io_context& io, lw::Clock& clock, lw::SettingsStore& store,
          std::string app_path, std::string runtime_dir,
          std::function<void()> request_unload)
      : io_(io),
        clock_(clock),
        store_(store),
        app_path_(std::move(app_path)),
        runtime_dir_(std::move(runtime_dir)),
        journal_(clock, app_path_),
        lines_(clock),
        devices_{clock, sound_devices_, {}, {}, {}, {}, {}, {}, {}},
        request_unload_(std::move(request_unload)) {
    RegisterLineBackends();
    devices_.new_telephony = [this] { return lines_.NewTelephony(); };
    devices_.new_wave = [this] {
      auto wave = std::make_unique<lw::SndfileWave>(
          clock_, hub_, sound_devices_, lw::AlsaSoundOutputFactory(clock_));
      wave->SetNoteHandler([this](const std::string& note) {
        journal_.LogSys(note, 0, "Wave1");
      });
      return wave;
    };
    devices_.new_serial_port = [this] {
      return NewSerialPort(lw::SerialPortUser::kModemChannel);
    };
    devices_.new_channel = [this] {
      auto end = std::make_unique<lw::UnixChannel>(io_, runtime_dir_);
      end->SetNoteHandler([this](const std::string& note) {
        journal_.LogSys(note, 0, "MessageChannel");
      });
      return end;
    };
    devices_.new_mail = [this] {
      auto mail = std::make_unique<lw::CurlMail>(io_);
      mail->SetNoteHandler([this](const std::string& note) {
        journal_.LogSys(note, 0, "Mail1");
      });
      return mail;
    };
    devices_.new_webhook = [this] {
      return std::make_unique<lw::CurlWebhook>(io_);
    };
    devices_.new_voice = [this] {
      return std::make_unique<lw::EspeakVoice>(
          clock_, sound_devices_, hub_, lw::AlsaSoundOutputFactory(clock_));
    };
    lw::SetDescriptorNoteHandler([this](const std::string& note) {
      journal_.LogSys(note, 0, "Descriptors");
    });
    speech_ =
        std::make_unique<lw::SpeechController>(devices_, store_, journal_);
    lw::ProcessHooks hooks;
    hooks.speech = speech_.get();
    hooks.web_io = &io_;
    hooks.unloaded = [this] { request_unload_(); };
    main_ = std::make_unique<lw::ProcessController>(
        devices_, store_, journal_, app_path_, std::move(hooks));
  }

  void Load() override {
    PublishLines();
    main_->Load();
  }
  void Unload() override {
    main_->Unload();
    ::unlink((runtime_dir_ + "/" + kLinesFile).c_str());
  }
  bool Loaded() const override { return main_->IsFormLoaded("frmMain"); }
  ~Program() override { lw::SetDescriptorNoteHandler(nullptr); }

 private:
  static constexpr const char* kLinesFile = "lines";

  // The one serial port driver, for the modem channel and modem backends
  // alike. A port number no backend named answers kCommPortInvalid.
  std::unique_ptr<lw::SerialPort> NewSerialPort(lw::SerialPortUser user) {
    return std::make_unique<lw::AsioSerialPort>(io_, serial_names_,
                                                &serial_owners_, user);
  }

  void RegisterLineBackends() {
    lines_.SetReport(
        [this](const std::string& name, int32_t code, const std::string& text) {
          journal_.LogSys("The line backend " + name + " cannot start: " + text,
                          code, "Tapi1.LineInitialize");
        });
    for (const LineBackendEntry& entry : kLineBackends) {
      const std::string source = entry.journal_source;
      const lw::LineBackendContext context{
          clock_,
          io_,
          hub_,
          serial_names_,
          serial_owners_,
          [this](lw::SerialPortUser user) { return NewSerialPort(user); },
          store_,
          std::string(lw::kKeyRoot) + "\\Properties\\TabDevices\\" +
              entry.section,
          runtime_dir_,
          [this, source](const std::string& text) {
            journal_.LogSys(text, 0, source);
          },
          [this] {
            PublishLines();
            if (main_ != nullptr) main_->LinesChanged();
          }};
      std::unique_ptr<lw::LineBackend> backend = entry.make(context);
      if (backend == nullptr) continue;
      lines_.Register(entry.name, *backend, entry.simulated);
      backends_.push_back(std::move(backend));
    }
  }

  // Tells `lwdctl devices` which line devices this process has and which
  // terminal each one's serial port number names: one line per device,
  // "<index> TAB <name> TAB <port, -1 for none> TAB <terminal>".
  void PublishLines() {
    const std::unique_ptr<lw::Telephony> tapi = lines_.NewTelephony();
    std::string text;
    for (int32_t i = 0; i < tapi->GetNumDevices(); ++i) {
      tapi->SetDeviceIndex(i);
      lw::DeviceInfo info;
      tapi->GetDeviceCaps(info);
      const int32_t port = tapi->GetDeviceID(lw::kDeviceClassSerialPort);
      const std::optional<std::string> tty =
          port > 0 && port <= INT16_MAX
              ? serial_names_.Tty(static_cast<int16_t>(port))
              : std::nullopt;
      text += std::to_string(i) + "\t" + info.Name + "\t" +
              std::to_string(port) + "\t" + tty.value_or("") + "\n";
    }
    const std::string path = runtime_dir_ + "/" + kLinesFile;
    if (lw::MakeRuntimeFolder(runtime_dir_) != 0 ||
        !lw::ReplaceFile(path, path + ".new", text)) {
      journal_.LogSys("Cannot write the list of lines " + path, 0, "SimLine");
    }
  }

  asio::io_context& io_;
  lw::Clock& clock_;
  lw::SettingsStore& store_;
  std::string app_path_;
  std::string runtime_dir_;
  lw::Journal journal_;
  lw::LineAudioHub hub_;
  lw::AlsaSoundDevices sound_devices_;
  lw::LineRegistry lines_;
  lw::SerialPortNames serial_names_;
  lw::SerialPortOwners serial_owners_;
  // Outlive every control (main_ goes first).
  std::vector<std::unique_ptr<lw::LineBackend>> backends_;
  lw::Devices devices_;
  std::function<void()> request_unload_;
  std::unique_ptr<lw::SpeechController> speech_;
  std::unique_ptr<lw::ProcessController> main_;
};

}  // namespace

int main(int argc, char** argv) try {
  // Answered before anything is opened or created.
  if (const auto text = lw::HelpOrVersion(argc, argv)) {
    std::fputs(text->c_str(), stdout);
    return 0;
  }
  // Every descriptor the system allows, and one kept back for the moment
  // the process runs out anyway.
  lw::RaiseDescriptorLimit();
  lw::KeepDescriptorReserve();
  asio::io_context io;
  lw::AsioClock clock(io);
  const std::string app_path = lw::ResolveAppPath();
  std::optional<lw::SqliteSettingsStore> store;
  lw::EntryContext ctx{io,
                       clock,
                       app_path,
                       lw::ResolveRuntimeDir(),
                       lw::CommandLineText(argc, argv),
                       nullptr,
                       nullptr};
  ctx.open_store = [&](std::string* error) -> lw::SettingsStore* {
    store.emplace(lw::ResolveRegistryPath(app_path));
    if (store->IsOpen()) return &*store;
    *error = store->LastError();
    return nullptr;
  };
  ctx.make_controller = [&](std::function<void()> request_unload) {
    return std::make_unique<Program>(io, clock, *store, app_path,
                                     ctx.runtime_dir,
                                     std::move(request_unload));
  };
  return lw::Main(ctx);
} catch (const std::exception& e) {
  // Nothing below lets an exception out; this is the last guard.
  lw::ShowError(std::string("stopped by an internal error: ") + e.what());
  return 1;
}
