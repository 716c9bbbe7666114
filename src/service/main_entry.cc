#include "service/main_entry.h"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <csignal>
#include <filesystem>

#include "base/system.h"
#include "service/instance_lock.h"
#include "service/service_host.h"
#include "service/wait_for_objects.h"
#include "settings/registry_routines.h"

namespace lw {

std::string CommandLineText(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

StartDecision DecideStart(const std::string& chk_run_as_proc,
                          const std::string& command_line) {
  StartDecision d;
  // "0" asks for process mode, but only when started with exactly "-gc".
  if (chk_run_as_proc == "0" && command_line != "-gc") return d;
  d.start = true;
  d.run_as_service = chk_run_as_proc == "1";
  return d;
}

std::optional<std::string> HelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--version")
      return std::string("linewarden-proc (") + std::string(kAppTitle) + ")\n";
    if (a == "--help" || a == "-h")
      return std::string(
          "Usage: linewarden-proc [-gc]\n"
          "The background process of the call recorder and answering machine "
          "for one\ntelephone line.\n\n"
          "  -gc         run as a plain process when \"ChkRunAsProc\" is "
          "\"0\"\n"
          "  -h, --help  print this help and end\n"
          "  --version   print the version and end\n\n"
          "\"ChkRunAsProc\" in the settings section Properties\\TabGeneral "
          "chooses the mode:\n"
          "\"1\" runs only under the service manager, \"0\" only with -gc, "
          "missing as a plain\nprocess. Any other argument ends the process at "
          "once when it is \"0\".\n\n"
          "Environment: LINEWARDEN_HOME (home folder, default: the "
          "executable's),\nLINEWARDEN_REGISTRY (settings store, default "
          "$LINEWARDEN_HOME/registry.db),\nLINEWARDEN_RUNTIME (channels and "
          "lock, default $XDG_RUNTIME_DIR/linewarden,\nelse "
          "/run/linewarden).\n"
          "Signals: SIGTERM and SIGINT stop in order; SIGUSR1 and SIGHUP "
          "report the state\nto the service manager again.\n");
  }
  return std::nullopt;
}

namespace {

int RunProcessMode(EntryContext& ctx) {
  auto guard = asio::make_work_guard(ctx.io);
  ManualResetEvent end(ctx.io);
  // Under the service manager a plain process reports its states too, so the
  // shipped notify unit works without "ChkRunAsProc" as well.
  int state = kServiceStartPending;
  auto report = [&](int s) {
    if (s != 0) state = s;
    NotifyServiceManager(state);
  };
  report(kServiceStartPending);
  std::unique_ptr<MainController> controller;
  auto unload = [&] {
    if (!end.IsSet()) report(kServiceStopPending);
    if (controller && controller->Loaded()) controller->Unload();
    end.Set();
  };
  // A stop from the system ends the run with the full unloading order;
  // SIGUSR1 (the unit's reload) and SIGHUP only report the state again.
  asio::signal_set stop_signals(ctx.io, SIGTERM, SIGINT);
  stop_signals.async_wait([&](const std::error_code& ec, int) {
    if (!ec) unload();
  });
  asio::signal_set interrogate(ctx.io, SIGUSR1, SIGHUP);
  std::function<void()> await_interrogate = [&] {
    interrogate.async_wait([&](const std::error_code& ec, int) {
      if (ec) return;
      report(0);
      await_interrogate();
    });
  };
  await_interrogate();
  controller = ctx.make_controller([&] { asio::post(ctx.io, unload); });
  controller->Load();
  if (!end.IsSet()) report(kServiceRunning);
  WaitForObjects(ctx.io, ctx.clock, kInfinite, {&end});
  stop_signals.cancel();
  interrogate.cancel();
  if (controller->Loaded()) controller->Unload();
  report(kServiceStopped);
  return 0;
}

int RunServiceMode(EntryContext& ctx, InstanceLock& lock) {
  // Tested once more, as the service start may race another instance.
  if (lock.Acquire(ctx.runtime_dir + "/linewarden.lock") !=
      InstanceLock::Result::kHeld)
    return 0;
  auto guard = asio::make_work_guard(ctx.io);
  ServiceHost host(ctx.io);
  bool service_started = false;
  // The platform check of the original design always holds here.
  const bool is_nt = true;
  if (is_nt) {
    host.StartServiceThread();
    const uint32_t r =
        WaitForObjects(ctx.io, ctx.clock, kInfinite,
                       {&host.thread_ended(), &host.started_event()});
    if (r == 1) {
      service_started = true;
    } else {
      host.JoinServiceThread();
      ShowMessage("This program must be started as a service.");
    }
  } else {
    ShowMessage("This program is only for Windows NT/2000/XP/2003.");
  }
  if (service_started) {
    host.SetServiceState(kServiceRunning);
    std::unique_ptr<MainController> controller;
    // "UNLOAD" in service mode takes the controller away; the service keeps
    // running until it is stopped.
    controller = ctx.make_controller([&] {
      asio::post(ctx.io, [&] {
        if (controller && controller->Loaded()) controller->Unload();
      });
    });
    controller->Load();
    // Waiting without a time limit ends exactly where repeated one-second
    // waits would, but never wakes an idle process.
    WaitForObjects(ctx.io, ctx.clock, kInfinite, {&host.stop_event()});
    if (controller->Loaded()) controller->Unload();
    host.SetServiceState(kServiceStopped);
    host.release_event().Set();
    host.JoinServiceThread();
  }
  return 0;
}

}  // namespace

int Main(EntryContext& ctx) {
  // Each of these leaves the process unable to keep a call or a setting, or
  // to run as the only instance: it says so once and runs nothing.
  std::error_code ec;
  if (!std::filesystem::is_directory(ctx.app_path, ec)) {
    ShowError("The home folder " + ctx.app_path +
              " does not exist (LINEWARDEN_HOME names it); nothing started.");
    return 1;
  }
  // Only the folder's last component is made: a missing parent means a
  // wrong setting, not a folder to invent.
  if (const int err = MakeRuntimeFolder(ctx.runtime_dir); err != 0) {
    ShowError("The runtime folder cannot be made (" + ctx.runtime_dir + ": " +
              ErrnoText(err) +
              "; LINEWARDEN_RUNTIME names it); nothing started.");
    return 1;
  }
  InstanceLock lock;
  switch (lock.Acquire(ctx.runtime_dir + "/linewarden.lock")) {
    case InstanceLock::Result::kHeld:
      break;
    case InstanceLock::Result::kTaken:
      return 0;
    case InstanceLock::Result::kFailed:
      ShowError("The instance lock cannot be taken (" + lock.error() +
                "); nothing started.");
      return 1;
  }
  // The home is locked as well: a process with another runtime folder on the
  // same home would write into the same journal, calls and settings.
  InstanceLock home_lock;
  switch (home_lock.Acquire(ctx.app_path + "/" + kHomeLockFile)) {
    case InstanceLock::Result::kHeld:
      break;
    case InstanceLock::Result::kTaken:
      ShowError("Another linewarden-proc runs on the home folder " +
                ctx.app_path +
                " (with another runtime folder); nothing started.");
      return 1;
    case InstanceLock::Result::kFailed:
      ShowError("The instance lock cannot be taken (" + home_lock.error() +
                "); nothing started.");
      return 1;
  }

  std::string error;
  SettingsStore* store = ctx.open_store(&error);
  if (store == nullptr) {
    ShowError("The settings store cannot be opened (" + error +
              "); it is left as it is. Restore it from an exported .reg file "
              "(move it away, then 'lwdctl reg import FILE'), or move it away "
              "to start with empty settings; nothing started.");
    return 1;
  }
  RegistryRoutines reg(*store);
  reg.SetSubkey("Properties\\TabGeneral");
  const std::string chk = RegValueText(reg.GetRegistryValue("ChkRunAsProc"));
  const StartDecision d = DecideStart(chk, ctx.command_line);
  if (!d.start) return 0;
  if (!d.run_as_service) return RunProcessMode(ctx);
  return RunServiceMode(ctx, lock);
}

}  // namespace lw
