#include "recording/answering_machine.h"

#include <filesystem>
#include <string>

#include "base/paths.h"
#include "base/trapped.h"
#include "callstore/wave_formats.h"

namespace lw {

namespace {

constexpr const char* kPlaySource = "PlayToLine:Wave1.StartPlayACM";

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

int32_t AdminPlaySizeValue(int16_t format_tag) {
  switch (format_tag) {
    case 1:  // PCM
    case 7:  // mu-law
      return 8000;
    case 49:  // GSM 6.10
      return 1625;
    case 34:  // TrueSpeech
      return 800;
    default:
      return 0;
  }
}

int32_t PlayToAdminWave(CallLine& line, const std::string& file) {
  int32_t result = -1;
  Trapped(line.journal(), "PlayToAdminWave", [&] {
    Wave& wave = line.line_wave();
    WaveFileInfo info;
    wave.GetFileInfo(file, info);
    const int32_t size_value = AdminPlaySizeValue(info.format_tag);
    // Digit reports pause while the owner's last key press dies away.
    line.MonitorDigits(false);
    line.clock().Pause(20);
    line.MonitorDigits(true);
    const int32_t device = line.telephony().GetDeviceID(kDeviceClassWaveOut);
    result = wave.StartPlayACM(file, LineWaveFormat(), device, size_value);
    if (result != 0) {
      line.journal().LogSys(wave.GetPlayErrorText(result), result, kPlaySource);
    }
  });
  return result;
}

void AnsweringMachine::RecordMessage() {
  recorder_.Start(line_.options().message_format);
}

void AnsweringMachine::PlayGreeting() {
  const CallOptions& o = line_.options();
  if (o.allow_remote_access) {
    Trapped(line_.journal(), "ErrTapi1_Connected",
            [&] { line_.MonitorDigitsJournalled(true); });
  }
  const std::string greeting =
      NativePathNoCase(line_.process().AppPath, "\\Greets\\" + o.greeting_file);
  if (line_.PlayToLine(greeting) != 0) {
    line_.DropCall();
    return;
  }
  line_.SendOutWithDevice("PlayGreet");
  NextStep_ = "MESSAGE";
}

void AnsweringMachine::PlayLegalNotice() {
  const std::string notice = NativePathNoCase(
      line_.process().AppPath,
      "\\LegalGreets\\" + line_.options().recording_notice + ".wav");
  if (line_.PlayToLine(notice) != 0) {
    line_.DropCall();
    return;
  }
  line_.SendOutWithDevice("PlayLegalGreet");
}

void AnsweringMachine::PlayDone() {
  if (NextStep_ == "MESSAGE") {
    if (!line_.options().record_message) {
      line_.DropCall();
      return;
    }
    const std::string beep =
        NativePathNoCase(line_.process().AppPath, "\\Beep.wav");
    // A beep that is missing is no error; one that cannot be played is
    // journalled by PlayToLine, and the message is recorded all the same
    // rather than lost.
    if (FileExists(beep) && line_.PlayToLine(beep) == 0) {
      NextStep_ = "BEEP";
    } else {
      RecordMessage();
    }
  } else if (NextStep_ == "BEEP") {
    RecordMessage();
  }
}

}  // namespace lw
