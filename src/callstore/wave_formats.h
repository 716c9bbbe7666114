// The sound formats of the line: four recording codings chosen by index
// (cmbRecordFormatRec, cmbAnsweringFormatRec) and the current-format slot
// that holds a copy of the format of the recording being made. The PCM
// record (index 0) is also the line format: the sound exchanged with the
// telephony device and played on the sound card.
#pragma once

#include <cstdint>

#include "devices/wave_format_record.h"

namespace lw {

inline constexpr int kWaveFormatCount = 4;
inline constexpr int kWaveFormatPcm = 0;
inline constexpr int kWaveFormatMuLaw = 1;
inline constexpr int kWaveFormatGsm610 = 2;
inline constexpr int kWaveFormatTrueSpeech = 3;

struct WaveFormatTable {
  WaveFormatRecord formats[kWaveFormatCount];
  WaveFormatRecord current;  // the current-format slot
};

// The process's table, filled once by InitWaveFormats() at start-up (before
// any line is opened) and passed by reference to the wave control.
WaveFormatTable& GlobalWaveFormats();

// Fills the four records of `table` (the current slot is left as it is).
void InitWaveFormats(WaveFormatTable& table);
inline void InitWaveFormats() { InitWaveFormats(GlobalWaveFormats()); }

// Copies all 28 bytes of `source` into `destination`.
void SelectWaveFormat(const WaveFormatRecord& source,
                      WaveFormatRecord& destination);

// Before a recording: copies record `index` into the current-format slot.
// An index outside 0..3 copies nothing (the slot keeps the previous format)
// and returns false.
bool SelectRecordingFormat(WaveFormatTable& table, int index);

}  // namespace lw
