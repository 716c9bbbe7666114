// The translation file under "\Trans\" is chosen by a setting and written by
// whoever translated the desktop application: any bytes must load. Each
// entry read is one line without its line break, read in order from the
// first, and the entries the file does not reach keep what they held.
#include "controller/process_controller.h"
#include "fuzz_home.h"

using lw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzProcess p({"Trans"});
  static lw::frmMain controller(p.fake.devices(), p.store, p.journal,
                                p.home.path(), lw::ProcessHooks{});
  const std::string bytes = lw::fuzz::Text(data, size);
  p.home.Write("Trans/Fuzz", bytes);
  // A value no line of a file can read as.
  const std::string unread = "\r\n";
  lw::ProcessState& state = controller.state();
  for (std::string& text : state.TransText) text = unread;
  controller.LoadTranslation(p.home.path() + "/Trans/Fuzz");

  std::string unbroken;
  for (char c : bytes)
    if (c != '\r' && c != '\n') unbroken += c;
  std::string joined;
  bool reached_end = false;
  for (int entry = 1; entry <= lw::kTransTextCount; ++entry) {
    const std::string& text = state.TransText[entry];
    reached_end = reached_end || text == unread;
    if (text == unread) continue;
    Check(!reached_end && text.find_first_of("\r\n") == std::string::npos);
    joined += text;
  }
  // The file without its line breaks starts with the entries read.
  Check(unbroken.compare(0, joined.size(), joined) == 0);
  // An empty file reads nothing; any other file reads at least entry 1.
  Check((size == 0) == (state.TransText[1] == unread));
  Check(state.TransText[0] == unread);
  return 0;
}
