#include "line/dial_string.h"

namespace lw {
namespace {

bool IsKey(char c) { return (c >= '0' && c <= '9') || c == '*' || c == '#'; }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// "sip:" or "sips:" and a user@host or host of the characters a SIP address
// holds unescaped (letters, digits, "%" escapes and the marks of RFC 3261):
// no blanks, no control bytes, no quotes or angle brackets.
bool IsSipAddress(std::string_view s) {
  if (StartsWithNoCase(s, "sip:")) {
    s.remove_prefix(4);
  } else if (StartsWithNoCase(s, "sips:")) {
    s.remove_prefix(5);
  } else {
    return false;
  }
  if (s.empty() || s.front() == '@' || s.back() == '@') return false;
  constexpr std::string_view kMarks = "-_.!~*'()%&=+$,;?/:@[]";
  for (char c : s) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                       (c >= 'A' && c <= 'Z');
    if (!alnum && kMarks.find(c) == std::string_view::npos) return false;
  }
  return true;
}

}  // namespace

bool IsDialable(std::string_view number, DialCapability kinds) {
  if (kinds == DialCapability::kNumbersAndSipAddresses && IsSipAddress(number))
    return true;
  if (!number.empty() && number.front() == '+') number.remove_prefix(1);
  bool has_key = false;
  for (char c : number) {
    if (IsKey(c)) {
      has_key = true;
    } else if (c != ',') {
      return false;
    }
  }
  // A number of pauses alone dials nothing.
  return has_key;
}

}  // namespace lw
