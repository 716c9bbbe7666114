// Greetings, event sounds and recordings are wave files anyone can put in
// the home, and a recording cut off by a crash is repaired at the next
// start. The header reader must take any bytes and any stated file size,
// and what it reports never reaches past the end of the file. Any file must
// be repaired or refused; a repaired file is no longer than it was, reads
// as a wave file, and repairing it again changes nothing.
#include <fstream>
#include <iterator>
#include <span>

#include "base/wave_file_header.h"
#include "fuzz_home.h"

using lw::fuzz::Check;

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The file as read whole, and as a file that goes on (or was cut short)
  // past the bytes read.
  for (const uint64_t file_size : {size, size * 3 + 7, size / 2}) {
    const auto header = lw::ParseWaveFileHeader(
        std::span<const uint8_t>(data, size), file_size);
    Check(!header || header->data_bytes <= file_size);
  }

  static lw::fuzz::FuzzHome home;
  home.Write("cut.wav", lw::fuzz::Text(data, size));
  const std::string path = home.path() + "/cut.wav";
  if (!lw::RepairWaveFileHeader(path)) return 0;
  const std::string once = Read(path);
  Check(once.size() <= size && lw::ReadWaveFileHeader(path));
  Check(lw::RepairWaveFileHeader(path) && Read(path) == once);
  return 0;
}
