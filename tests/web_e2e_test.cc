// The web server of the real process, asked with raw requests on loopback:
// the pages, the routes that must stay inside their folders, protection, and
// clients that misbehave.
#include <ifaddrs.h>
#include <poll.h>

#include <cstring>
#include <optional>

#include "callstore/test_util.h"
#include "e2e_util.h"

namespace lw::testing {
namespace {

using ::testing::AllOf;
using ::testing::Optional;
using ::testing::StartsWith;

constexpr const char* kWeb = "RemoteAccess\\TabInternetAccess";
constexpr const char* kTop =
    "<html>\r\n<head><meta http-equiv=\"Content-Language\" "
    "content=\"en-us\">\r\n<style> body { font-size:10pt }</style>\r\n"
    "<style>tr { font-size:10pt }</style></head>\r\n<body>\r\n";
constexpr const char* kBottom =
    "\r\n<br><br><font face=\"Arial\" size=\"1\">Linewarden 1.0</font>\r\n"
    "</html>";

// What arrives until the server closes; nullopt when it does not close
// within `wait_ms`.
std::optional<std::string> ReadAll(int fd, int wait_ms = 5000) {
  std::string out;
  char buf[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return std::nullopt;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return out;
    out.append(buf, static_cast<size_t>(n));
  }
}

std::optional<std::string> Ask(int port, const std::string& request,
                               int wait_ms = 5000) {
  const int fd = Connect(port);
  if (fd < 0) return std::nullopt;
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  auto answer = ReadAll(fd, wait_ms);
  close(fd);
  return answer;
}

std::string Get(int port, const std::string& path) {
  return Ask(port, "GET " + path + " HTTP/1.0\r\n\r\n").value_or("<no answer>");
}

// A stored call of 15 March 2005 10:15:30 without caller identification.
std::string Record(const char* type, const char* name = "UNKNOWN") {
  const CallRecord r = MakeRecord(name, "UNKNOWN", "03/15/2005", type);
  return std::string(r.bytes(), sizeof r);
}

class WebE2E : public ::testing::Test {
 protected:
  void Start(const std::vector<std::pair<std::string, std::string>>& web = {}) {
    DemoSettings(env_);
    port_ = FreePort();
    env_.Set(kWeb, "txtWWWPort", std::to_string(port_));
    env_.Set(kWeb, "chkWWWHttpHeaders", "0");
    for (const auto& [name, value] : web) env_.Set(kWeb, name, value);
    ASSERT_TRUE(StartProcess(env_, &proc_));
  }
  void TearDown() override { EndProgram(&proc_); }
  std::string Setting(const std::string& section, const std::string& name) {
    std::string out;
    env_.Run("lwdctl", {"reg", "get", section, name}, &out);
    return out.substr(0, out.find('\n'));
  }
  void Write(const std::string& rel, const std::string& bytes) {
    WriteFile(env_.home() + "/" + rel, bytes);
  }
  ProgramEnv env_;
  pid_t proc_ = -1;
  int port_ = 0;
};

TEST_F(WebE2E, PagesAndTheFilesOfTheirFoldersOnly) {
  // Given three listed calls whose middle record cannot be read, journal
  // files of three days and a recording, expect the pages of the raw
  // protocol (no status line), the list rewritten without the bad line,
  // the recording's bytes, delete by position, the chooser oldest first; files
  // of "\WWW\" served by any path ending in their name, and nothing outside the
  // folders.
  const std::string day = "\\Data\\Log\\2005\\03\\15\\";
  Write("Data/Log/2005/03/15/Data", Record("3") + Record("0", "A&B <x>"));
  Write("WWW/logo.gif", "GIF89a-logo");
  Write("Data/secret.txt", "secret");
  WriteContacts(env_.home(),
                {MakeContact("Uncle <Bob>", "UNKNOWN", "UNKNOWN")});
  Write("Data/Last", "1:" + day + "\r\n7:" + day + "\r\n2:" + day + "\r\n");
  std::string sound(2500, '\0');
  for (size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<char>(i * 7);
  Write("Data/Log/2005/03/15/UNKNOWN_UNKNOWN_03-15-2005_10-15-30.wav", sound);
  for (const char* name :
       {"12-01-2026_WWW.txt", "11-30-2026_Sys.txt", "12-01-2026_Sys.txt",
        "11-30-2026_WWW.txt", "notes.txt"})
    Write(std::string("Journal/") + name, std::string(name) + " line\n");
  Start();

  std::string page = Get(port_, "/");
  EXPECT_EQ(page.rfind(kTop, 0), 0u) << page.substr(0, 200);
  EXPECT_EQ(page.substr(page.size() - strlen(kBottom)), kBottom);
  EXPECT_THAT(page, HasSubstr("| 3 Calls"));
  EXPECT_EQ(Count(page, ">Delete<"), 2);
  EXPECT_THAT(page, HasSubstr("<a href=\"/del?call=2\">"));
  EXPECT_THAT(page,
              HasSubstr("<a href=\"messages\\Data\\Log\\2005\\03\\15\\UNKNOWN_"
                        "UNKNOWN_03-15-2005_10-15-30.wav\">Record In</a>"));
  EXPECT_THAT(page, HasSubstr(">....<"));
  // Row colours count the shown rows only.
  EXPECT_LT(page.find("bgcolor=\"#ffffff\""), page.find("bgcolor=\"#EAEFF2\""));
  EXPECT_EQ(Count(page, "<td bgcolor=\"#ffffff\""), 7);
  EXPECT_THAT(page, HasSubstr("A&amp;B &lt;x&gt;"));
  EXPECT_EQ(Count(page, ">Uncle &lt;Bob&gt;<"), 1);
  EXPECT_EQ(ReadFile(env_.home() + "/Data/Last"),
            "1:" + day + "\r\n2:" + day + "\r\n");
  // The path is lowercased; the list now holds the two good lines.
  page = Get(port_, "/Calls");
  EXPECT_THAT(page, HasSubstr("| 2 Calls"));
  EXPECT_EQ(Count(page, ">Delete<"), 2);

  // The browser sends the link's backslashes as slashes.
  EXPECT_EQ(Get(port_,
                "/messages/Data/Log/2005/03/15/"
                "UNKNOWN_UNKNOWN_03-15-2005_10-15-30.wav"),
            sound);

  page = Get(port_, "/del?call=1");
  EXPECT_EQ(Count(page, ">Delete<"), 1);
  EXPECT_THAT(page, Not(HasSubstr(kBottom)));
  EXPECT_EQ(ReadFile(env_.home() + "/Data/Last"), "2:" + day + "\r\n");
  Get(port_, "/del?call=x");
  EXPECT_EQ(ReadFile(env_.home() + "/Data/Last"), "2:" + day + "\r\n");

  page = Get(port_, "/Journal");
  const size_t notes = page.find("<option>notes.txt</option>");
  const size_t a = page.find("<option>11-30-2026_Sys.txt</option>");
  const size_t b = page.find("<option>11-30-2026_WWW.txt</option>");
  const size_t c = page.find("<option>12-01-2026_Sys.txt</option>");
  ASSERT_NE(c, std::string::npos) << page;
  EXPECT_TRUE(notes < a && a < b && b < c) << page;
  EXPECT_THAT(page, HasSubstr("<textarea rows=\"27\" cols=\"72\"></textarea>"));
  page = Get(port_, "/Journal?dt=12-01-2026_Sys.txt");
  EXPECT_THAT(page, HasSubstr("<option selected>12-01-2026_Sys.txt</option>"));
  EXPECT_THAT(page,
              HasSubstr("cols=\"72\">12-01-2026_Sys.txt line\r\n</textarea>"));

  // Every request is in the web journal, as it came.
  EXPECT_THAT(env_.Journal("WWW"), HasSubstr("GET /del?call=x HTTP/1.0"));
  EXPECT_THAT(env_.Journal("WWW"), HasSubstr("errDataArrival:"));

  // Files are served from "\WWW\" by any path ending in their name;
  // paths that point elsewhere are answered "Internal Error" (the journal
  // selector: an empty box).
  EXPECT_EQ(Get(port_, "/logo.gif"), "GIF89a-logo");
  EXPECT_EQ(Get(port_, "/a/b/LOGO.GIF"), "GIF89a-logo");
  EXPECT_EQ(Get(port_, "/missing.gif"), "Internal Error\r\n");
  for (const char* path :
       {"/../registry.db", "/..%2fregistry.db", "/..\\registry.db",
        "/messages/../registry.db", "/messages/data/log/../../registry.db",
        "/messages/data/log/%2e%2e/%2E%2E/secret.txt",
        "/messages/data/secret.txt", "/messages//etc/passwd"}) {
    EXPECT_EQ(Get(port_, path), "Internal Error\r\n") << path;
  }
  for (const char* selector :
       {"../registry.db", "..%2fregistry.db", "*", "%2e%2e%2fregistry.db"}) {
    const std::string page = Get(port_, std::string("/journal?dt=") + selector);
    EXPECT_THAT(page, HasSubstr("cols=\"72\"></textarea>")) << selector;
  }
}

TEST_F(WebE2E, BadClientsLeaveTheServerServing) {
  // Given clients that send nothing, junk, HEAD, endless or split requests,
  // leave in the middle of a download, or take every slot, expect "Internal
  // Error" or a clean close, and the server answering the next request each
  // time.
  Write("WWW/big.bin", std::string(8 << 20, 'x'));
  Start();
  EXPECT_EQ(Ask(port_, "HEAD / HTTP/1.0\r\n\r\n", 500), std::nullopt);
  EXPECT_EQ(Ask(port_, std::string("\0\xff\x01garbage\r\n\r\n", 14), 500),
            std::nullopt);
  EXPECT_EQ(Ask(port_, std::string(100000, 'A')), "") << "closed unanswered";
  EXPECT_EQ(Ask(port_, "GET /x HTTP/1.0\r\nAuthorization: Basic %%%\r\n" +
                           std::string(60000, 'h') + "\r\n\r\n"),
            "Internal Error\r\n");

  {  // One request in three packets.
    const int fd = Connect(port_);
    send(fd, "GE", 2, 0);
    usleep(20000);
    send(fd, "T /miss", 7, 0);
    usleep(20000);
    send(fd, "ing HTTP/1.0\r\n\r\n", 16, 0);
    EXPECT_EQ(ReadAll(fd), "Internal Error\r\n");
    close(fd);
  }
  {  // A download left after its first bytes.
    const int fd = Connect(port_);
    const std::string req = "GET /big.bin HTTP/1.0\r\n\r\n";
    send(fd, req.data(), req.size(), 0);
    char buf[1024];
    EXPECT_GT(recv(fd, buf, sizeof buf, 0), 0);
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd);
  }
  EXPECT_EQ(Get(port_, "/big.bin").size(), size_t{8 << 20});

  // Every slot taken by a silent client: the next one waits in the queue
  // and is answered once a slot is free.
  std::vector<int> idle;
  idle.reserve(256);
  for (int i = 0; i < 256; ++i) idle.push_back(Connect(port_));
  usleep(300000);
  const int late = Connect(port_);
  const std::string req = "GET /missing HTTP/1.0\r\n\r\n";
  send(late, req.data(), req.size(), 0);
  EXPECT_EQ(ReadAll(late, 500), std::nullopt) << "not accepted yet";
  close(idle.back());
  idle.pop_back();
  EXPECT_EQ(ReadAll(late), "Internal Error\r\n");
  close(late);
  for (int fd : idle) close(fd);
  EXPECT_NE(Get(port_, "/").find(kBottom), std::string::npos);
  EXPECT_EQ(kill(proc_, 0), 0);
}

TEST_F(WebE2E, ProtectionAndTheControllersCommands) {
  // Given protection on, expect the six refusal lines without the right
  // credential and the page with it; CLOSE_WEB and OPEN_WEB stop and start
  // the server and store the switch.
  Start({{"chkWWWProtect", "1"},
         {"txtWWWUserName", "owner"},
         {"txtWWWPass", "pa:ss"}});
  const std::string denied =
      "HTTP/1.0 401 Access Denied\r\nServer: Statistics Server 5.0\r\n"
      "WWW-Authenticate: Basic realm =\"StatisticsServer\"\r\n"
      "Content-Type: text/html\r\nConnection: Keep-Alive\r\n"
      "Content-Length: 118";
  const std::string good = "b3duZXI6cGE6c3M=";  // owner:pa:ss
  EXPECT_EQ(Get(port_, "/"), denied);
  EXPECT_EQ(
      Ask(port_, "GET / HTTP/1.0\r\nauthorization: Basic " + good + "\r\n\r\n"),
      denied);
  EXPECT_EQ(Ask(port_,
                "GET / HTTP/1.0\r\nAuthorization: Basic "
                "b3duZXI6cGFzcw==\r\n\r\n"),  // owner:pass
            denied);
  EXPECT_EQ(
      Ask(port_, "GET / HTTP/1.0\r\nAuthorization: Basic " + good + "\r\n\r\n")
          .value_or("")
          .rfind(kTop, 0),
      0u);

  ASSERT_EQ(env_.Run("lwdctl", {"send", "105", "CLOSE_WEB"}), 0);
  EXPECT_TRUE(WaitFor([&] { return Connect(port_) < 0; }));
  EXPECT_TRUE(
      WaitFor([&] { return Setting(kWeb, "chkAllowWWWRemoteAccess") == "0"; }));

  env_.Set(kWeb, "chkWWWProtect", "0");
  ASSERT_EQ(env_.Run("lwdctl", {"send", "105", "OPEN_WEB"}), 0);
  EXPECT_TRUE(WaitFor([&] {
    const int fd = Connect(port_);
    if (fd >= 0) close(fd);
    return fd >= 0;
  }));
  EXPECT_TRUE(
      WaitFor([&] { return Setting(kWeb, "chkAllowWWWRemoteAccess") == "1"; }));
  EXPECT_EQ(Get(port_, "/").rfind(kTop, 0), 0u);
}

// A non-loopback IPv4 address of this machine; empty when it has none.
std::string OtherAddress() {
  std::string out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i != nullptr && out.empty(); i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr,
              text, sizeof text);
    if (std::string(text).rfind("127.", 0) != 0) out = text;
  }
  freeifaddrs(list);
  return out;
}

bool Reachable(const std::string& address, int port) {
  sockaddr_in a = LoopbackAddress(port);
  inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

TEST_F(WebE2E, StrangersCannotHoldTheSlotsOrFillTheJournal) {
  // Given 255 clients dripping junk and one kept open idle after its
  // answer, one that drips forever, 200 of 64 KiB junk and a 3 MB journal,
  // expect a new client answered within 2 s in the idle one's slot, the
  // dripper dropped after 10 s, the journal grown by under 1 MB without the
  // credentials, the journal page showing only its end, and a client that
  // half-closes after its request line answered.
  Write("Journal/big_Sys.txt",
        "FIRST\n" + std::string(3 << 20, 'j') + "\nLAST\n");
  Start();
  std::vector<int> drippers;
  for (int i = 0; i < 256; ++i) drippers.push_back(Connect(port_));
  const int idle = drippers.back();
  drippers.pop_back();
  const std::string api = "GET /api/calls HTTP/1.1\r\n\r\n";
  send(idle, api.data(), api.size(), 0);
  pollfd answered{idle, POLLIN, 0};
  char buf[4096];
  EXPECT_EQ(poll(&answered, 1, 2000), 1);
  EXPECT_GT(recv(idle, buf, sizeof buf, 0), 0);
  for (int round = 0; round < 4; ++round, usleep(500000))
    for (int fd : drippers) send(fd, "x", 1, MSG_NOSIGNAL);
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask(port_, "GET /missing HTTP/1.0\r\n\r\n", 2000),
            "Internal Error\r\n");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  EXPECT_EQ(ReadAll(idle, 100), "");
  close(idle);
  for (int fd : drippers) close(fd);

  const int dripper = Connect(port_);
  begin = std::chrono::steady_clock::now();
  const size_t journal = env_.Journal("WWW").size();
  std::vector<int> junk;
  for (int i = 0; i < 200; ++i) junk.push_back(Connect(port_));
  for (int fd : junk) send(fd, std::string(64 << 10, 'J').data(), 64 << 10, 0);
  for (int fd : junk) close(fd);
  Ask(port_, "GET /x HTTP/1.0\r\nAuthorization: Basic c2VjcmV0\r\n\r\n");
  EXPECT_TRUE(
      WaitFor([&] { return Count(env_.Journal("WWW"), "J...") >= 200; }));
  EXPECT_LT(env_.Journal("WWW").size() - journal, size_t{1} << 20);
  EXPECT_THAT(env_.Journal("WWW"), Not(HasSubstr("c2VjcmV0")));
  const std::string page = Get(port_, "/journal?dt=big_Sys.txt");
  EXPECT_THAT(page, AllOf(HasSubstr("LAST"), Not(HasSubstr("FIRST"))));
  EXPECT_LT(page.size(), size_t{11} << 17);

  const int half = Connect(port_);
  send(half, "GET /missing HTTP/1.0\r\n", 23, 0);
  shutdown(half, SHUT_WR);
  EXPECT_EQ(ReadAll(half), "Internal Error\r\n");
  close(half);
  // A byte a second until the server drops it; the drop is seen at once.
  std::optional<std::string> dropped;
  for (int i = 0; i < 15 && !(dropped = ReadAll(dripper, 1000)); ++i)
    send(dripper, "x", 1, MSG_NOSIGNAL);
  EXPECT_EQ(dropped, "");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(12));
  close(dripper);
}

TEST_F(WebE2E, NoLinkToTheStoreNoStrangersWithoutPassword) {
  // Given links to the settings store in the served folders, expect none
  // served and options saved afterwards kept; without a password, expect
  // loopback connections only and Host names of this machine only; options
  // from another site's page refused; "txtWWWListen" or a password opening
  // the server to the network.
  const std::string store = env_.home() + "/registry.db";
  std::filesystem::create_directories(env_.home() + "/WWW");
  std::filesystem::create_directories(env_.home() + "/Data/Log/2005");
  Start();
  std::filesystem::create_symlink(store, env_.home() + "/WWW/store.gif");
  std::filesystem::create_symlink(store, env_.home() + "/Data/Log/2005/a.wav");
  std::filesystem::create_symlink(store, env_.home() + "/Journal/a_Sys.txt");
  std::filesystem::create_hard_link(store, env_.home() + "/WWW/hard.gif");
  EXPECT_EQ(Get(port_, "/store.gif"), "Internal Error\r\n");
  EXPECT_EQ(Get(port_, "/hard.gif"), "Internal Error\r\n");
  EXPECT_EQ(Get(port_, "/messages/data/log/2005/a.wav"), "Internal Error\r\n");
  EXPECT_THAT(Get(port_, "/journal?dt=a_Sys.txt"), HasSubstr("\"72\"></text"));
  const auto options = [&](const std::string& origin, const char* rings) {
    const std::string form = std::string("RunCallRecordWare=Off&") +
                             "RunAnsweringMachine=On&NumOfRings=" + rings +
                             "&GetMessages=Yes";
    Ask(port_, "POST /options HTTP/1.1\r\nHost: 127.0.0.1:" +
                   std::to_string(port_) + "\r\nOrigin: " + origin +
                   "\r\nContent-Length: " + std::to_string(form.size()) +
                   "\r\n\r\n" + form);
  };
  options("http://127.0.0.1:" + std::to_string(port_), "9");
  options("http://evil.example", "3");

  const std::string refused = "HTTP/1.0 403 Forbidden\r\n";
  EXPECT_THAT(Ask(port_, "GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n"),
              Optional(StartsWith(refused)));
  EXPECT_THAT(Ask(port_, "GET / HTTP/1.1\r\nHost: localhost:1\r\n\r\n"),
              Optional(StartsWith(kTop)));
  const std::string other = OtherAddress();
  if (!other.empty()) {
    EXPECT_FALSE(Reachable(other, port_));
    env_.Set(kWeb, "chkWWWProtect", "1");
    env_.Set(kWeb, "txtWWWPass", "pass");
    ASSERT_EQ(env_.Run("lwdctl", {"send", "105", "OPEN_WEB"}), 0);
    EXPECT_TRUE(WaitFor([&] { return Reachable(other, port_); }));
    env_.Set(kWeb, "chkWWWProtect", "0");
    env_.Set(kWeb, "txtWWWListen", other);
    ASSERT_EQ(env_.Run("lwdctl", {"send", "105", "OPEN_WEB"}), 0);
    EXPECT_TRUE(WaitFor([&] { return !Reachable("127.0.0.1", port_); }));
    // The old socket closes before the new one listens.
    EXPECT_TRUE(WaitFor([&] { return Reachable(other, port_); }));
  }
  EndProgram(&proc_);
  EXPECT_EQ(Setting("Answer\\TabAnsweringMachine", "txtNumOfRing"), "9");
}

}  // namespace
}  // namespace lw::testing
