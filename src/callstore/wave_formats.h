// The sound formats of the line: four recording codings chosen by index
// (cmbRecordFormatRec, cmbAnsweringFormatRec). The PCM record (index 0) is
// also the line format: the sound exchanged with the telephony device and
// played on the sound card. The records are constant; the format of the
// recording being made is a copy its recorder keeps.
#pragma once

#include <array>
#include <cstdint>

#include "devices/wave_format_record.h"

namespace lw {

inline constexpr int kWaveFormatCount = 4;
inline constexpr int kWaveFormatPcm = 0;
inline constexpr int kWaveFormatMuLaw = 1;
inline constexpr int kWaveFormatGsm610 = 2;
inline constexpr int kWaveFormatTrueSpeech = 3;

using WaveFormatList = std::array<WaveFormatRecord, kWaveFormatCount>;

// The four records, made once.
const WaveFormatList& WaveFormats();
// The line format (record 0).
inline const WaveFormatRecord& LineWaveFormat() {
  return WaveFormats()[kWaveFormatPcm];
}

// Copies all 28 bytes of `source` into `destination`.
void SelectWaveFormat(const WaveFormatRecord& source,
                      WaveFormatRecord& destination);

// Before a recording: copies record `index` into `slot`, the recorder's
// copy of the format it records in. An index outside 0..3 copies nothing
// (the slot keeps the previous format) and returns false.
bool SelectRecordingFormat(int index, WaveFormatRecord& slot);

}  // namespace lw
