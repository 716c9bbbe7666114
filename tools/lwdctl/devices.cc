// lwdctl devices: the line devices of the running process, with the serial
// port of each device's modem and the terminal that port number names, and
// the mode the line runs in on the device the settings choose.
#include <cstdio>
#include <sstream>
#include <string>

#include "callstore/file_io.h"
#include "commands.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "service/paths.h"
#include "settings/registry_routines.h"

namespace lwdctl {
namespace {

constexpr const char* kDevicesHelp =
    "usage: lwdctl devices\n"
    "Lists the line devices of the running process, one a line:\n"
    "  INDEX  NAME  PORT  TERMINAL  MODE\n"
    "PORT is the serial port number of the device's modem (the number the\n"
    "device reports for its serial port; \"-\" when it has none) and TERMINAL\n"
    "the terminal device that number names: the simulated line's\n"
    "pseudo-terminal, or the /dev/ttyACMn or /dev/ttySn of a real modem. MODE\n"
    "is shown for the device the line opens (\"cmbModemDev\" under\n"
    "Properties\\TabDevices, else device 0): \"telephony\" when \"Tapi\" "
    "under\n"
    "Properties\\TabDevices\\CallerID is \"1\", else \"modem\" (rings and "
    "caller\n"
    "identification read from the modem's serial port); \"-\" for the others.\n"
    "The runtime folder is LINEWARDEN_RUNTIME, else "
    "$XDG_RUNTIME_DIR/linewarden,\n"
    "else /run/linewarden.\n"
    "A SIP line's registration state follows the list.\n"
    "Exit status: 0 listed, 1 no running process, 2 bad arguments.\n";

std::string Setting(lw::RegistryRoutines& reg, const char* section,
                    const char* name) {
  reg.SetSubkey(section);
  return lw::RegValueText(reg.GetRegistryValue(name));
}

}  // namespace

int RunDevices(const Args& args) {
  if (!args.empty()) {
    const bool help = args[0] == "--help" || args[0] == "-h";
    std::fputs(kDevicesHelp, help ? stdout : stderr);
    return help ? 0 : 2;
  }
  const std::string path = lw::ResolveRuntimeDir() + "/lines";
  std::string lines;
  if (!lw::ReadWholeFile(path, lines) || lines.empty()) {
    std::fprintf(stderr,
                 "lwdctl devices: no list of lines at %s: is linewarden-proc "
                 "running?\n",
                 path.c_str());
    return 1;
  }
  // Read only: a missing store reads as empty settings and is not made.
  lw::SqliteSettingsStore store(lw::ResolveRegistryPath(lw::ResolveAppPath()),
                                {.read_only = true});
  lw::RegistryRoutines reg(store);
  const std::string chosen =
      Setting(reg, "Properties\\TabDevices", "cmbModemDev");
  const bool telephony =
      Setting(reg, "Properties\\TabDevices\\CallerID", "Tapi") == "1";

  // The line opens the last device of the chosen name, else device 0.
  std::istringstream in(lines);
  std::string index, name, port, tty, opened = "0";
  while (std::getline(in, index, '\t') && std::getline(in, name, '\t') &&
         std::getline(in, port, '\t') && std::getline(in, tty)) {
    if (!chosen.empty() && name == chosen) opened = index;
  }
  std::printf("%-6s %-32s %-5s %-20s %s\n", "INDEX", "NAME", "PORT", "TERMINAL",
              "MODE");
  in.clear();
  in.str(lines);
  while (std::getline(in, index, '\t') && std::getline(in, name, '\t') &&
         std::getline(in, port, '\t') && std::getline(in, tty)) {
    const char* mode = index != opened ? "-"
                       : telephony     ? "telephony"
                                       : "modem";
    std::printf("%-6s %-32s %-5s %-20s %s\n", index.c_str(), name.c_str(),
                port == "-1" ? "-" : port.c_str(),
                tty.empty() ? "-" : tty.c_str(), mode);
  }
  // A SIP line's registration state, as the line last told it.
  std::string sip;
  if (lw::ReadWholeFile(lw::ResolveRuntimeDir() + "/sip-line", sip)) {
    const size_t tab = sip.find('\t');
    if (tab != std::string::npos)
      std::printf("\n%s: %s", sip.substr(0, tab).c_str(),
                  sip.substr(tab + 1).c_str());
  }
  return 0;
}

}  // namespace lwdctl
