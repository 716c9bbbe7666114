// The start-up procedure: chooses service or process mode from the stored
// "ChkRunAsProc" and the command line, loads the process controller and keeps
// the loop running until the process is to end.
#pragma once

#include <asio/io_context.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "devices/clock.h"
#include "devices/settings_store.h"

namespace lw {

// The process controller as the entry sees it.
class MainController {
 public:
  virtual ~MainController() = default;
  virtual void Load() = 0;
  virtual void Unload() = 0;
  virtual bool Loaded() const = 0;
};

struct EntryContext {
  asio::io_context& io;
  Clock& clock;
  std::string app_path;
  std::string runtime_dir;
  // The whole argument text: the arguments joined by single blanks.
  std::string command_line;
  // Opens the settings store, once the instance lock is held; null with
  // `error` saying why (naming the file) when it cannot be opened.
  std::function<SettingsStore*(std::string* error)> open_store;
  // Builds the controller. `request_unload` is what the controller calls on
  // "UNLOAD": it unloads the controller (and in process mode ends the run).
  std::function<std::unique_ptr<MainController>(
      std::function<void()> request_unload)>
      make_controller;
};

// The whole run; returns the exit code: 0 in every case of the original
// design, 1 when the home folder, the runtime folder, the instance lock or
// the settings store is unusable (said on standard error and in the system
// log; nothing runs then).
int Main(EntryContext& ctx);

// What "--help", "-h" or "--version" among the arguments asks to print (the
// process then ends at once, before anything is opened or created); nothing
// for any other command line.
std::optional<std::string> HelpOrVersion(int argc, char** argv);

// The argument text of a command line (argv[1..] joined by blanks).
std::string CommandLineText(int argc, char** argv);

// Whether the stored "ChkRunAsProc" with this command line lets the process
// start at all, and in which mode.
struct StartDecision {
  bool start = false;
  bool run_as_service = false;
};
StartDecision DecideStart(const std::string& chk_run_as_proc,
                          const std::string& command_line);

}  // namespace lw
