// The simulated line reads frames from any program that connects to its
// socket: the decoder must take any bytes in pieces of any size, and every
// message it hands out must encode back to exactly the bytes it came from.
#include <string_view>

#include "drivers/simline/simline_protocol.h"
#include "fuzz_home.h"

using lw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the piece size the stream arrives in.
  const size_t piece = 1 + data[0] % 64;
  const std::string_view stream(reinterpret_cast<const char*>(data + 1),
                                size - 1);
  lw::SimlineDecoder decoder;
  std::string reencoded;
  size_t fed = 0;
  lw::SimlineMessage m;
  while (fed < stream.size() && !decoder.failed()) {
    const std::string_view chunk = stream.substr(fed, piece);
    decoder.Feed(chunk);
    fed += chunk.size();
    while (decoder.Next(&m) == lw::SimlineDecoder::Result::kMessage)
      reencoded += lw::EncodeSimline(m);
  }
  if (decoder.failed()) {
    Check(!decoder.error().empty());
    return 0;
  }
  Check(reencoded == stream.substr(0, fed - decoder.buffered()));
  return 0;
}
