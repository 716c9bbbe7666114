// Messages of the line controller to the desktop application: the fields
// joined by CR LF, sent on one of the controller's channel ends only when
// that channel can be opened (otherwise dropped, and the call goes on).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "line/line_state.h"

namespace lw {

// The telephony control's current device index in decimal, as messages and
// journal sources carry it.
std::string DeviceIndexText(LineState& s);

// Sends `fields` on `end` (bound to `channel`); nothing when the end or the
// telephony control has not been made yet.
void SendToDesktop(LineState& s, MessageChannel* end, int32_t channel,
                   std::initializer_list<std::string_view> fields);

// The common case: "<name>" CR LF <device index> on udiOut (107).
void SendOutWithDevice(LineState& s, std::string_view name);

// Fills a call template with the call in progress and the line's remote
// access digits.
std::string FillForCall(const LineState& s, const std::string& text);

}  // namespace lw
