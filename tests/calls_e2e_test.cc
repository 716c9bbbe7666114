// Whole calls on the simulated line: the real process with the demo
// settings (answering machine at the second ring), `lwdctl phone` as the far
// end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "e2e_util.h"

namespace lw::testing {
namespace {

struct CallCase {
  const char* name;
  std::vector<std::vector<std::string>> settings;  // section, name, value
  std::vector<std::string> contact;  // `lwdctl contacts add` arguments
  const char* caller;                // --name, --number
  const char* number;
  const char* call;  // further `phone call` options; VOICE is voice.wav
  int voice_hz;      // the tone of voice.wav (20 s)
  int answered;      // after this many rings; 0: any, -1: not answered
  const char* hung_up_by;
  const char* types;       // the stored types, one call each
  size_t wavs;             // recordings in the day folder
  std::vector<int> heard;  // tones in the caller's ear
  int recorded;            // tone in the last call's recording, or 0
};

void PrintTo(const CallCase& c, std::ostream* os) { *os << c.name; }

const std::string kLongName(250, 'N');

const std::vector<std::string> kNoMachine = {"Answer\\TabAnsweringMachine",
                                             "chkRunAnsIfNotAnswered", "0"};

class MailedE2E : public LineE2E {
 protected:
  void Prepare() override {
    // Every call mailed, to see which mails carry their recording.
    env_.Set("Forward\\Mail", "chkSendToMail", "1");
    env_.Set("Forward\\Mail", "cmbActMail", "0");
    env_.Set("Forward\\Mail", "txtMailTo", "owner@example.org");
    env_.Set("MailForward\\Details", "txtFromMail", "line@example.org");
    env_.Set("MailForward\\SMTP", "txtSMTP", sink_.server());
  }
  SmtpSink sink_;
};

class CallsE2E : public MailedE2E,
                 public ::testing::WithParamInterface<CallCase> {};

TEST_P(CallsE2E, CallIsAnsweredStoredAndRecordedAsSet) {
  // given the settings and contact of the case and a caller, expect the
  // far end to see the answer and the hang-up of the case, the calls
  // stored with their types, the caller's identification and recordings,
  // and each call mailed, with its recording only when it kept one
  const CallCase& c = GetParam();
  for (const auto& s : c.settings) env_.Set(s[0], s[1], s[2]);
  if (!c.contact.empty()) {
    std::vector<std::string> add = {"contacts", "add"};
    add.insert(add.end(), c.contact.begin(), c.contact.end());
    ASSERT_EQ(env_.Run("lwdctl", add), 0);
  }
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, c.voice_hz, 20);
  WriteTone(env_.home() + "/Greets/Own.wav", 700, 1.0);  // a contact's own
  const std::string heard = env_.home() + "/heard.wav";
  std::vector<std::string> args = {"call",     "--name",    c.caller,
                                   "--number", c.number,    "--ring-interval",
                                   "0.5",      "--capture", heard};
  std::istringstream more(c.call);
  for (std::string word; more >> word;)
    args.push_back(word == "VOICE" ? voice : word);
  const size_t calls = std::string(c.types).size();
  std::string out;
  for (size_t i = 1; i <= calls; ++i) {
    out = Phone(args);
    ASSERT_TRUE(env_.WaitRecords(i)) << out;
  }

  const std::string answered =
      c.answered > 0 ? "{\"event\":\"answered\",\"after_rings\":" +
                           std::to_string(c.answered) + "}"
                     : "\"answered\"";
  EXPECT_EQ(out.find(answered) != std::string::npos, c.answered >= 0) << out;
  EXPECT_THAT(out, HasSubstr(std::string("{\"event\":\"hangup\",\"by\":\"") +
                             c.hung_up_by + "\"}"));
  const auto records = env_.Records();
  ASSERT_EQ(records.size(), calls);
  // A caller without identification (empty name and number: no frame
  // reaches the line) is stored as "UNKNOWN".
  const auto stored = [](const char* s) { return *s ? s : "UNKNOWN"; };
  for (size_t i = 0; i < calls; ++i) {
    EXPECT_EQ(FieldText(records[i].call_type), std::string(1, c.types[i]));
    EXPECT_EQ(FieldText(records[i].caller_name),
              std::string(stored(c.caller)).substr(0, 32));
    EXPECT_EQ(FieldText(records[i].caller_number), stored(c.number));
  }
  EXPECT_EQ(FilesIn(env_.Today(), ".wav").size(), c.wavs);
  if (c.recorded != 0) {
    EXPECT_TRUE(
        HasTone(ReadSamples(env_.RecordingOf(records.back())), c.recorded));
  }
  for (size_t i = 0; i < calls; ++i) {
    ASSERT_TRUE(sink_.WaitMail(static_cast<int>(i + 1)));
    const std::string mailed =
        sink_.Part(static_cast<int>(i + 1), "attachment");
    if (c.types[i] == '2' || c.types[i] == '3') {
      EXPECT_FALSE(mailed.empty()) << i;
      EXPECT_TRUE(mailed == ReadFile(env_.RecordingOf(records[i]))) << i;
    } else {
      EXPECT_EQ(mailed, "") << i;
    }
  }
  const auto ear = ReadSamples(heard);
  for (int hz : c.heard) EXPECT_TRUE(HasTone(ear, hz)) << hz << " Hz heard";
  // The note of a call in progress goes once the call is stored.
  EXPECT_TRUE(WaitFor([&] { return FilesIn(env_.Today(), ".call").empty(); }));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Calls, CallsE2E, ::testing::Values(
    CallCase{"Message", {}, {}, "TESTCALLER", "5551234",
             "--rings 4 --play VOICE --play-after 2.5 --hangup-after 6", 440, 2, "caller", "2", 1, {600, 1000}, 440},
    CallCase{"NameLongerThanAFileName", {}, {}, kLongName.c_str(), "5551234",
             "--rings 4 --play VOICE --play-after 2.5 --hangup-after 6", 440, 2, "caller", "2", 1, {}, 440},
    CallCase{"ShortMessageCountsAsNone", {}, {}, "QUICK", "5552222",
             "--rings 4 --hangup-after 2", 440, 2, "caller", "0", 1, {}, 0},
    CallCase{"MessageLengthLimit", {{"Answer\\TabAnsweringMachine", "txtRecLong", "0.05"}}, {}, "LONG", "5554444",
             "--rings 4 --play VOICE --hangup-after 25", 440, 2, "line", "2", 1, {}, 440},
    CallCase{"SilentCaller", {{"Answer\\TabDisconnectMode", "txtSilenceSec", "3"}}, {}, "QUIET", "5555555",
             "--rings 4 --hangup-after 25", 440, 2, "line", "2", 1, {}, 0},
    // The line takes a picked-up call when the rings have stopped for 7 s;
    // the talk starts after that.
    CallCase{"ExtensionPickUpWithLegalNotice", {kNoMachine, {"Answer\\TabCallsRecord", "chkLegalRecMSG", "1"},
             {"Answer\\TabCallsRecord", "cmbLegalRecMSG", "Notice"}}, {}, "TALKER", "5553333",
             "--rings 6 --pickup-after-ring 1 --play VOICE --play-after 8.5 --hangup-after 12", 500, 0, "caller", "3", 1, {800}, 500},
    CallCase{"EveryNthCallRecorded", {kNoMachine, {"Answer\\TabCallsRecord", "cmbRecWhen", "1"},
             {"Answer\\TabCallsRecord", "lblNumOfCallToRec", "2"}}, {}, "TALKER", "5553333",
             "--rings 6 --pickup-after-ring 1 --hangup-after 9", 500, 0, "caller", "03", 1, {}, 0},
    CallCase{"IgnoredContactRingsOut", {}, {"Night", "5559999", "--ignore"}, "NIGHT", "5559999",
             "--rings 4", 440, -1, "caller", "0", 0, {}, 0},
    // No contact names the number; a pattern blocks it.
    CallCase{"PatternContactIsDropped", {}, {"Premium", "0900*", "--block"}, "PREMIUM", "09001234567",
             "--rings 8", 440, 0, "line", "0", 0, {}, 0},
    CallCase{"WithheldCallerHearsTheContactsGreeting", {}, {"Hidden", "WITHHELD", "--greeting", "Own"},
             "HIDDEN", "WITHHELD", "--withhold-number --rings 4 --play VOICE --play-after 2.5 --hangup-after 6",
             440, 2, "caller", "2", 1, {700, 1000}, 440},
    // No identification by the answer at the first ring: the caller is the
    // UNKNOWN contact.
    CallCase{"UnidentifiedCallerAnsweredAtOnceHearsTheContactsGreeting", {{"Answer\\TabAnsweringMachine", "txtNumOfRing", "1"}},
             {"Nobody", "UNKNOWN", "--greeting", "Own"}, "", "", "--rings 4 --play VOICE --play-after 2.5 --hangup-after 6",
             440, 1, "caller", "2", 1, {700, 1000}, 440}),
    [](const ::testing::TestParamInfo<CallCase>& info) { return std::string(info.param.name); });
// clang-format on

class RemoteAccessE2E : public LineE2E {};

TEST_F(RemoteAccessE2E, OwnerTypesTheCodeHearsTheMessageAndDeletesIt) {
  // given one 440 Hz message in the list and the owner typing "1234#"
  // during a 3 s greeting, expect speech and then the message in the
  // owner's ear, the delete key (7) emptying the list and the line hanging
  // up after the empty welcome; the owner's call stored but not listed
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 3);
  Phone({"call", "--ring-interval", "0.5", "--play", voice, "--play-after",
         "2.5", "--hangup-after", "6"});
  WriteTone(env_.home() + "/Greets/Greeting.wav", 600, 3.0);
  const std::string heard = env_.home() + "/heard.wav";
  // Welcome, before text, 2 s pause and the message take about 16 s; the
  // delete key falls into the after text.
  const std::string out =
      Phone({"call", "--ring-interval", "0.5", "--digits", "1234#", "--key",
             "7@22", "--hangup-after", "50", "--capture", heard});
  EXPECT_THAT(out, HasSubstr("{\"event\":\"hangup\",\"by\":\"line\"}"));
  ASSERT_TRUE(env_.WaitRecords(2)) << out;
  EXPECT_EQ(ReadFile(env_.home() + "/Data/Last"), "");
  EXPECT_EQ(Count(env_.Journal(), "Tapi_MonitorDigit(0):"), 6u);
  // The message begins 0.7 s into its recording, played 2 s after the
  // before text: the second before that pause is speech.
  const auto ear = ReadSamples(heard);
  const size_t message = ToneAt(ear, 440);
  ASSERT_TRUE(message != std::string::npos && message > 30000) << message;
  EXPECT_GT(LastSecondLevel({ear.begin(), ear.begin() + message - 21600}), 500);
}

TEST_F(RemoteAccessE2E, UnplayableMessageEndsAtTheLengthLimit) {
  // given a listed message whose recording is gone and an owner who never
  // hangs up, expect the line to hang up once the message length (6 s) has
  // passed after the before text, long before the owner would
  env_.Set("Answer\\TabAnsweringMachine", "txtRecLong", "0.1");
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 3);
  Phone({"call", "--ring-interval", "0.5", "--play", voice, "--play-after",
         "2.5", "--hangup-after", "6"});
  ASSERT_TRUE(env_.WaitRecords(1));
  ASSERT_TRUE(
      WaitFor([&] { return ReadFile(env_.home() + "/Data/Last") != ""; }));
  for (const std::string& wave : FilesIn(env_.Today(), ".wav"))
    std::filesystem::remove(wave);
  const std::string out = Phone({"call", "--ring-interval", "0.5", "--digits",
                                 "1234#", "--hangup-after", "90"});
  EXPECT_THAT(out, HasSubstr("{\"event\":\"hangup\",\"by\":\"line\"}"));
}

class DialE2E : public MailedE2E {};

TEST_F(DialE2E, OnlyDialableNumbersAreDialledAndRecordedCallsStored) {
  // given "CallOut" with a line feed in its number and "CallOutRec" with a
  // separator, expect one journal line each and no dialling; a dialable
  // "CallOutRec" after them is dialled once, stored as type "4" and mailed
  // without its recording
  env_.Set("Answer\\TabDisconnectMode", "txtListRecMoreThen", "0");
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "CallOut", "555\n1234"}), 0);
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "CallOutRec", "555-1234"}), 0);
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 700, 3.0);
  const std::string answer = env_.home() + "/answer.txt";
  pid_t far = env_.Spawn("lwdctl",
                         {"phone", "answer", "--after", "0.5", "--play", voice,
                          "--hangup-after", "4"},
                         {}, answer);
  ASSERT_TRUE(WaitFor(
      [&] { return ReadFile(answer).find("waiting") != std::string::npos; }));
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "CallOutRec", "+49,5554444#"}),
            0);
  int status = 0;
  ASSERT_TRUE(WaitExit(far, &status, std::chrono::seconds(20)));
  ASSERT_TRUE(env_.WaitRecords(1));
  EXPECT_EQ(FieldText(env_.Records()[0].call_type), "4");
  EXPECT_TRUE(HasTone(ReadSamples(env_.RecordingOf(env_.Records()[0])), 700));
  ASSERT_TRUE(sink_.WaitMail(1));
  EXPECT_EQ(sink_.Part(1, "attachment_name"), "");

  const std::string journal = env_.Journal();
  EXPECT_THAT(journal, HasSubstr("udiIn_MessageArrived->CallOut refused: "
                                 "\"555\\x0A1234\" is not a number to dial"));
  EXPECT_THAT(journal, HasSubstr("udiIn_MessageArrived->CallOutRec refused: "
                                 "\"555-1234\""));
  EXPECT_EQ(Count(journal, "Tapi.MakeCall("), 1u) << journal;
}

TEST_F(DialE2E, GreetingNamedInUtf8IsSpokenAndPlayed) {
  // given "Grüße" set as the greeting and Greets\Grüße.wav spoken by
  // "MakeWave" (a relative path), expect greeting and beep each played at
  // the first try (a missing file is journalled as a failure)
  const std::string greeting =
      "Gr\xc3\xbc\xc3\x9f"
      "e";
  env_.Set("Answer\\TabAnsweringMachine", "CmbGreetsMessages", greeting);
  ASSERT_EQ(env_.Run("lwdctl", {"send", "106", "MakeWave", "Hello",
                                "Greets\\" + greeting + ".wav"}),
            0);
  const std::string wav = env_.home() + "/Greets/" + greeting + ".wav";
  ASSERT_TRUE(WaitFor([&] { return ReadFile(wav).size() > 1000; }));
  SF_INFO info{};
  ReadSamples(wav, &info);
  EXPECT_EQ(info.samplerate, 8000);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  const std::string out =
      Phone({"call", "--number", "5551234", "--rings", "4", "--ring-interval",
             "0.5", "--hangup-after", "3"});
  EXPECT_THAT(out, HasSubstr("{\"event\":\"hangup\",\"by\":\"caller\"}"));
  ASSERT_TRUE(WaitFor([&] { return env_.Journalled("Tapi_Idle("); }));
  const std::string journal = env_.Journal();
  EXPECT_EQ(Count(journal, "PlayToLine:Wave1.StartPlayACM->"), 2u) << journal;
  EXPECT_EQ(Count(journal, "PlayToLine:Wave1.StartPlayACM->Success(0)"), 2u);
}

// The process starts in telephony mode; the test switches modes with "Tapi"
// and a bare "ON", as the owner does.
class ModemE2E : public LineE2E {
 protected:
  void Prepare() override {
    std::ofstream(env_.home() + "/AT_Commands_Scenario.txt")
        << "' caller ID on\r\nATZ\r\nAT+VCID=1\r\n";
  }
  void SwitchTo(const char* tapi) {
    env_.Set("Properties\\TabDevices\\CallerID", "Tapi", tapi);
    ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "ON"}), 0);
  }
  // The terminal of the modem's port, as `lwdctl devices` lists it.
  std::string ModemTty() {
    std::string devices;
    EXPECT_EQ(env_.Run("lwdctl", {"devices"}, &devices), 0);
    std::smatch m;
    std::regex_search(devices, m, std::regex("/dev/pts/[0-9]+"));
    return m.str();
  }
};

TEST_F(ModemE2E, CallerIdentifiedByTheModemLeavesAMessage) {
  // given a switch to serial caller-ID mode by "ON" and a scenario of two
  // commands, expect both sent and acknowledged, the modem's port listed, and a
  // caller whose name and number the modem reports on 109 as "Comm_CID" (a
  // line feed in the name and a NUL in the number shown as "?"), answered
  // by the answering machine after the hand-over, the message stored in the
  // day file and the latest-call list, and the modem back on its port; a
  // switch back by "ON" opens the line in telephony mode
  SwitchTo("0");
  ASSERT_TRUE(WaitFor([&] {
    return env_.Journalled("ProcessEvent->AT COMMAND:AT+VCID=1:OK(0)");
  }));
  const std::string journal = env_.Journal();
  EXPECT_LT(journal.find("CommConnect->AT COMMAND:ATZ(0)"),
            journal.find("CommConnect->Success open comm port100(0)"));
  std::string devices;
  ASSERT_EQ(env_.Run("lwdctl", {"devices"}, &devices), 0);
  EXPECT_THAT(devices, ::testing::ContainsRegex(
                           "0 +Linewarden Simulated Line +100 +/dev/pts/[0-9]+ "
                           "+modem"));

  Listener listener(env_, {"109"});
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 5);
  const std::string out =
      Phone({"call", "--name", "J\xc3\xb6rg\nDOE", "--modem-line",
             "NMBR = 555\\x001234", "--ring-interval", "1", "--play", voice});
  EXPECT_THAT(out, HasSubstr("{\"event\":\"answered\""));
  ASSERT_TRUE(env_.WaitRecords(1)) << out;
  EXPECT_THAT(listener.Stop(),
              HasSubstr("Comm_CID\\r\\n0\\r\\nJ\xc3\xb6rg?DOE\\r\\n555?1234"));
  const CallRecord record = env_.Records().at(0);
  EXPECT_EQ(FieldText(record.call_type), "2");
  EXPECT_EQ(FieldText(record.caller_name), "J\xc3\xb6rg?DOE");
  EXPECT_EQ(FieldText(record.caller_number), "555?1234");
  // The latest-call list follows the day file.
  EXPECT_TRUE(WaitFor([&] {
    return ReadFile(env_.home() + "/Data/Last").find(":\\Data\\Log\\") !=
           std::string::npos;
  }));
  EXPECT_TRUE(WaitFor(
      [&] { return Count(env_.Journal(), "AT COMMAND:AT+VCID=1:OK") == 2; }));
  // The telephony control's first ring goes on from the modem's two.
  EXPECT_THAT(env_.Journal(), HasSubstr("->Tapi_Ring(0):3(0)"));

  Listener back(env_, {"107", "109"});
  SwitchTo("1");
  ASSERT_TRUE(back.WaitText("LineStatus\\r\\n0\\r\\n0"));
  Phone({"call", "--name", "ANN", "--number", "5559876", "--rings", "4",
         "--ring-interval", "0.5", "--hangup-after", "2"});
  ASSERT_TRUE(env_.WaitRecords(2));
  EXPECT_THAT(back.Stop(), HasSubstr("Tapi_CID\\r\\n0\\r\\nANN\\r\\n5559876"));
  EXPECT_EQ(FieldText(env_.Records().at(1).caller_name), "ANN");
}

TEST_F(ModemE2E, PortHeldElsewhereClosesTheLineUntilItIsFree) {
  // given auto mode in serial caller-ID mode while another program holds the
  // modem's port, expect the line reported closed, not reopened, the failure
  // journalled once, and the line open again once the port is free
  const int held = open(ModemTty().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  Listener listener(env_, {"107"});
  SwitchTo("0");
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "AUTO", "0:00", "23:59:59"}), 0);
  ASSERT_TRUE(listener.WaitText("LineStatus\\r\\n0\\r\\n1\\r\\nFalse"));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(Count(env_.Journal(), "OpenLine:Tapi1.LineOpen(0)->"), 2u);
  EXPECT_EQ(Count(env_.Journal(), "The modem's port 100 cannot be opened"), 1u);
  close(held);
  EXPECT_TRUE(listener.WaitText("LineStatus\\r\\n0\\r\\n0\\r\\nTrue"));
  EXPECT_TRUE(env_.Journalled("The modem's port 100 is open again"));
}

class DescriptorsE2E : public LineE2E {};

TEST_F(DescriptorsE2E, CallAfterListenersFilledTheLimitIsStored) {
  // given the process held to a few descriptors above its count, filled by
  // listeners that then leave, expect the next call stored and the journal
  // to say once that descriptors ran out
#ifdef __SANITIZE_ADDRESS__
  // The sanitizers' runtime needs descriptors of its own (the check of an
  // object's type opens a pipe), so at the limit it reports errors that are
  // its own; the plain build runs this test.
  GTEST_SKIP() << "not under the sanitizers: their runtime needs descriptors";
#endif
  const std::string fds = "/proc/" + std::to_string(proc_) + "/fd";
  const rlim_t held = FilesIn(fds).size() + 4;
  const rlimit limit{held, held};
  ASSERT_EQ(prlimit(proc_, RLIMIT_NOFILE, &limit, nullptr), 0);
  {
    Listener listeners(env_, std::vector<std::string>(12, "107"));
    ASSERT_TRUE(WaitFor(
        [&] { return FilesIn(env_.runtime() + "/ch107").size() > 12; }));
    ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "HELLO"}), 0);
    ASSERT_TRUE(
        WaitFor([&] { return FilesIn(fds).size() + 1 >= limit.rlim_cur; }));
  }
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 5);
  const std::string out =
      Phone({"call", "--number", "5551234", "--ring-interval", "0.5", "--play",
             voice, "--play-after", "2.5", "--hangup-after", "6"});
  ASSERT_TRUE(env_.WaitRecords(1)) << out;
  EXPECT_TRUE(HasTone(ReadSamples(env_.RecordingOf(env_.Records()[0])), 440));
  EXPECT_EQ(Count(env_.Journal(), "->out of file descriptors (sockets "), 1u);
}

}  // namespace
}  // namespace lw::testing
