// The translation file under "\Trans\" is chosen by a setting and written by
// whoever translated the desktop application: any bytes must load. Each
// entry read is one line without its line break, read in order, and the
// entries the file does not reach keep what they held.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "controller/process_controller.h"
#include "devices/fake/fake_devices.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "fuzz_home.h"
#include "journal/journal.h"

namespace {

// A value no line of a file can read as.
const std::string kUnread = "\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzHome home({"Trans"});
  static lw::FakeDevices fake;
  static lw::SqliteSettingsStore store(":memory:");
  static lw::Journal journal(fake.clock(), home.path());
  static lw::frmMain controller(fake.devices(), store, journal, home.path(),
                                lw::ProcessHooks{});
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  home.Write("Trans/Fuzz", bytes);

  lw::ProcessState& state = controller.state();
  for (std::string& text : state.TransText) text = kUnread;
  controller.LoadTranslation(home.path() + "/Trans/Fuzz");

  // The file without its line breaks starts with the entries read, in order.
  std::string unbroken;
  for (char c : bytes)
    if (c != '\r' && c != '\n') unbroken += c;
  std::string joined;
  bool reached_end = false;
  for (int entry = 1; entry <= lw::kTransTextCount; ++entry) {
    const std::string& text = state.TransText[entry];
    if (text == kUnread) {
      reached_end = true;
      continue;
    }
    // Entries are read from the first on; none after an unread one.
    if (reached_end || text.find_first_of("\r\n") != std::string::npos)
      std::abort();
    joined += text;
  }
  if (unbroken.compare(0, joined.size(), joined) != 0) std::abort();
  // An empty file reads nothing; any other file reads at least entry 1.
  if ((size == 0) != (state.TransText[1] == kUnread)) std::abort();
  if (state.TransText[0] != kUnread) std::abort();
  return 0;
}
