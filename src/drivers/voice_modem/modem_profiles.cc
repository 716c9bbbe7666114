#include "drivers/voice_modem/modem_profiles.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace lw {

const std::vector<ModemProfile>& ModemProfiles() {
  static const std::vector<ModemProfile> profiles = {
      {"usr",
       {"robotics", "usr"},
       "AT+FCLASS=8",
       "AT+VCID=1",
       "",
       "AT+VSD=128,50",
       "AT+VLS=1",
       "OK",
       "AT+VTX",
       "AT+VRX",
       {{128, ModemSound::kLinear8}, {130, ModemSound::kMuLaw}},
       "bdsq",
       '\0',
       'o',
       'u'},
      {"conexant",
       {"conexant", "cx"},
       "AT+FCLASS=8",
       "AT+VCID=1",
       "AT-STE=1",
       "AT+VSD=128,50",
       "AT+VLS=1",
       "OK",
       "AT+VTX",
       "AT+VRX",
       {{1, ModemSound::kLinear8},
        {4, ModemSound::kMuLaw},
        {132, ModemSound::kLinear16}},
       "bdsql",
       'P',
       'o',
       'u'},
      {"rockwell",
       {"rockwell", "rc56"},
       "AT#CLS=8",
       "AT#CID=1",
       "",
       "AT#VSD=1",
       "ATA",
       "VCON",
       "AT#VTX",
       "AT#VRX",
       {{0, ModemSound::kLinear8}, {3, ModemSound::kMuLaw}},
       "bdql",
       '\0',
       'o',
       'u'},
  };
  return profiles;
}

const ModemProfile* FindModemProfile(std::string_view name) {
  for (const ModemProfile& p : ModemProfiles())
    if (p.name == name) return &p;
  return nullptr;
}

const ModemProfile& ProfileForIdentity(std::string_view identity) {
  std::string lower(identity);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  for (const ModemProfile& p : ModemProfiles())
    for (std::string_view mark : p.marks)
      if (lower.find(mark) != std::string::npos) return p;
  return *FindModemProfile("conexant");
}

int BytesPerSecond(ModemSound sound) {
  return sound == ModemSound::kLinear16 ? 16000 : 8000;
}

int PortSpeedFor(ModemSound sound) {
  // Ten bits on the wire per byte (start, eight data, stop).
  return sound == ModemSound::kLinear16 ? 230400 : 115200;
}

}  // namespace lw
