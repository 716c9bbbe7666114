#include "service/main_entry.h"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/signal_set.hpp>

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

namespace {

int RunProcessMode(EntryContext& ctx, InstanceLock&) {
  auto guard = asio::make_work_guard(ctx.io);
  ManualResetEvent end(ctx.io);
  std::unique_ptr<MainController> controller;
  auto unload = [&] {
    if (controller && controller->Loaded()) controller->Unload();
    end.Set();
  };
  controller = ctx.make_controller([&] { asio::post(ctx.io, unload); });
  // A stop from the system ends the run with the full unloading order.
  asio::signal_set signals(ctx.io, SIGTERM, SIGINT);
  signals.async_wait([&](const std::error_code& ec, int) {
    if (!ec) unload();
  });
  controller->Load();
  WaitForObjects(ctx.io, ctx.clock, kInfinite, {&end});
  signals.cancel();
  if (controller->Loaded()) controller->Unload();
  return 0;
}

int RunServiceMode(EntryContext& ctx, InstanceLock& lock) {
  // Tested once more, as the service start may race another instance.
  if (!lock.Acquire(ctx.runtime_dir + "/linewarden.lock")) return 0;
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
    while (WaitForObjects(ctx.io, ctx.clock, 1000, {&host.stop_event()}) ==
           kWaitTimeout) {
    }
    if (controller->Loaded()) controller->Unload();
    host.SetServiceState(kServiceStopped);
    host.release_event().Set();
    host.JoinServiceThread();
  }
  return 0;
}

}  // namespace

int Main(EntryContext& ctx) {
  EnsureRuntimeDir(ctx.runtime_dir);
  InstanceLock lock;
  if (!lock.Acquire(ctx.runtime_dir + "/linewarden.lock")) return 0;

  RegistryRoutines reg(ctx.store);
  reg.SetSubkey("Properties\\TabGeneral");
  const std::string chk = RegValueText(reg.GetRegistryValue("ChkRunAsProc"));
  const StartDecision d = DecideStart(chk, ctx.command_line);
  if (!d.start) return 0;
  if (!d.run_as_service) return RunProcessMode(ctx, lock);
  return RunServiceMode(ctx, lock);
}

}  // namespace lw
