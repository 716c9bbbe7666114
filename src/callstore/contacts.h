// The contact list "\Data\Contactes": fixed 1794-byte records written by the
// desktop application and only read here. Every lookup opens the file, reads
// records from 1 upward until the first match and closes it; nothing is
// cached. A missing, unreadable or malformed file gives no match; a trailing
// partial record is not a contact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

class Contacts {
 public:
  // `app_path`: AppPath, native, no trailing separator.
  explicit Contacts(const std::string& app_path);

  // Finds the first contact whose trimmed caller number equals
  // `caller_number` (taken as given, not trimmed). Returns its record number
  // in decimal, or "-1". When found, `contact` receives the record and its
  // call handling, announcements and forwarding are laid over `options`;
  // `read_registry` supplies the general announcement settings for contacts
  // that follow them (announcement mode "1").
  std::string FindContact(std::string_view caller_number,
                          ContactOverlay& options, ContactRecord& contact,
                          const RegistryTextReader& read_registry) const;

  // The trimmed contact name of the first contact whose trimmed caller name
  // and caller number equal the given ones; empty text when none does.
  std::string GetContactName(std::string_view caller_name,
                             std::string_view caller_number) const;

  // GetContactName for many callers at once: one reading of the file. The
  // entries are (trimmed caller name, trimmed caller number, trimmed contact
  // name) in file order, so the first match of a pair is GetContactName's;
  // `blocks` says the contact's call handling blocks its caller.
  struct NameEntry {
    std::string caller_name;
    std::string caller_number;
    std::string name;
    bool blocks = false;
  };
  std::vector<NameEntry> NameIndex() const;

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
