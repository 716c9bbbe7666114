// Texts that are spoken, mailed or handed to another program are written by
// the owner as templates with placeholders in angle brackets ("<CALLER_NAME>").
// The placeholders are taken one after another in a fixed order; each one
// replaces every occurrence of itself in the text as it stands by then. A
// replacement is never searched again for the same placeholder, but text
// inserted for an earlier placeholder can be matched by a later one. Unknown
// placeholders and all other text are left as they are.
#pragma once

#include <string>
#include <string_view>

#include "callstore/call_record.h"
#include "callstore/call_store.h"

namespace lw {

// The line controller's remote-access keys, inserted for <PLAY>, <PREV>,
// <EXIT>, <NEXT>, <FIRST>, <DELETE> and <MARK>.
struct RemoteDigits {
  std::string RCPlay;
  std::string RCPrevDigit;
  std::string RCCloseRC;
  std::string RCNextDigit;
  std::string RCFirstDigit;
  std::string RCDelete;
  std::string RCMarkUsUnRead;  // always empty
};

// Fills a template from one call and the remote-access keys.
std::string FillCallTemplate(std::string_view text, const CallInfo& call,
                             const RemoteDigits& digits);

// Fills <NUM_CALLS>, <NUM_MSG>, <NUM_NEW_MSG> and <NUM_NEW_CALLS> from the
// counts last taken by CountLastCalls.
std::string FillCountTemplate(std::string_view text, const CallCounts& counts);

// The text with one blank after every character, the last one included
// ("42" -> "4 2 "), so that speech reads a number digit by digit.
std::string SpellOut(std::string_view text);

// Replaces every occurrence of `placeholder` in `text` by `replacement`,
// searching on after each inserted replacement.
void ReplacePlaceholder(std::string& text, std::string_view placeholder,
                        std::string_view replacement);

}  // namespace lw
