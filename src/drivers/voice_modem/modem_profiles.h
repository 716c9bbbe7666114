// What differs between the voice-modem chipsets the driver knows: the
// commands that enter voice mode and turn caller identification on, how a
// call is answered, which sample-format numbers stand for which sound, the
// silence detection, and which shielded (DLE) codes the chipset reports. The
// driver reads these from the one table here and never branches on a
// chipset elsewhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lw {

// How the modem carries sound at 8 kHz.
enum class ModemSound { kLinear8, kMuLaw, kLinear16 };

struct ModemSampleFormat {
  int number;  // the chipset's number in AT+VSM
  ModemSound sound;
};

struct ModemProfile {
  std::string_view name;
  // Text that names the chipset in the answers to ATI or AT+GMI (compared
  // without regard to case).
  std::vector<std::string_view> marks;
  std::string_view voice_mode;     // "AT+FCLASS=8" or "AT#CLS=8"
  std::string_view caller_id;      // "AT+VCID=1" or "AT#CID=1"
  std::string_view extra_setup;    // one more setup command, or empty
  std::string_view silence;        // silence detection for recording
  std::string_view answer;         // "AT+VLS=1" or "ATA"
  std::string_view answer_result;  // its final result: "OK" or "VCON"
  std::string_view play;           // "AT+VTX"
  std::string_view record;         // "AT+VRX"
  // The sample formats it offers, the most wanted first.
  std::vector<ModemSampleFormat> formats;
  // Shielded codes that mean the far end hung up: busy, dial tone, silence,
  // quiet, loop break, as far as the chipset reports them.
  std::string_view hang_up_codes;
  // The shielded code of an extension lifted; '\0' where there is none.
  char pick_up_code;
  // The shielded codes of the modem's buffers: the sound it receives from
  // the line overran (some was dropped), the sound to play ran short.
  char overrun_code;
  char underrun_code;
};

// The known chipsets: usr, conexant, rockwell.
const std::vector<ModemProfile>& ModemProfiles();
// The profile named `name`; null for none.
const ModemProfile* FindModemProfile(std::string_view name);
// The profile whose marks appear in the modem's identification text; the
// plain V.253 one ("conexant") when none matches.
const ModemProfile& ProfileForIdentity(std::string_view identity);

// Bytes a second of a sound at 8 kHz, and the port speed that carries it.
int BytesPerSecond(ModemSound sound);
int PortSpeedFor(ModemSound sound);

}  // namespace lw
