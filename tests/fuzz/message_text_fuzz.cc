// Channel messages come from another program: splitting must accept any
// bytes, and joining the lines again must give back the message exactly.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/message_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = lw::SplitMessage(text);
  if (lines.empty()) std::abort();
  for (const std::string& line : lines)
    if (line.find("\r\n") != std::string::npos) std::abort();
  if (lw::JoinFields(lines) != text) std::abort();
  return 0;
}
