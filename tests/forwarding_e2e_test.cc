// Passing calls on, in the real process on the simulated line: mail to a
// real SMTP server (aiosmtpd on loopback), the mail request on channel 111,
// the owner's program started with the caller's details, and webhook
// requests to real HTTP servers (python's http.server on loopback).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "e2e_util.h"

namespace lw::testing {
namespace {

class ForwardingE2E : public LineE2E {
 protected:
  void Prepare() override {
    // The translation, whose line 7 the "MAIL" messages carry.
    std::filesystem::copy(LW_SOURCE_DIR "/demo/Trans", env_.home() + "/Trans");
    env_.Set("Forward\\Mail", "txtMailTo", "owner@example.org");
    env_.Set("Forward\\Mail", "chkSendToMail", "1");
    env_.Set("Forward\\Mail", "cmbActMail", "1");
    env_.Set("MailForward\\SMTP", "txtSMTP", sink_.server());
    env_.Set("MailForward\\SMTP", "txtSMTPUserName", "owner");
    env_.Set("MailForward\\SMTP", "txtSMTPPass", "s3cret");
    env_.Set("MailForward\\Details", "txtFromMail", "line@example.org");
    env_.Set("MailForward\\Details", "txtSubject",
             "<CALL_TYPE> from <CALLER_NAME>");
    env_.Set("MailForward\\Details", "txtMessage", "Number <CALLER_NUMBER>");
    env_.Set("Forward\\Outbox", "txtOutboxRetrySeconds", "0.5");
    WriteTone(env_.home() + "/voice.wav", 440, 3.0);
    std::ofstream(script_)
        << "#!/bin/sh\nprintf '%s|' \"$@\" >> \"$0.log\"\n"
           "echo \"output of $1\"\necho \"error of $1\" >&2\n";
    std::filesystem::permissions(script_, std::filesystem::perms::owner_all);
    env_.Set("Forward\\App", "chkApp", "1");
    env_.Set("Forward\\App", "cmbActApp", "0");
    env_.Set("Forward\\App", "txtAppTo",
             "'" + script_ + "' <CALLER_NAME> <CALL_TYPE>");
  }

  SmtpSink sink_{{"--auth", "owner:s3cret"}};
  const std::string script_ = env_.home() + "/on-call.sh";
};

TEST_F(ForwardingE2E, MessageByMailAndProgramThenAMailRequestOn111) {
  // given mail for voice messages to aiosmtpd (with a login) and every
  // call to a script, expect a message from a caller named
  // "$(touch pwned); rm -rf ~" to arrive by mail with the filled subject and
  // text and the recording byte for byte ("MAIL" progress before
  // "LineStatus"), the name to reach the script as one argument with nothing
  // run and no zombie left; then, with MAPI chosen, a call nobody answered
  // to go out as one request on 111 ending in "NOFILE", and no SMTP; the
  // script's standard output and error are the process's only once
  // "chkBGAPP" is set
  const std::string name = "$(touch pwned); rm -rf ~";
  Listener listener(env_, {"107"});
  Phone({"call", "--name", name, "--number", "5551234", "--rings", "4",
         "--ring-interval", "0.5", "--play", env_.home() + "/voice.wav",
         "--play-after", "2.5"});
  ASSERT_TRUE(sink_.WaitMail(1));
  const auto wavs = FilesIn(env_.Today(), ".wav");
  ASSERT_EQ(wavs.size(), 1u);
  EXPECT_EQ(sink_.Part(1, "rcpt_tos"), "owner@example.org");
  EXPECT_EQ(sink_.Part(1, "subject"), "Voice Message from " + name);
  EXPECT_EQ(sink_.Part(1, "text"), "Number 5 5 5 1 2 3 4 ");
  EXPECT_EQ(sink_.Part(1, "attachment_name"),
            std::filesystem::path(wavs[0]).filename().string());
  EXPECT_GT(ReadFile(wavs[0]).size(), 20000u);
  EXPECT_TRUE(sink_.Part(1, "attachment") == ReadFile(wavs[0]));
  ASSERT_TRUE(WaitFor([&] {
    return env_.Journalled(
        "Sent the call details to owner@example.org complete");
  }));
  ASSERT_TRUE(listener.WaitText("LineStatus"));
  const std::string msgs = listener.Stop();
  const size_t done = msgs.find("\"MAIL\\r\\n0\\r\\nSending mail: 100 %\"");
  EXPECT_NE(done, std::string::npos) << msgs;
  EXPECT_LT(done, msgs.find("\"LineStatus\\r\\n0\\r\\n0\\r\\nFalse\""));

  ASSERT_TRUE(WaitFor([&] { return !ReadFile(script_ + ".log").empty(); }));
  EXPECT_EQ(ReadFile(script_ + ".log"), name + "|Voice Message|");
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_FALSE(std::filesystem::exists(env_.home() + "/pwned"));
  EXPECT_TRUE(std::filesystem::exists(env_.home() + "/Journal"));
  // The process's children: none left once the reaper has run.
  const std::string children = "/proc/" + std::to_string(proc_) + "/task/" +
                               std::to_string(proc_) + "/children";
  EXPECT_TRUE(WaitFor([&] { return ReadFile(children).empty(); }));
  EXPECT_EQ(ReadFile(env_.home() + "/out.txt").find(" of "), std::string::npos);

  env_.Set("Forward\\Mail", "cmbActMail", "0");
  env_.Set("MailForward\\SMTP", "MAPI", "1");
  env_.Set("Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "0");
  env_.Set("Forward\\App", "chkBGAPP", "1");
  Listener mapi(env_, {"111"});
  Phone({"call", "--name", "TESTCALLER", "--number", "42", "--rings", "1",
         "--ring-interval", "0.5"});
  ASSERT_TRUE(mapi.WaitText("NOFILE"));
  EXPECT_EQ(mapi.Stop(),
            "{\"channel\":111,\"text\":\"SendMail\\u0014owner@example.org"
            "\\u0014Incoming Call from TESTCALLER\\u0014Number 4 2 "
            "\\u0014NOFILE\"}\n");
  EXPECT_FALSE(sink_.Has(2));
  EXPECT_TRUE(WaitFor([&] {
    const std::string out = ReadFile(env_.home() + "/out.txt");
    return out.find("output of TESTCALLER\n") != std::string::npos &&
           out.find("error of TESTCALLER\n") != std::string::npos;
  }));
}

TEST_F(ForwardingE2E,
       MailsWaitInTheOutboxWhileTheServerIsDownAndAcrossARestart) {
  // given the SMTP server down, expect two messages' mails to wait in the
  // outbox (each one's failure journalled once); after a stop, the second
  // recording deleted, a start and the server up, expect each mail exactly
  // once in order: the first with its recording, the second saying that
  // its recording is gone; the outbox then empty
  const std::string port = std::to_string(FreePort());
  env_.Set("MailForward\\SMTP", "txtSMTP", "127.0.0.1:" + port);
  for (const char* name : {"ALICE", "BOB"})
    Phone({"call", "--name", name, "--number", "5551234", "--rings", "4",
           "--ring-interval", "0.5", "--play", env_.home() + "/voice.wav",
           "--play-after", "2.5"});
  const std::string outbox = env_.home() + "/Outbox";
  const std::string failed = "could not be sent (";
  ASSERT_TRUE(WaitFor([&] { return Count(env_.Journal(), failed) == 2; },
                      std::chrono::seconds(30)));
  ASSERT_EQ(FilesIn(outbox, ".json").size(), 2u);
  const auto wavs = FilesIn(env_.Today(), ".wav");
  ASSERT_EQ(wavs.size(), 2u);
  const bool alice_first = wavs[0].find("ALICE") != std::string::npos;
  const std::string& alice = wavs[alice_first ? 0 : 1];
  const std::string& bob = wavs[alice_first ? 1 : 0];

  EndProgram(&proc_);
  std::filesystem::remove(bob);
  ASSERT_TRUE(StartProcess(env_, &proc_, env_.Journal().size()));
  SmtpSink sink({"--auth", "owner:s3cret", "--port", port});
  ASSERT_TRUE(sink.WaitMail(2));
  EXPECT_EQ(sink.Part(1, "subject"), "Voice Message from ALICE");
  EXPECT_TRUE(sink.Part(1, "attachment") == ReadFile(alice));
  EXPECT_EQ(sink.Part(2, "subject"), "Voice Message from BOB");
  EXPECT_EQ(sink.Part(2, "attachment_name"), "");
  const std::string gone = "The recording " +
                           std::filesystem::path(bob).filename().string() +
                           " is not attached: it was deleted or could not be "
                           "read when this mail was sent.";
  EXPECT_EQ(sink.Part(2, "text").find("Number 5 5 5 1 2 3 4 "), 0u);
  EXPECT_NE(sink.Part(2, "text").find(gone), std::string::npos);
  ASSERT_TRUE(WaitFor([&] { return FilesIn(outbox, "").empty(); }));
  EXPECT_EQ(Count(env_.Journal(), failed), 2u);
  EXPECT_EQ(Count(env_.Journal(),
                  "Sent the call details to owner@example.org complete"),
            2u);
  EXPECT_FALSE(sink.Has(3));
}

class WebhookE2E : public LineE2E {
 protected:
  void Prepare() override {
    WriteTone(env_.home() + "/voice.wav", 440, 3.0);
    env_.Set("Forward\\Webhook", "chkWebhook", "1");
    env_.Set("Forward\\Outbox", "txtOutboxRetrySeconds", "0.5");
    env_.Set("Forward\\Webhook", "cmbActWebhook", "1");
    env_.Set("Forward\\Webhook", "txtWebhookURL",
             "http://" + ok_.server() + "/calls?token=q-secret");
    env_.Set("Forward\\Webhook", "txtWebhookHeaders",
             "Title: New call\nnot a header\r\nAuthorization: Bearer h-secret");
    env_.Set("RemoteAccess\\TabInternetAccess", "txtWWWListen", "127.0.0.1");
    env_.Set("RemoteAccess\\TabInternetAccess", "txtWWWPort",
             std::to_string(web_port_));
  }
  // A caller nobody answers, sent to `url` by every rule.
  void MissedCallTo(const std::string& url) {
    env_.Set("Forward\\Webhook", "txtWebhookURL", url);
    Phone({"call", "--number", "42", "--rings", "1", "--ring-interval", "0.5"});
  }

  HttpSink ok_;
  const int web_port_ = FreePort();
};

TEST_F(WebhookE2E, MessageArrivesAsJsonOthersByTheRuleFailuresWaitInTheOutbox) {
  // given the webhook for messages with a title and a bearer header (and one
  // malformed line), expect a message to arrive as one JSON POST with the
  // headers, its fields and its recording's URL on the web interface, the
  // bad line journalled and no secret in the journal; then a missed call
  // to send nothing; an HTTPS server with a self-signed certificate to be
  // refused
  Phone({"call", "--name", "Ann", "--number", "5551234", "--rings", "4",
         "--ring-interval", "0.5", "--play", env_.home() + "/voice.wav",
         "--play-after", "2.5"});
  ASSERT_TRUE(ok_.Wait(1));
  EXPECT_EQ(ok_.Part(1, "request"), "POST /calls?token=q-secret HTTP/1.1");
  const std::string headers = ok_.Part(1, "headers");
  EXPECT_NE(headers.find("Title: New call\n"), std::string::npos) << headers;
  EXPECT_NE(headers.find("Authorization: Bearer h-secret\n"),
            std::string::npos);
  EXPECT_NE(headers.find("Content-Type: application/json\n"),
            std::string::npos);
  const auto body = nlohmann::json::parse(ok_.Part(1, "body"));
  EXPECT_EQ(body["type"], "message");
  EXPECT_EQ(body["name"], "Ann");
  EXPECT_EQ(body["number"], "5551234");
  EXPECT_EQ(body["contact"], "");
  EXPECT_TRUE(std::regex_match(
      body["time"].get<std::string>(),
      std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
      << body;
  EXPECT_GE(body["length"], 2);
  EXPECT_EQ(body["new"], true);
  const std::string id = body["id"];
  EXPECT_TRUE(std::regex_match(id, std::regex(R"(\d{8}-1)"))) << id;
  EXPECT_EQ(body["recording"], "http://127.0.0.1:" + std::to_string(web_port_) +
                                   "/api/calls/" + id + "/recording");
  ASSERT_TRUE(WaitFor([&] {
    return env_.Journalled("Sent the call details to 127.0.0.1 complete");
  }));
  EXPECT_TRUE(
      env_.Journalled("txtWebhookHeaders line 2 is not a header \"Name: "
                      "value\"; it is left out"));

  env_.Set("Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "0");
  MissedCallTo("http://" + ok_.server() + "/calls");
  env_.Set("Forward\\Webhook", "cmbActWebhook", "0");

  // by every rule, a server answering 500: the request waits in the
  // outbox, the failure journalled once; across a stop and a start with
  // the server gone, it arrives once a server is up on its port
  const std::string outbox = env_.home() + "/Outbox";
  auto failing =
      std::make_unique<HttpSink>(std::vector<std::string>{"--status", "500"});
  const std::string port = failing->server().substr(10);
  MissedCallTo("http://" + failing->server() + "/calls");
  ASSERT_TRUE(failing->Wait(1));
  EXPECT_EQ(nlohmann::json::parse(failing->Part(1, "body"))["type"], "missed");
  const std::string failed =
      "could not be sent (The server answered HTTP 500); it is tried again";
  ASSERT_TRUE(WaitFor([&] { return env_.Journalled(failed); }));
  EXPECT_EQ(FilesIn(outbox, ".json").size(), 1u);
  failing.reset();
  EndProgram(&proc_);
  ASSERT_TRUE(StartProcess(env_, &proc_, env_.Journal().size()));
  HttpSink back({"--port", port});
  ASSERT_TRUE(back.Wait(1));
  EXPECT_EQ(nlohmann::json::parse(back.Part(1, "body"))["type"], "missed");
  ASSERT_TRUE(WaitFor([&] { return FilesIn(outbox, "").empty(); }));
  EXPECT_EQ(Count(env_.Journal(), failed), 1u);
  EXPECT_FALSE(back.Has(2));
  EXPECT_FALSE(ok_.Has(2));

  // a server answering 400 refuses the request: given up at once, never
  // tried again; the next call's request (below) goes without waiting
  HttpSink refusing({"--status", "400"});
  MissedCallTo("http://" + refusing.server() + "/calls");
  ASSERT_TRUE(WaitFor([&] {
    return env_.Journalled(
        "was given up: the server refused it (The server answered HTTP 400)");
  }));
  EXPECT_TRUE(FilesIn(outbox, "").empty());
  EXPECT_FALSE(refusing.Has(2));

  const std::string key = env_.home() + "/key.pem";
  const std::string cert = env_.home() + "/cert.pem";
  ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt "
                         "ec_paramgen_curve:prime256v1 -nodes -days 1 -subj "
                         "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 "
                         "-keyout " +
                         key + " -out " + cert + " 2>/dev/null")
                            .c_str()),
            0);
  HttpSink tls({"--tls", cert, key});
  MissedCallTo("https://" + tls.server() + "/calls");
  ASSERT_TRUE(
      WaitFor([&] { return env_.Journalled("could not be sent (SSL"); }));
  EXPECT_FALSE(tls.Has(1));
  EXPECT_FALSE(env_.Journalled("secret"));
}

}  // namespace
}  // namespace lw::testing
