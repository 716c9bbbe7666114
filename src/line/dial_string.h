// Numbers to dial. A number comes from the desktop application ("CallOut",
// "CallOutRec") and goes to the line device and into the stored call, so it
// holds only what a telephone can dial: the keypad ("0".."9", "*", "#"), a
// "+" in front for the international prefix and "," for a pause of the
// line's dialling. The other characters some modems take in a dial string
// ("W", "P", "T", "!", "@", ";") are not part of the telephony contract and
// are refused, as are blanks and separators ("555 12-34"), which a
// telephone cannot dial either. A line that dials SIP addresses
// (Telephony::DialKinds) also takes "sip:" and "sips:" addresses.
#pragma once

#include <string_view>

#include "devices/telephony.h"

namespace lw {

// True when `number` can be dialled as it is on a line that dials `kinds`.
bool IsDialable(std::string_view number, DialCapability kinds);

}  // namespace lw
