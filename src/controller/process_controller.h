// The process controller: loading it brings the whole process up,
// unloading it takes everything down again, and while loaded it obeys the
// desktop application's process commands (channel 105) and passes its
// speech commands (channel 106) to the speech window.
//
// Loading, in this order: channels 105 and 106; the translation file; the
// speech window; the wave-format table; the journal switches and the line
// "Opening Linewarden 1.0 Process"; the calls a crash cut off, stored from
// the notes beside their recordings; the web options (and the web server
// when web access is allowed); telephony ("Init Tapi->..." or "Can't Init
// Tapi->...", which ends the loading without a line); the auto mode times;
// the line controller, opened as "cmbLineStat" says; the sound device.
// Unloading: the line controller, the web server, the speech window.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "call/process_state.h"
#include "call/speech_window.h"
#include "devices/devices.h"
#include "journal/journal.h"
#include "settings/registry_routines.h"
#include "web/http_server.h"

namespace lw {

class LineController;
class ProcessController;

// What the program's entry plugs into the controller. Every member may be
// left empty.
struct ProcessHooks {
  // The speech window, loaded and unloaded by the controller; outlives it.
  SpeechWindow* speech = nullptr;
  // The loop the web server's sockets run on. With it, loading the web
  // server makes a HttpServer that reads (and may set) the controller's RCWWW
  // fields; unloading destroys it.
  asio::io_context* web_io = nullptr;
  // Told after the web server was loaded and after it was unloaded. With
  // neither `web_io` nor `load_web` the web server is never counted as
  // loaded.
  std::function<void(ProcessController&)> load_web;
  std::function<void()> unload_web;
  // "UNLOAD" arrived and the controller has unloaded itself. In process
  // mode this ends the process; in service mode the service runs on until
  // stopped. Called from within the channel handler: the controller must
  // not be destroyed before that handler returns (post the destruction).
  std::function<void()> unloaded;
};

class ProcessController {
 public:
  // `app_path` is AppPath (native, no trailing separator). Everything
  // referred to outlives the controller.
  ProcessController(const Devices& devices, SettingsStore& store,
                    Journal& journal, std::string app_path, ProcessHooks hooks);
  // Unloads first when still loaded.
  ~ProcessController();
  ProcessController(const ProcessController&) = delete;
  ProcessController& operator=(const ProcessController&) = delete;

  // The start-up sequence. Call once.
  void Load();
  // Unloads "frmLine", "frmHTTP" and "frmTTS", each when loaded, in that
  // order. Does nothing when not loaded.
  void Unload();

  // True when a window of that name is loaded: "frmMain", "frmLine",
  // "frmHTTP", "frmTTS" (exact, case-sensitive).
  bool IsFormLoaded(const std::string& name) const;

  // Reads the web options into the RCWWW fields.
  void ReadWebOptions();

  // Reads up to 20 lines of `path` (native) into TransText 1..20; reading
  // stops at the first failure, and the entries not read keep their
  // contents.
  void LoadTranslation(const std::string& path);

  // Index of the last sound device named `name`; 0 when none is.
  static int32_t FindWaveDevice(Wave& wave, const std::string& name);

  ProcessState& state() { return state_; }
  const ProcessState& state() const { return state_; }
  // The line controller; null when not loaded.
  LineController* line() { return line_.get(); }
  // The list of line devices changed after start-up (a modem plugged in);
  // the line controller follows it.
  void LinesChanged();

  // --- Public fields read (and partly set) by the web server, in this
  // order.
  RegistryRoutines Reg;
  int32_t RCWWWPort = 0;
  int32_t RCWWWAllow = 0;
  int32_t RCWWWProtect = 0;
  std::string RCWWWUserName;
  std::string RCWWWPass;
  std::string RCWWWStartPage;
  int32_t RCWWWViewCalls = 0;
  int32_t RCWWWViewOptions = 0;
  std::string RCWWWViewLog;

 private:
  void OnProcessMessage(const std::string& text);
  void OnSpeechMessage(const std::string& text);
  void LoadWeb();
  void UnloadWeb();
  std::string ReadText(const char* section, const char* name);

  const Devices& devices_;
  SettingsStore& store_;
  Journal& journal_;
  ProcessHooks hooks_;
  ProcessState state_;

  std::unique_ptr<MessageChannel> process_channel_;  // 105
  std::unique_ptr<MessageChannel> speech_channel_;   // 106
  std::unique_ptr<Telephony> telephony_;
  std::unique_ptr<Wave> wave_;
  std::unique_ptr<LineController> line_;
  std::unique_ptr<HttpServer> web_;

  bool loaded_ = false;
  bool web_loaded_ = false;
  bool speech_loaded_ = false;
};

}  // namespace lw
