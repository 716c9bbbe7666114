// lwdctl: the command-line companion of the process. It plays the desktop
// application (settings, message channels) and the far end of the simulated
// line.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "commands.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "service/paths.h"
#include "settings/registry_routines.h"

namespace {

void Usage(FILE* out) {
  std::fputs(
      "usage: lwdctl COMMAND [ARGS]\n"
      "commands:\n"
      "  reg       read and write the settings store\n"
      "  send      send a message on a channel\n"
      "  listen    print the messages of channels\n"
      "  phone     play the far end of the simulated line\n"
      "  contacts  list, add, edit and remove entries of the contact file\n"
      "  devices   list the line devices with their modes and serial ports\n"
      "  greeting  speak or set the answering machine's greeting\n"
      "  calls     list, play, mark and delete the stored calls\n"
      "  where     print the home, settings store and runtime folder in use\n"
      "Without LINEWARDEN_HOME, lwdctl works on the installed service's home\n"
      "(named in " LWDCTL_HOME_RECORD
      "), else on its own folder.\n"
      "Run 'lwdctl COMMAND --help' for the arguments of a command.\n",
      out);
}

// Where the installation recorded the service's home: its first line is the
// home, the second the runtime folder.
constexpr const char* kHomeRecord = LWDCTL_HOME_RECORD;

// Without LINEWARDEN_HOME, the installed service's home and runtime folder
// (unless LINEWARDEN_RUNTIME names another). Answers where the home came
// from.
std::string UseInstalledHome() {
  const char* home = std::getenv("LINEWARDEN_HOME");
  if (home != nullptr && *home != '\0') return "LINEWARDEN_HOME";
  std::ifstream in(kHomeRecord);
  std::string installed, runtime;
  if (!std::getline(in, installed) || installed.empty())
    return "the folder of lwdctl (no LINEWARDEN_HOME, no installed service)";
  setenv("LINEWARDEN_HOME", installed.c_str(), 1);
  const char* rt = std::getenv("LINEWARDEN_RUNTIME");
  if (std::getline(in, runtime) && !runtime.empty() &&
      (rt == nullptr || *rt == '\0'))
    setenv("LINEWARDEN_RUNTIME", runtime.c_str(), 1);
  return std::string("the installed service (") + kHomeRecord + ")";
}

int Where(const std::string& source) {
  const std::string home = lw::ResolveAppPath();
  const std::string store = lw::ResolveRegistryPath(home);
  struct stat st {};
  std::printf("home:     %s (from %s)\n", home.c_str(), source.c_str());
  std::printf("settings: %s%s\n", store.c_str(),
              ::stat(store.c_str(), &st) == 0 ? "" : " (not made yet)");
  std::printf("runtime:  %s\n", lw::ResolveRuntimeDir().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    Usage(args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::string cmd = args[0];
  if (cmd == "--version") {
    std::printf("lwdctl (%s)\n", std::string(lw::kAppTitle).c_str());
    return 0;
  }
  const std::string home_source = UseInstalledHome();
  const lwdctl::Args rest(args.begin() + 1, args.end());
  if (cmd == "reg") {
    // Root working on the service's home hears whose store it is.
    const std::string note =
        lw::StoreOwnerNote(lw::ResolveRegistryPath(lw::ResolveAppPath()));
    if (!note.empty()) std::fprintf(stderr, "lwdctl: %s\n", note.c_str());
    return lwdctl::RunReg(rest);
  }
  if (cmd == "send") return lwdctl::RunSend(rest);
  if (cmd == "listen") return lwdctl::RunListen(rest);
  if (cmd == "phone") return lwdctl::RunPhone(rest);
  if (cmd == "contacts") return lwdctl::RunContacts(rest);
  if (cmd == "devices") return lwdctl::RunDevices(rest);
  if (cmd == "greeting") return lwdctl::RunGreeting(rest);
  if (cmd == "calls") return lwdctl::RunCalls(rest);
  if (cmd == "where") return Where(home_source);
  std::fprintf(stderr, "lwdctl: unknown command '%s'\n", args[0].c_str());
  Usage(stderr);
  return 2;
}
