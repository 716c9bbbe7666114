// The start-up procedure: chooses service or process mode from the stored
// "ChkRunAsProc" and the command line, loads the process controller and keeps
// the loop running until the process is to end.
#pragma once

#include <asio/io_context.hpp>
#include <functional>
#include <memory>
#include <string>

#include "devices/clock.h"
#include "settings/settings_store.h"

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
  SettingsStore& store;
  std::string runtime_dir;
  // The whole argument text: the arguments joined by single blanks.
  std::string command_line;
  // Builds the controller. `request_unload` is what the controller calls on
  // "UNLOAD": it unloads the controller (and in process mode ends the run).
  std::function<std::unique_ptr<MainController>(
      std::function<void()> request_unload)>
      make_controller;
};

// The whole run; returns the exit code (0 in every specified case).
int Main(EntryContext& ctx);

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
