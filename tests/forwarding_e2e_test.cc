// Passing calls on, in the real process on the simulated line: mail to a
// real SMTP server (aiosmtpd on loopback), the mail request on channel 111,
// and the owner's program started with the caller's details.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "e2e_util.h"

namespace lw::testing {
namespace {

class ForwardingE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    DemoSettings(env_);
    mkdir((env_.home() + "/Greets").c_str(), 0755);
    WriteTone(env_.home() + "/Greets/Greeting.wav", 600, 1.0);
    WriteTone(env_.home() + "/Beep.wav", 1000, 0.3);
    // The translation, whose line 7 the "MAIL" messages carry.
    std::filesystem::copy(std::string(LW_SOURCE_DIR) + "/demo/Trans",
                          env_.home() + "/Trans");
    Set("Forward\\Mail", "txtMailTo", "owner@example.org");
    Set("MailForward\\Details", "txtFromMail", "line@example.org");
    Set("MailForward\\Details", "txtSubject", "<CALL_TYPE> from <CALLER_NAME>");
    Set("MailForward\\Details", "txtMessage", "Number <CALLER_NUMBER>");
  }
  void TearDown() override { EndProgram(&proc_); }
  void Set(const std::string& section, const std::string& name,
           const std::string& value) {
    SetSetting(env_, section, name, value);
  }
  void Start() { ASSERT_TRUE(StartProcess(env_, &proc_)); }
  // Starts `lwdctl listen` on `channels`; its JSON lines go to the file
  // returned.
  std::string Listen(const std::vector<std::string>& channels) {
    const std::string out = env_.home() + "/listen.txt";
    std::vector<std::string> args = {"listen"};
    args.insert(args.end(), channels.begin(), channels.end());
    args.insert(args.end(), {"--timeout", "30"});
    listener_ = env_.Spawn("lwdctl", args, {}, out);
    EXPECT_TRUE(WaitFor([&] {
      return FilesIn(env_.runtime() + "/ch" + channels[0], "").size() >= 1;
    }));
    return out;
  }
  void StopListening() {
    if (listener_ <= 0) return;
    kill(listener_, SIGINT);
    int status = 0;
    WaitExit(listener_, &status);
    listener_ = -1;
  }
  void Phone(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"phone", "call"};
    all.insert(all.end(), args.begin(), args.end());
    std::string out;
    EXPECT_EQ(env_.Run("lwdctl", all, &out), 0) << out;
  }

  ProgramEnv env_;
  pid_t proc_ = -1;
  pid_t listener_ = -1;
};

TEST_F(ForwardingE2E, MessageArrivesByMailWithItsRecording) {
  // Given mail for voice messages to aiosmtpd, expect the message left on
  // the line to arrive with the filled subject and text and the recording
  // of the day folder byte for byte; "MAIL" progress, "LineStatus" and the
  // completion journal line follow.
  SmtpSink sink;
  Set("Forward\\Mail", "chkSendToMail", "1");
  Set("Forward\\Mail", "cmbActMail", "1");
  Set("MailForward\\SMTP", "txtSMTP", sink.server());
  Start();
  const std::string listened = Listen({"107"});
  const std::string message = env_.home() + "/message.wav";
  WriteTone(message, 440, 3.0);
  Phone({"--name", "TESTCALLER", "--number", "5551234", "--rings", "4",
         "--ring-interval", "0.5", "--play", message, "--play-after", "2.5"});
  ASSERT_TRUE(sink.WaitMail(1));
  const auto wavs = FilesIn(Today(env_.home()), ".wav");
  ASSERT_EQ(wavs.size(), 1u);
  EXPECT_EQ(sink.Part(1, "rcpt_tos"), "owner@example.org");
  EXPECT_EQ(sink.Part(1, "subject"), "Voice Message from TESTCALLER");
  EXPECT_EQ(sink.Part(1, "text"), "Number 5 5 5 1 2 3 4 ");
  EXPECT_EQ(sink.Part(1, "attachment_name"),
            std::filesystem::path(wavs[0]).filename().string());
  const std::string recording = ReadFile(wavs[0]);
  EXPECT_GT(recording.size(), 20000u);
  EXPECT_TRUE(sink.Part(1, "attachment") == recording);
  ASSERT_TRUE(WaitFor([&] {
    return env_.SysJournal().find(
               "Sent the call details to owner@example.org complete") !=
           std::string::npos;
  }));
  ASSERT_TRUE(WaitFor([&] {
    return ReadFile(listened).find("LineStatus") != std::string::npos;
  }));
  StopListening();
  const std::string msgs = ReadFile(listened);
  const size_t done = msgs.find("\"MAIL\\r\\n0\\r\\nSending mail: 100 %\"");
  EXPECT_NE(done, std::string::npos) << msgs;
  EXPECT_LT(done, msgs.find("\"LineStatus\\r\\n0\\r\\n0\\r\\nFalse\""));
}

TEST_F(ForwardingE2E, MailRequestOnChannel111WithoutRecording) {
  // Given MAPI chosen and every call mailed, expect a call nobody answered
  // to go out as one request on 111 ending in "NOFILE", and no SMTP.
  Set("Forward\\Mail", "chkSendToMail", "1");
  Set("Forward\\Mail", "cmbActMail", "0");
  Set("MailForward\\SMTP", "MAPI", "1");
  Set("Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "0");
  Start();
  const std::string listened = Listen({"111"});
  Phone({"--name", "TESTCALLER", "--number", "42", "--rings", "1",
         "--ring-interval", "0.5"});
  ASSERT_TRUE(WaitFor(
      [&] { return ReadFile(listened).find("NOFILE") != std::string::npos; }));
  StopListening();
  EXPECT_EQ(ReadFile(listened),
            "{\"channel\":111,\"text\":\"SendMail\\u0014owner@example.org"
            "\\u0014Incoming Call from TESTCALLER\\u0014Number 4 2 "
            "\\u0014NOFILE\"}\n");
}

TEST_F(ForwardingE2E, CallerNameWithShellSyntaxReachesTheProgramAsText) {
  // Given program forwarding to a script with "<CALLER_NAME>", expect a
  // caller named "$(touch pwned); rm -rf ~" to reach the script as one
  // argument, literally, with nothing run and no zombie left.
  const std::string script = env_.home() + "/on-call.sh";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|' \"$@\" >> \"$0.log\"\n";
  chmod(script.c_str(), 0755);
  Set("Forward\\App", "chkApp", "1");
  Set("Forward\\App", "cmbActApp", "0");
  Set("Forward\\App", "txtAppTo", "'" + script + "' <CALLER_NAME> <CALL_TYPE>");
  Start();
  const std::string name = "$(touch pwned); rm -rf ~";
  Phone({"--name", name, "--number", "5551234", "--rings", "1",
         "--ring-interval", "0.5"});
  ASSERT_TRUE(WaitFor([&] { return !ReadFile(script + ".log").empty(); }));
  EXPECT_EQ(ReadFile(script + ".log"), name + "|Incoming Call|");
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_FALSE(std::filesystem::exists(env_.home() + "/pwned"));
  EXPECT_TRUE(std::filesystem::exists(env_.home() + "/Journal"));
  // The process's children: none left once the reaper has run.
  EXPECT_TRUE(WaitFor([&] {
    return ReadFile("/proc/" + std::to_string(proc_) + "/task/" +
                    std::to_string(proc_) + "/children")
        .empty();
  }));
}

}  // namespace
}  // namespace lw::testing
