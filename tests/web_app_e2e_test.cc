// The owner's JSON interface of the real process, asked with raw requests on
// loopback: always HTTP/1.1 whatever the old pages send, the list's bytes,
// recordings converted to PCM, changes by identity and only from the same
// origin, and the event stream.
#include <poll.h>

#include <chrono>
#include <tuple>

#include "callstore/test_util.h"
#include "e2e_util.h"

namespace lw::testing {
namespace {

// What arrives on `fd` until the server closes, `until` appears in it, or
// nothing came for 5 s.
std::string ReadUntil(int fd, const std::string& until = {}) {
  std::string got;
  char buf[8192];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 5000) > 0) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
    if (!until.empty() && got.find(until) != std::string::npos) break;
  }
  return got;
}

// Connects and sends `request`; -1 when the server cannot be reached.
int Send(int port, const std::string& request) {
  const int fd = Connect(port);
  if (fd >= 0) send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

TEST(WebAppE2E, CallsByIdentityInHttp11AndTheirEvents) {
  // Given protection on, a request time limit of 2 s, the old pages without
  // headers, a UTF-8 caller's message of 25 frames of GSM 6.10, a blocked
  // contact's call and an outgoing call, expect a silent client dropped
  // after 2 s, HTTP/1.1 answers only, the list's exact JSON, the recording
  // as PCM with the same samples, whole or in byte ranges, changes refused
  // from another site, and heard and delete in the store and on the event
  // stream.
  ProgramEnv env;
  DemoSettings(env);
  const int port = FreePort();
  const char* web = "RemoteAccess\\TabInternetAccess";
  env.Set(web, "txtWWWPort", std::to_string(port));
  env.Set(web, "chkWWWHttpHeaders", "0");
  env.Set(web, "chkWWWProtect", "1");
  env.Set(web, "txtWWWUserName", "owner");
  env.Set(web, "txtWWWPass", "pa:ss");
  env.Set(web, "txtWWWRequestSeconds", "2");
  const std::string day = env.home() + "/Data/Log/2005/03/15/";
  const std::string name = "Zo\u00eb \u00c5ngstr\u00f6m \u738b";
  const auto record = [](const CallRecord& r) {
    return std::string(r.bytes(), sizeof r);
  };
  WriteFile(day + "Data",
            record(MakeRecord(name, "5551234", "03/15/2005", "2")) +
                record(MakeRecord("Spam", "666", "03/15/2005", "0", "1")) +
                record(MakeRecord("", "777", "03/15/2005", "1")));
  WriteContacts(env.home(), {MakeContact("Zo\u00eb", name, "5551234"),
                             MakeContact("No", "", "666")});
  std::string blocks = ReadFile(env.home() + "/Data/Contactes");
  blocks[ContactRecord::kSize + offsetof(ContactRecord, call_handling)] = '2';
  WriteFile(env.home() + "/Data/Contactes", blocks);
  const std::string list =
      "3:\\Data\\Log\\2005\\03\\15\\\r\n2:\\Data\\Log\\2005\\03\\15\\\r\n"
      "1:\\Data\\Log\\2005\\03\\15\\\r\n";
  WriteFile(env.home() + "/Data/Last", list);
  const std::string sound = day + name + "_5551234_03-15-2005_10-15-30.wav";
  SF_INFO info{0, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_GSM610, 0, 0};
  SNDFILE* f = sf_open(sound.c_str(), SFM_WRITE, &info);
  const std::vector<short> tone = Sine(0.5, 440, 0.4);
  sf_write_short(f, tone.data(), static_cast<sf_count_t>(tone.size()));
  sf_close(f);
  pid_t proc = -1;
  ASSERT_TRUE(StartProcess(env, &proc));

  // A client that sends nothing is dropped after the 2 s set, not 10.
  const int silent = Connect(port);
  const auto connected = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadUntil(silent), "");
  EXPECT_LT(std::chrono::steady_clock::now() - connected,
            std::chrono::seconds(4));
  close(silent);

  const std::string auth = "Authorization: Basic b3duZXI6cGE6c3M=\r\n";
  const auto ask = [&](const std::string& line, const std::string& extra = {}) {
    const int fd = Send(
        port, line + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                  "\r\nConnection: close\r\n" + extra + "\r\n");
    std::string answer = ReadUntil(fd);
    close(fd);
    return answer;
  };
  EXPECT_EQ(ask("GET /api/calls").rfind("HTTP/1.1 401 ", 0), 0u);
  const std::string calls = ask("GET /api/calls", auth);
  EXPECT_EQ(
      calls.substr(calls.find("\r\n\r\n") + 4),
      R"([{"id":"20050315-3","type":"outgoing","name":"","number":"777",)"
      R"("contact":"","time":"2005-03-15T10:15:30","length":7,)"
      R"("heard":false,"recording":null},)"
      R"({"id":"20050315-2","type":"blocked","name":"Spam","number":"666",)"
      R"("contact":"No","time":"2005-03-15T10:15:30","length":7,)"
      R"("heard":true,"recording":null},)"
      R"({"id":"20050315-1","type":"message","name":"Zoë Ångström 王",)"
      R"("number":"5551234","contact":"Zoë","time":"2005-03-15T10:15:30",)"
      R"("length":7,"heard":false,)"
      R"("recording":"/api/calls/20050315-1/recording"}])");

  const std::string recording = "GET /api/calls/20050315-1/recording";
  const std::string wav = ask(recording, auth);
  EXPECT_THAT(wav, HasSubstr("Content-Length: 8044\r\nCache"));
  const std::string whole = wav.substr(wav.find("\r\n\r\n") + 4);
  WriteFile(env.home() + "/served.wav", whole);
  // Ranges of the converted file, from inside the head and inside a sample.
  const std::tuple<std::string, size_t, size_t> ranges[] = {
      {"0-49", 0, 49}, {"1001-", 1001, 8043}, {"-3", 8041, 8043}};
  for (const auto& [range, first, last] : ranges) {
    const std::string part =
        ask(recording, auth + "Range: bytes=" + range + "\r\n");
    EXPECT_EQ(part.rfind("HTTP/1.1 206 ", 0), 0u) << range;
    EXPECT_THAT(
        part, HasSubstr("Content-Range: bytes " + std::to_string(first) + "-" +
                        std::to_string(last) + "/8044\r\n"));
    EXPECT_EQ(part.substr(part.find("\r\n\r\n") + 4),
              whole.substr(first, last - first + 1))
        << range;
  }
  EXPECT_THAT(ask(recording, auth + "Range: bytes=8044-\r\n"),
              HasSubstr("416 Range Not Satisfiable\r\nContent-Range: bytes "
                        "*/8044\r\n"));
  SF_INFO served{};
  // The library reads whole blocks of two frames, beyond those recorded.
  std::vector<short> recorded = ReadSamples(sound);
  ASSERT_GT(recorded.size(), 4000u);
  recorded.resize(4000);
  EXPECT_EQ(ReadSamples(env.home() + "/served.wav", &served), recorded);
  EXPECT_EQ(served.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);

  // Stored as plain PCM, the recording goes out as it is stored; requests
  // sent ahead on one kept connection are answered in order, the last one
  // arriving in two parts and closing the connection.
  WriteFile(sound, whole);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  const int kept = Send(port, recording + " HTTP/1.1\r\n" + host + auth +
                                  "Range: bytes=1001-\r\n\r\nGET /api/calls "
                                  "HTTP/1.1\r\n" +
                                  host + auth + "\r\nGET /api");
  const std::string last =
      "/calls HTTP/1.1\r\n" + host + auth + "Connection: close\r\n\r\n";
  send(kept, last.data(), last.size(), MSG_NOSIGNAL);
  const std::string answers = ReadUntil(kept);
  close(kept);
  EXPECT_EQ(answers.rfind("HTTP/1.1 206 ", 0), 0u);
  EXPECT_THAT(answers, HasSubstr("1001-8043/8044\r\nContent-Type: audio/wav"));
  EXPECT_EQ(answers.substr(answers.find("\r\n\r\n") + 4, 7043),
            whole.substr(1001));
  EXPECT_EQ(Count(answers, "Connection: keep-alive\r\n"), 2u);
  EXPECT_EQ(Count(answers, "Connection: close\r\n"), 1u);
  EXPECT_EQ(Count(answers, calls.substr(calls.find("\r\n\r\n") + 4)), 2u);
  // The next request on a kept connection has its own 2 s, however it
  // trickles in.
  const int drip =
      Send(port, "GET /api/calls HTTP/1.1\r\n" + host + auth + "\r\n");
  EXPECT_EQ(ReadUntil(drip, "}]").rfind("HTTP/1.1 200 ", 0), 0u);
  const auto dripping = std::chrono::steady_clock::now();
  const auto since = [&] {
    return std::chrono::steady_clock::now() - dripping;
  };
  while (send(drip, "x", 1, MSG_NOSIGNAL) == 1 &&
         since() < std::chrono::seconds(6))
    usleep(300000);
  EXPECT_LT(since(), std::chrono::seconds(4));
  close(drip);

  const int events = Send(port, "GET /api/events HTTP/1.1\r\n" + auth + "\r\n");
  EXPECT_THAT(ReadUntil(events, "retry:"), HasSubstr("text/event-stream"));
  EXPECT_EQ(ask("POST /api/calls/20050315-1/heard",
                auth + "Origin: http://evil.example\r\n")
                .rfind("HTTP/1.1 403 ", 0),
            0u);
  EXPECT_EQ(ReadFile(day + "Data")[offsetof(CallRecord, read_mark)], '0');
  EXPECT_EQ(
      ask("POST /api/calls/20050315-1/heard",
          auth + "Origin: http://127.0.0.1:" + std::to_string(port) + "\r\n")
          .rfind("HTTP/1.1 200 ", 0),
      0u);
  EXPECT_EQ(ReadFile(day + "Data")[offsetof(CallRecord, read_mark)], '1');
  EXPECT_THAT(ReadUntil(events, "}\n\n"),
              HasSubstr("event: heard\ndata: {\"id\":\"20050315-1\"}"));
  EXPECT_EQ(ask("DELETE /api/calls/20050315-1", auth).rfind("HTTP/1.1 200 ", 0),
            0u);
  EXPECT_EQ(ask("DELETE /api/calls/20050315-1", auth).rfind("HTTP/1.1 404 ", 0),
            0u);
  EXPECT_EQ(ReadFile(env.home() + "/Data/Last"),
            list.substr(0, list.rfind("1:\\")));
  EXPECT_FALSE(std::filesystem::exists(sound));
  EXPECT_EQ(ReadFile(day + "Data").size(), 3 * CallRecord::kSize);
  EXPECT_THAT(ReadUntil(events, "}\n\n"),
              HasSubstr("event: deleted\ndata: {\"id\":\"20050315-1\"}"));
  close(events);
  EndProgram(&proc);
}

}  // namespace
}  // namespace lw::testing
