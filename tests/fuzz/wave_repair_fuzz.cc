// A recording cut off by a crash is repaired at the next start. Any file must
// be repaired or refused without a crash; a repaired file reads as a wave
// file whose sound ends at the end of the file, and repairing it again
// changes nothing.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "drivers/sndfile_wave/wave_file_header.h"
#include "fuzz_home.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzHome home;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  home.Write("cut.wav", bytes);
  const std::string path = home.path() + "/cut.wav";
  if (!lw::RepairWaveFileHeader(path)) return 0;
  const std::string once = Read(path);
  if (once.size() > bytes.size()) std::abort();
  if (!lw::ReadWaveFileHeader(path)) std::abort();
  if (!lw::RepairWaveFileHeader(path) || Read(path) != once) std::abort();
  return 0;
}
