#include "callstore/wave_formats.h"

#include <bit>
#include <cstring>

namespace lw {

// The records are used as they lie in memory, which must be the
// little-endian layout of the wave interface.
static_assert(std::endian::native == std::endian::little);

namespace {

WaveFormatList MakeWaveFormats() {
  WaveFormatList table;
  WaveFormatRecord& pcm = table[kWaveFormatPcm];
  pcm = WaveFormatRecord{};
  pcm.format_tag = 1;
  pcm.channels = 1;
  pcm.samples_per_sec = 8000;
  pcm.bits_per_sample = 16;
  pcm.block_align = pcm.bits_per_sample / 8;
  pcm.avg_bytes_per_sec = pcm.block_align * pcm.samples_per_sec;
  pcm.extra_size = 0;

  WaveFormatRecord& mulaw = table[kWaveFormatMuLaw];
  mulaw = WaveFormatRecord{};
  mulaw.format_tag = 7;
  mulaw.channels = 1;
  mulaw.samples_per_sec = 8000;
  mulaw.avg_bytes_per_sec = 8000;
  mulaw.block_align = 1;
  mulaw.bits_per_sample = 8;
  mulaw.extra_size = 0;

  // 320 samples per 65-byte block.
  WaveFormatRecord& gsm = table[kWaveFormatGsm610];
  gsm = WaveFormatRecord{};
  gsm.format_tag = 49;
  gsm.channels = 1;
  gsm.samples_per_sec = 8000;
  gsm.avg_bytes_per_sec = 1625;
  gsm.block_align = 65;
  gsm.bits_per_sample = 0;
  gsm.extra_size = 2;
  gsm.extra[0] = 0x40;
  gsm.extra[1] = 0x01;

  // Revision 1, 240 samples per block. The coding declares 32 extra bytes,
  // of which the record holds ten; the wave control deals with the rest.
  WaveFormatRecord& truespeech = table[kWaveFormatTrueSpeech];
  truespeech = WaveFormatRecord{};
  truespeech.format_tag = 34;
  truespeech.channels = 1;
  truespeech.samples_per_sec = 8000;
  truespeech.avg_bytes_per_sec = 1067;
  truespeech.block_align = 32;
  truespeech.bits_per_sample = 1;
  truespeech.extra_size = 32;
  constexpr uint8_t kTrueSpeechExtra[] = {0x01, 0x00, 0xF0, 0x00,
                                          0x00, 0xF0, 0x40};
  std::memcpy(truespeech.extra, kTrueSpeechExtra, sizeof kTrueSpeechExtra);
  return table;
}

}  // namespace

const WaveFormatList& WaveFormats() {
  static const WaveFormatList table = MakeWaveFormats();
  return table;
}

void SelectWaveFormat(const WaveFormatRecord& source,
                      WaveFormatRecord& destination) {
  std::memmove(&destination, &source, sizeof(WaveFormatRecord));
}

bool SelectRecordingFormat(int index, WaveFormatRecord& slot) {
  if (index < 0 || index >= kWaveFormatCount) return false;
  SelectWaveFormat(WaveFormats()[static_cast<size_t>(index)], slot);
  return true;
}

}  // namespace lw
