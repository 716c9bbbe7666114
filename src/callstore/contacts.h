// The contact list "\Data\Contactes": fixed 1794-byte records written by the
// desktop application and only read here. Every lookup opens the file, reads
// it (FindContact only up to the first contact with the exact number) and
// closes it; nothing is cached. A missing,
// unreadable or malformed file gives no match; a trailing partial record is
// not a contact.
//
// A contact's caller number is a number, a pattern or a kind of caller:
// - a pattern: "?" stands for one digit, a trailing "*" for any rest (none
//   included): "0900*", "+44*", "01632 96????"; "*" alone is every caller
//   who sent a number;
// - "WITHHELD": callers who withheld their number; "UNKNOWN": callers whose
//   number did not come (ClassifyCallerNumber says which a call is).
// A caller is matched in this order, the first that holds wins:
// 1. a contact with exactly the caller's number (trimmed field, byte for
//    byte; the lower record number first);
// 2. for a withheld or unknown caller, the first "WITHHELD" or "UNKNOWN"
//    contact; patterns never match these callers;
// 3. a contact whose number, without its blanks and "-", "(", ")", "/",
//    ".", is the caller's number ("0161 496 0000" for 01614960000);
// 4. the longest matching pattern (length without the trailing "*", each
//    "?" counting one); of equal length the one with fewer "?", then the
//    one without "*", then the lower record number.
// The caller's number is taken as the line reported it: "+44..." and
// "0044..." are different numbers, and nothing is trimmed from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "devices/telephony.h"
#include "settings/contact_overlay.h"

namespace lw {

struct ContactRecord {
  char name[32];           // 0: contact name
  char second_text[64];    // 32: passed on to the desktop application
  char caller_name[40];    // 96: matched by GetContactName
  char caller_number[40];  // 136: matched by both lookups
  char call_handling[1];   // 176: "2" block, "3" ignore, "4" own answering
  char run_ans_if_not_answered[1];  // 177
  char detect_pick_up[1];           // 178
  char greeting[64];                // 179: without ".wav"
  char num_of_ring[2];              // 243
  char record_message[1];           // 245
  char contact_digit[1];            // 246
  char announcements[1];            // 247: "1" general, "2" none, "3" own
  char view_line_control[1];        // 248
  char view_cd[1];                  // 249
  char display_style[1];            // 250
  char play_sound[1];               // 251
  char sound_name[64];              // 252
  char say[1];                      // 316
  char say_text[128];               // 317
  char forwarding[1];               // 445: "2" no mail, "3" own forwarding
  char send_to_mail[1];             // 446
  char act_mail[1];                 // 447
  char mail_to[64];                 // 448
  char app[1];                      // 512
  char act_app[1];                  // 513
  char app_to[256];                 // 514
  char long_text[1024];             // 770: not read

  static constexpr size_t kSize = 1794;

  const char* bytes() const { return reinterpret_cast<const char*>(this); }
  char* bytes() { return reinterpret_cast<char*>(this); }
};
static_assert(sizeof(ContactRecord) == ContactRecord::kSize);
static_assert(offsetof(ContactRecord, caller_number) == 136);
static_assert(offsetof(ContactRecord, greeting) == 179);
static_assert(offsetof(ContactRecord, contact_digit) == 246);
static_assert(offsetof(ContactRecord, sound_name) == 252);
static_assert(offsetof(ContactRecord, say_text) == 317);
static_assert(offsetof(ContactRecord, forwarding) == 445);
static_assert(offsetof(ContactRecord, mail_to) == 448);
static_assert(offsetof(ContactRecord, app_to) == 514);
static_assert(offsetof(ContactRecord, long_text) == 770);

// The contact digit as a number (0 when the field is not a digit).
int16_t ContactDigit(const ContactRecord& contact);

// Text conversions of the settings: a switch is "0" (false) or any other
// number (true), or "True"/"False" by name; a number is a decimal integer
// within 16 bits. Blanks around the text are allowed. Anything else is not
// valid and leaves the option it was meant for unchanged.
bool ParseSwitchText(std::string_view text, bool& out);
bool ParseInt16Text(std::string_view text, int16_t& out);

// Whether a telephone can dial `number`: the keypad's digits, "*" and "#",
// a leading "+", and blanks, "-", "(", ")", "/" and "." between them, with
// at least one digit.
bool IsDialableNumber(std::string_view number);

// What a caller number that a line reported says about the caller: a
// number; one the caller withheld (a line's "WITHHELD", a modem's "P" or
// "PRIVATE", "ANONYMOUS", "RESTRICTED"); or none received (empty, the call's
// "UNKNOWN", a modem's "O" for out of area, "UNAVAILABLE", "OUT OF AREA").
// The words compare without regard to case, around blanks trimmed.
enum class CallerNumberKind { kNumber, kWithheld, kUnknown };
CallerNumberKind ClassifyCallerNumber(std::string_view number);

// The contact numbers that stand for a kind of caller. A withheld caller's
// number is the one the lines report for it, so it is found as that text
// too.
inline constexpr std::string_view kWithheldContact = kWithheldCallerNumber;
inline constexpr std::string_view kUnknownContact = "UNKNOWN";

// Whether `number` may be typed as a contact's caller number: a dialable
// number, a pattern ("?" for digits, a trailing "*", or "*" alone), or
// "WITHHELD" or "UNKNOWN".
bool IsContactNumber(std::string_view number);

// The contacts of one reading of the file, for looking up callers: built
// once (one pass, hash maps of the numbers), then an exact number costs one
// hash lookup and the patterns are tried only when no number matched.
class ContactMatcher {
 public:
  // A contact's trimmed texts, in file order.
  struct Entry {
    std::string caller_name;
    std::string caller_number;
    std::string name;
    bool blocks = false;  // its call handling blocks the caller
  };
  static constexpr size_t kNone = static_cast<size_t>(-1);

  explicit ContactMatcher(std::vector<Entry> entries);
  // The maps point into the entries: moved whole, never copied.
  ContactMatcher(ContactMatcher&&) = default;
  ContactMatcher& operator=(ContactMatcher&&) = default;
  ContactMatcher(const ContactMatcher&) = delete;
  ContactMatcher& operator=(const ContactMatcher&) = delete;

  // The index (record number - 1) of the contact of a caller number, in the
  // order the file comment gives; kNone when no contact matches.
  size_t Find(std::string_view caller_number) const;
  // The contact shown for a stored call (GetContactName): a contact found by
  // the exact number names the caller only when its caller name is
  // `caller_name` too (the first such contact); one found otherwise (kind,
  // separators, pattern) names every caller it matches. Null when none.
  const Entry* Named(std::string_view caller_name,
                     std::string_view caller_number) const;
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  struct Pattern {
    std::string text;   // separators dropped, without the trailing "*"
    bool rest = false;  // it ended in "*"
    size_t questions = 0;
    size_t index = 0;
  };
  static bool Matches(const Pattern& p, std::string_view number);

  std::vector<Entry> entries_;
  // Number -> first contact; each contact links the next one of its number.
  std::unordered_map<std::string_view, size_t> exact_;
  std::vector<size_t> next_same_number_;
  // Looked up by a caller's number as it is, without a copy.
  struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>()(text);
    }
  };
  std::unordered_map<std::string, size_t, TextHash, std::equal_to<>> written_;
  std::vector<Pattern> patterns_;  // best first
  size_t withheld_ = kNone;
  size_t unknown_ = kNone;
};

class Contacts {
 public:
  // `app_path`: AppPath, native, no trailing separator.
  explicit Contacts(const std::string& app_path);

  // Finds the contact of `caller_number` (taken as given, not trimmed), by
  // exact number, kind of caller or pattern (ContactMatcher::Find). Returns
  // its record number in decimal, or "-1". When found, `contact` receives the
  // record and its call handling, announcements and forwarding are laid over
  // `options`; `read_registry` supplies the general announcement settings for
  // contacts that follow them (announcement mode "1").
  std::string FindContact(std::string_view caller_number,
                          ContactOverlay& options, ContactRecord& contact,
                          const RegistryTextReader& read_registry) const;

  // The trimmed contact name shown for a call of this caller
  // (ContactMatcher::Named); empty text when none.
  std::string GetContactName(std::string_view caller_name,
                             std::string_view caller_number) const;

  // One reading of the file, for looking up many callers at once with the
  // same answers as FindContact and GetContactName.
  ContactMatcher Matcher() const;

  // Every whole record in file order (a missing file has none). False when
  // the file exists but cannot be read.
  bool ReadAll(std::vector<ContactRecord>& records) const;
  // Replaces the file whole by `records` (a reader sees the old list or the
  // new one). False, with the file unchanged, when it cannot.
  bool WriteAll(const std::vector<ContactRecord>& records) const;
  const std::string& path() const { return path_; }

  // Lays a found contact's choices over the options.
  static void ApplyContact(const ContactRecord& contact,
                           ContactOverlay& options,
                           const RegistryTextReader& read_registry);

 private:
  std::string path_;
};

}  // namespace lw
