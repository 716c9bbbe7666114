// lwdctl: the command-line companion of the process. It plays the desktop
// application (settings, message channels) and the far end of the simulated
// line.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "service/paths.h"

namespace {

void Usage(FILE* out) {
  std::fputs(
      "usage: lwdctl COMMAND [ARGS]\n"
      "commands:\n"
      "  reg       read and write the settings store\n"
      "  send      send a message on a channel\n"
      "  listen    print the messages of channels\n"
      "  phone     play the far end of the simulated line\n"
      "  contacts  list and add entries of the contact file\n"
      "  devices   list the line devices with their modes and serial ports\n"
      "Run 'lwdctl COMMAND --help' for the arguments of a command.\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    Usage(args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::string cmd = args[0];
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
  std::fprintf(stderr, "lwdctl: unknown command '%s'\n", args[0].c_str());
  Usage(stderr);
  return 2;
}
