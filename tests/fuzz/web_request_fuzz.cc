// Feeds arbitrary bytes to the web server's request side: the reader's test
// for a whole request and the dispatch of the request (path, authorization,
// routes, the pages and the options form, the owner's JSON interface and
// its call identities, which name each call by one text only). The first
// byte switches
// protection and the HTTP headers. Nothing may crash, and a file reply may
// only name a file below "\WWW\" or "\Data\Log\" once resolved, never the
// settings store (a file named registry.db lies beside them). Every JSON
// answer parses, and a call record of any bytes gives an object whose texts
// read back as the stored ones, bytes that are not UTF-8 replaced as the
// JSON library replaces them.
#include <cstring>
#include <nlohmann/json.hpp>

#include "callstore/call_record.h"
#include "devices/memory_settings_store.h"
#include "fuzz_home.h"
#include "web/calls_api.h"
#include "web/dispatch.h"
#include "web/request.h"

using lw::fuzz::Check;
using Json = nlohmann::json;

namespace {

// `text` as the JSON library writes it (U+FFFD for bytes that are not
// UTF-8), read back.
std::string AsJsonReads(std::string_view text) {
  return Json::parse(Json(std::string(text))
                         .dump(-1, ' ', false, Json::error_handler_t::replace))
      .get<std::string>();
}

void CheckCallJson(const uint8_t* data, size_t size) {
  lw::web::CallView call;
  // Each byte the sum of two input bytes, so that plain text makes bytes
  // above 0x7F too.
  for (size_t i = 0; i < std::min(size, lw::CallRecord::kSize); ++i)
    call.record.bytes()[i] = static_cast<char>(data[i] + data[i / 2]);
  call.id = "20050315-1";
  call.contact = std::string(call.record.description, 64);
  const Json object = Json::parse(lw::web::CallJson(call), nullptr, false);
  Check(object.is_object() && object.size() == 9);
  Check(object["name"] == AsJsonReads(lw::FieldText(call.record.caller_name)));
  Check(object["number"] ==
        AsJsonReads(lw::FieldText(call.record.caller_number)));
  Check(object["contact"] == AsJsonReads(call.contact));
}

}  // namespace

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
    // A message whose caller name tries to leave the day folder.
    lw::CallRecord call{};
    std::memset(&call, ' ', sizeof call);
    lw::PutField(call.call_type, "2");
    lw::PutField(call.caller_name, "../../registry.db");
    lw::PutField(call.date, "03/15/2005");
    lw::PutField(call.time, "10:15:30");
    app.Write("Data/Log/2005/03/15/Data",
              std::string(call.bytes(), sizeof call));
    lw::RegistryRoutines reg(store);
    reg.CreateKey("Answer\\TabAnsweringMachine");
    reg.CreateKey("Answer\\TabCallsRecord");
    return true;
  }();
  (void)once;
  if (size == 0) return 0;
  CheckCallJson(data, size);
  // Deletes and the calls page change the list: every input starts afresh.
  app.Write("Data/Last", "1:\\Data\\Log\\2005\\03\\15\\\r\n");

  int32_t port = 80, allow = 1, protect = data[0] & 1, view_calls = 1;
  std::string user = "owner", pass = "secret", view_log = "1";
  lw::WebDispatcher dispatcher(
      clock, store, journal, app.path(),
      lw::WebOptions{port, allow, protect, user, pass, view_calls, view_log},
      (data[0] & 2) != 0);
  const std::string request = lw::fuzz::Text(data + 1, size - 1);
  Check(lw::RequestLength(request) <= request.size());
  const lw::WebReply reply = dispatcher.Handle(request);
  if (const auto app = lw::web::AppRequestOf(request)) {
    const std::string_view path = app->path;
    const std::string id(path.substr(std::min(path.size(), size_t{11}), 20));
    std::string folder;
    int64_t number = 0;
    if (lw::web::ParseCallId(id, folder, number))
      Check(lw::web::CallId(folder, number) == id);
    Check(reply.kind != lw::WebReply::kFile);
    const size_t body = reply.body.find("\r\n\r\n");
    if (reply.body.find("application/json") < body)
      Check(!Json::parse(reply.body.substr(body + 4), nullptr, false)
                 .is_discarded());
  }
  if (reply.kind == lw::WebReply::kFile ||
      reply.kind == lw::WebReply::kRecording) {
    // The path as the file system resolves it, without following links: a
    // name that merely contains "registry.db" below "\Data\Log\" is fine.
    const std::string path =
        std::filesystem::path(reply.body).lexically_normal().string();
    Check(path.rfind(app.path() + "/WWW/", 0) == 0 ||
          path.rfind(app.path() + "/Data/Log/", 0) == 0);
  }
  return 0;
}
