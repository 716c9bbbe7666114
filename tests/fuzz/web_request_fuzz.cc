// Feeds arbitrary bytes to the web server's request side: the reader's test
// for a whole request and the dispatch of the request (path, authorization,
// routes, the pages and the options form). The first byte switches
// protection and the HTTP headers. Nothing may crash, and a file reply may
// only name a file below "\WWW\" or "\Data\Log\" once resolved, never the
// settings store (a file named registry.db lies beside them).
#include "devices/memory_settings_store.h"
#include "fuzz_home.h"
#include "web/dispatch.h"
#include "web/request.h"

using lw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzHome app(
      {"Data/Log/2005/03/15", "WWW", "Journal", "Answer"});
  static lw::FakeClock clock(lw::LocalDateTime{2005, 3, 15, 10, 15, 30, 2});
  static lw::MemorySettingsStore store;
  static lw::Journal journal(clock, app.path());
  static bool once = [] {
    app.Write("WWW/logo.gif", "GIF89a");
    app.Write("registry.db", "private");
    app.Write("Journal/03-15-2005_Sys.txt", "line\r\n");
    app.Write("Data/Last", "1:\\Data\\Log\\2005\\03\\15\\\r\n");
    lw::RegistryRoutines reg(store);
    reg.CreateKey("Answer\\TabAnsweringMachine");
    reg.CreateKey("Answer\\TabCallsRecord");
    return true;
  }();
  (void)once;
  if (size == 0) return 0;

  int32_t port = 80, allow = 1, protect = data[0] & 1, view_calls = 1;
  std::string user = "owner", pass = "secret", view_log = "1";
  lw::WebDispatcher dispatcher(
      clock, store, journal, app.path(),
      lw::WebOptions{port, allow, protect, user, pass, view_calls, view_log},
      (data[0] & 2) != 0);
  const std::string request = lw::fuzz::Text(data + 1, size - 1);
  lw::RequestComplete(request);
  const lw::WebReply reply = dispatcher.Handle(request);
  if (reply.kind == lw::WebReply::kFile) {
    // The path as the file system resolves it, without following links: a
    // name that merely contains "registry.db" below "\Data\Log\" is fine.
    const std::string path =
        std::filesystem::path(reply.body).lexically_normal().string();
    Check(path.rfind(app.path() + "/WWW/", 0) == 0 ||
          path.rfind(app.path() + "/Data/Log/", 0) == 0);
  }
  return 0;
}
