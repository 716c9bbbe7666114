#include "recording/call_recording.h"

#include <string>

#include "base/trapped.h"
#include "callstore/call_wrapup.h"
#include "callstore/wave_formats.h"
#include "line/line_messages.h"

namespace lw {

namespace {

void TimerOff(const std::unique_ptr<Timer>& timer) {
  if (timer && timer->Enabled()) timer->SetEnabled(false);
}

void TimerOn(const std::unique_ptr<Timer>& timer) {
  if (timer && !timer->Enabled()) timer->SetEnabled(true);
}

// The silence handling of the recording about to start, set afresh for
// every recording so that one call's choice never carries over into the
// next: on only when this recording's options ask for it.
void SetSilenceHandling(LineState& s) {
  const CallOptions& o = s.Options;
  bool detect = false;
  bool cut = false;
  int32_t level = 0;
  if (s.bRecTheCall && o.bDropIfSilenceRec) {
    detect = true;
    level = o.nSilenceLevelRec;
    cut = o.bRecCutTheSilence;
  }
  if (s.bAnswerMachine && o.bDropIfSilence) {
    detect = true;
    // A message taken on a call that is recorded too keeps the call's level
    // (the message settings were loaded into the same threshold).
    level = s.bRecTheCall && o.bDropIfSilenceRec ? o.nSilenceLevelRec
                                                 : s.SilenceThreshold;
    cut = o.bCutTheSilence;
  }
  s.Wave1->SetDetectSilence(detect);
  s.Wave1->SetCutSilence(cut);
  s.Wave1->SetSilenceLevel(detect ? level : 0);
}

}  // namespace

int32_t RecordSizeValue(int16_t format_index) {
  switch (format_index) {
    case kWaveFormatPcm:
    case kWaveFormatMuLaw:
      return 8000;
    case kWaveFormatGsm610:
      return 16000;
    case kWaveFormatTrueSpeech:
      return 4800;
    default:
      return 0;
  }
}

void StartCallRecording(LineState& s) {
  if (s.bRemoteAccess) return;
  Trapped(s.journal, "StartCallRecording", [&] {
    const CallOptions& o = s.Options;
    CallInfo& info = s.Call.info;
    const std::string name = RecordingName(info.caller_name, info.caller_number,
                                           info.date, info.time);
    info.message_path = name;

    WaveFormatTable& formats = GlobalWaveFormats();
    // An index outside 0..3 keeps the previous format in the current slot.
    SelectRecordingFormat(formats, s.RecordFormatIndex);
    const int32_t size_value = RecordSizeValue(s.RecordFormatIndex);

    const int32_t device = s.Tapi1->GetDeviceID(kDeviceClassWaveIn);
    SetSilenceHandling(s);
    const int32_t result = s.Wave1->StartRecord(
        device, s.Call.day_folder + name, formats.formats[kWaveFormatPcm],
        formats.current, size_value, true);
    s.journal.LogSys("Wave.StartRecord(" + std::to_string(device) + ")->" +
                         s.Wave1->GetRecordErrorText(result),
                     0, "");

    if (s.bRecTheCall) {
      if (o.bRecPreScreen) {
        s.Wave1->StartMonitor(formats.formats[kWaveFormatPcm],
                              s.process.SoundDeviceIndex);
      }
      if (o.bDropIfDigit) {
        const int32_t r = s.Tapi1->LineMonitorDigits(true);
        s.journal.LogSys("Tapi.LineMonitorDigits(" + DeviceIndexText(s) +
                             ")->" + s.Tapi1->GetErrorText(r),
                         0, "");
      }
      SendOutWithDevice(s, "RecCall");
      info.call_type = kCallTypeIncomingRecorded;
      s.Wave1->SetFreqDetect(true);
      TimerOn(s.tmrRecFreqCounter);
      if (o.bMaxRecCall) {
        s.MaxRecordMinutes = o.dMaxRecCall;
        TimerOn(s.tmrRecLong);
      }
      if (o.bDropIfSilenceRec) {
        s.SilenceThreshold = o.nSilenceLevelRec;
        s.SilenceSeconds = o.lSilenceSecRec;
        TimerOn(s.tmrSilence);
      }
    }

    if (!s.bAnswerMachine) return;
    SendOutWithDevice(s, "RecMessage");
    if (o.bPreScreen) {
      s.Wave1->StartMonitor(formats.formats[kWaveFormatPcm],
                            s.process.SoundDeviceIndex);
    }
    info.call_type = kCallTypeVoiceMessage;
    if (o.bMaxRec) {
      s.MaxRecordMinutes = o.dRecLong;
      TimerOn(s.tmrRecLong);
    }
    if (o.bDropIfSilence) TimerOn(s.tmrSilence);
  });
  // Noted once the call's type is settled: a crash during the call leaves
  // the note, and the next start stores the call from it.
  Trapped(s.journal, "StartCallRecording", [&] {
    if (s.Wave1->IsRecording())
      NoteCallInProgress(s.Call, s.Tapi1->DeviceIndex(), s.journal);
  });
}

void ContinueAfterGreeting(LineState& s) {
  bool active = false;
  Trapped(s.journal, "ContinueAfterGreeting",
          [&] { active = s.Tapi1->IsCallActive(); });
  if (!active) {
    DropCall(s);
    return;
  }
  s.RecordFormatIndex = s.Options.nRecordFormatRec;
  StartCallRecording(s);
}

void StopRecMessage(LineState& s) {
  Trapped(s.journal, "StopRecMessage", [&] {
    if (s.Wave1->IsMonitoring()) s.Wave1->StopMonitor();
  });
  Trapped(s.journal, "StopRecMessage", [&] {
    if (!s.Wave1->IsRecording()) return;
    const int32_t result = s.Wave1->StopRecord();
    s.journal.LogSys(s.Wave1->GetRecordErrorText(result), result,
                     "StopRecMessage:Wave1.StopRecord");
  });
}

void DropCall(LineState& s) {
  // Each step on its own: whatever fails, the line is hung up.
  Trapped(s.journal, "DropCall", [&] {
    TimerOff(s.tmrSilence);
    TimerOff(s.tmrRecLong);
    TimerOff(s.tmrRecRingCounter);
    TimerOff(s.tmrRecFreqCounter);
  });
  s.NextStep.clear();
  Trapped(s.journal, "DropCall", [&] {
    if (s.Wave1->IsPlaying()) s.Wave1->StopPlay();
  });
  StopRecMessage(s);
  bool dropped = false;
  Trapped(s.journal, "DropCall", [&] {
    const int32_t result = s.Tapi1->LineDrop();
    dropped = result == 0;
    s.journal.LogSys("Tapi.LineDrop(" + DeviceIndexText(s) + ")->" +
                         s.Tapi1->GetErrorText(result),
                     0, "");
  });
  // A timer tick that led here may have switched a limit on again.
  Trapped(s.journal, "DropCall", [&] {
    TimerOff(s.tmrSilence);
    TimerOff(s.tmrRecFreqCounter);
    TimerOff(s.tmrRecLong);
  });
  // A hang-up the line refused (a failed or closed device, or a call already
  // gone) brings no Idle for this call: it is wrapped up here, so it is still
  // stored and the desktop application told.
  if (!dropped && s.bWrapUpDue && s.WrapUpNow) s.WrapUpNow();
}

void tmrRecLong_Timer(LineState& s) {
  ++s.RecordSeconds;
  if (s.RecordSeconds > s.MaxRecordMinutes * 60) {
    TimerOff(s.tmrRecLong);
    DropCall(s);
  }
}

void tmrSilence_Timer(LineState& s) {
  bool active = false;
  Trapped(s.journal, "tmrSilence_Timer",
          [&] { active = s.Tapi1->IsCallActive(); });
  if (!active) {
    TimerOff(s.tmrSilence);
    DropCall(s);
    return;
  }
  if (s.LastLevel < s.SilenceThreshold) {
    ++s.SilenceTicks;
    if (s.SilenceTicks / 10 >= s.SilenceSeconds) {
      TimerOff(s.tmrSilence);
      DropCall(s);
    }
  } else {
    s.SilenceTicks = 0;
  }
}

void tmrRecFreqCounter_Timer(LineState& s) {
  ++s.FreqTicks;
  if (s.FreqTicks > 30) {
    TimerOff(s.tmrRecFreqCounter);
    Trapped(s.journal, "tmrRecFreqCounter_Timer",
            [&] { s.Wave1->SetFreqDetect(false); });
  }
}

void Wave1_LevelReport(LineState& s, int16_t level) { s.LastLevel = level; }

}  // namespace lw
