// Greetings, event sounds and recordings are wave files anyone can put in
// the home. The header reader must take any bytes and any stated file size;
// what it reports never reaches past the end of the file.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "drivers/sndfile_wave/wave_file_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  // The file as read whole, and as a file that goes on (or was cut short)
  // past the bytes read.
  for (const uint64_t file_size :
       {static_cast<uint64_t>(size), static_cast<uint64_t>(size) * 3 + 7,
        static_cast<uint64_t>(size / 2)}) {
    const auto header = lw::ParseWaveFileHeader(bytes, file_size);
    if (header && header->data_bytes > file_size) std::abort();
  }
  return 0;
}
