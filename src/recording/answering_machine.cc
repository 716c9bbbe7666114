#include "recording/answering_machine.h"

#include <filesystem>
#include <string>

#include "base/paths.h"
#include "base/trapped.h"
#include "callstore/wave_formats.h"
#include "line/line_messages.h"
#include "recording/call_recording.h"

namespace lw {

namespace {

constexpr const char* kPlaySource = "PlayToLine:Wave1.StartPlayACM";
constexpr int32_t kPromptSizeValue = 800;

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// The voice message is recorded in the answering format.
void RecordMessage(LineState& s) {
  s.RecordFormatIndex = s.Options.nAnsweringFormatRec;
  StartCallRecording(s);
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

int32_t PlayToLine(LineState& s, const std::string& file) {
  int32_t result = -1;
  Trapped(s.journal, "PlayToLine", [&] {
    const int32_t device = s.Tapi1->GetDeviceID(kDeviceClassWaveOut);
    result =
        s.Wave1->StartPlayACM(file, GlobalWaveFormats().formats[kWaveFormatPcm],
                              device, kPromptSizeValue);
    const std::string text = s.Wave1->GetPlayErrorText(result);
    s.journal.LogSys(text, result, kPlaySource);
    if (result != 0) s.journal.LogSys(text, result, kPlaySource);
  });
  return result;
}

int32_t PlayToAdminWave(LineState& s, const std::string& file) {
  int32_t result = -1;
  Trapped(s.journal, "PlayToAdminWave", [&] {
    WaveFileInfo info;
    s.Wave1->GetFileInfo(file, info);
    const int32_t size_value = AdminPlaySizeValue(info.format_tag);
    // Digit reports pause while the owner's last key press dies away.
    s.Tapi1->LineMonitorDigits(false);
    s.devices.clock.Pause(20);
    s.Tapi1->LineMonitorDigits(true);
    const int32_t device = s.Tapi1->GetDeviceID(kDeviceClassWaveOut);
    result = s.Wave1->StartPlayACM(
        file, GlobalWaveFormats().formats[kWaveFormatPcm], device, size_value);
    if (result != 0) {
      s.journal.LogSys(s.Wave1->GetPlayErrorText(result), result, kPlaySource);
    }
  });
  return result;
}

void PlayGreeting(LineState& s) {
  if (s.Options.bAllowRemoteAccess) {
    Trapped(s.journal, "ErrTapi1_Connected", [&] {
      const int32_t r = s.Tapi1->LineMonitorDigits(true);
      s.journal.LogSys("Tapi.LineMonitorDigits(" + DeviceIndexText(s) + ")->" +
                           s.Tapi1->GetErrorText(r),
                       0, "");
    });
  }
  const std::string greeting = NativePathNoCase(
      s.process.AppPath, "\\Greets\\" + s.Options.sGreetsMessage);
  if (PlayToLine(s, greeting) != 0) {
    DropCall(s);
    return;
  }
  SendOutWithDevice(s, "PlayGreet");
  s.NextStep = "MESSAGE";
}

void PlayLegalNotice(LineState& s) {
  const std::string notice = NativePathNoCase(
      s.process.AppPath, "\\LegalGreets\\" + s.Options.sLegalRecMSG + ".wav");
  if (PlayToLine(s, notice) != 0) {
    DropCall(s);
    return;
  }
  SendOutWithDevice(s, "PlayLegalGreet");
}

void Wave1_PlayDone(LineState& s) {
  bool active = false;
  Trapped(s.journal, "Wave1_PlayDone",
          [&] { active = s.Tapi1->IsCallActive(); });
  if (!active) {
    DropCall(s);
  } else if (s.bRemoteAccess) {
    if (s.hooks.RemoteAccessPlayDone) {
      Trapped(s.journal, "Wave1_PlayDone",
              [&] { s.hooks.RemoteAccessPlayDone(); });
    }
  } else if (s.bRecTheCall) {
    ContinueAfterGreeting(s);
  } else if (s.bAnswerMachine) {
    if (s.NextStep == "MESSAGE") {
      if (!s.Options.bRecordMessage) {
        DropCall(s);
        return;
      }
      const std::string beep =
          NativePathNoCase(s.process.AppPath, "\\Beep.wav");
      // A beep that is missing is no error; one that cannot be played is
      // journalled by PlayToLine, and the message is recorded all the same
      // rather than lost.
      if (FileExists(beep) && PlayToLine(s, beep) == 0) {
        s.NextStep = "BEEP";
      } else {
        RecordMessage(s);
      }
    } else if (s.NextStep == "BEEP") {
      RecordMessage(s);
    }
  }
}

}  // namespace lw
