#include "callstore/contacts.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

#include "base/paths.h"
#include "callstore/call_record.h"
#include "callstore/file_io.h"

namespace lw {
namespace {

constexpr size_t kRecordsPerRead = 64;  // about 112 KiB per read

std::string_view Field(const char* field, size_t width) {
  return TrimField(std::string_view(field, width));
}
template <size_t N>
std::string_view Field(const char (&field)[N]) {
  return Field(field, N);
}

// Reads the contact file from record 1 upward and stops at the first record
// for which `match` holds. Returns its record number (from 1) and copies it
// to `out`, or 0. Any read failure ends the scan as "no match".
template <typename Match>
int64_t ScanContacts(const std::string& path, Match match, ContactRecord* out) {
  const int fd = OpenFile(path, O_RDONLY);
  if (fd < 0) return 0;
  auto buffer =
      std::make_unique<char[]>(kRecordsPerRead * ContactRecord::kSize);
  int64_t number = 0;
  int64_t found = 0;
  off_t offset = 0;
  while (found == 0) {
    ssize_t got;
    do {
      got = ::pread(fd, buffer.get(), kRecordsPerRead * ContactRecord::kSize,
                    offset);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) break;
    // Only whole records count; a trailing partial record is not a contact.
    // A short read in the middle of the file (it shrank meanwhile) is picked
    // up again from the next whole record.
    const size_t whole = static_cast<size_t>(got) / ContactRecord::kSize;
    if (whole == 0) break;
    for (size_t i = 0; i < whole; ++i) {
      ++number;
      const char* rec = buffer.get() + i * ContactRecord::kSize;
      if (match(rec)) {
        if (out != nullptr)
          std::memcpy(out->bytes(), rec, ContactRecord::kSize);
        found = number;
        break;
      }
    }
    offset += static_cast<off_t>(whole * ContactRecord::kSize);
  }
  ::close(fd);
  return found;
}

void ApplySwitch(const char (&field)[1], bool& option) {
  ParseSwitchText(std::string_view(field, 1), option);
}
template <size_t N>
void ApplyNumber(const char (&field)[N], int16_t& option) {
  ParseInt16Text(std::string_view(field, N), option);
}

// The line's general announcement settings, read afresh. A missing value
// reads as empty and means off (or 0), as when the options are loaded; a
// value that is not a switch or number leaves its option as it is, and so
// does a reader that fails part-way.
void ReadGeneralAnnouncements(ContactOverlay& o,
                              const RegistryTextReader& read_registry) {
  if (!read_registry) return;
  const std::string section = "Events\\TabInCommingCall";
  auto fresh_switch = [&](const char* name, bool& option) {
    const std::string v = read_registry(section, name);
    if (TrimField(v).empty())
      option = false;
    else
      ParseSwitchText(v, option);
  };
  auto fresh_number = [&](const char* name, int16_t& option) {
    const std::string v = read_registry(section, name);
    if (TrimField(v).empty())
      option = 0;
    else
      ParseInt16Text(v, option);
  };
  try {
    fresh_switch("chkViewLineControl_IC", o.show_line_control_on_call);
    fresh_number("cmbCallDisplayStyleIncomming", o.call_display_style);
    fresh_switch("chkICViewCD", o.show_call_on_incoming);
    fresh_switch("chkPlayInCall", o.play_sound_on_incoming);
    o.incoming_sound = read_registry(section, "CmbPlayWhenCall");
    fresh_switch("chkSayInCommingCall", o.say_on_incoming);
    o.incoming_text = read_registry(section, "IC_txtTTS");
  } catch (...) {
  }
}

}  // namespace

int16_t ContactDigit(const ContactRecord& contact) {
  const char c = contact.contact_digit[0];
  return c >= '0' && c <= '9' ? static_cast<int16_t>(c - '0') : 0;
}

bool ParseSwitchText(std::string_view text, bool& out) {
  text = TrimField(text);
  if (text.size() == 4 && strncasecmp(text.data(), "true", 4) == 0) {
    out = true;
    return true;
  }
  if (text.size() == 5 && strncasecmp(text.data(), "false", 5) == 0) {
    out = false;
    return true;
  }
  int64_t value = 0;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  if (begin != end && *begin == '+') ++begin;
  auto [ptr, ec] = std::from_chars(begin, end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return false;
  out = value != 0;
  return true;
}

bool ParseInt16Text(std::string_view text, int16_t& out) {
  text = TrimField(text);
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  if (begin != end && *begin == '+') ++begin;
  int16_t value = 0;
  auto [ptr, ec] = std::from_chars(begin, end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return false;
  out = value;
  return true;
}

Contacts::Contacts(const std::string& app_path)
    : path_(NativePath(app_path, "\\Data\\Contactes")) {}

std::string Contacts::FindContact(
    std::string_view caller_number, ContactOverlay& options,
    ContactRecord& contact, const RegistryTextReader& read_registry) const {
  const int64_t found = ScanContacts(
      path_,
      [caller_number](const char* rec) {
        return Field(rec + offsetof(ContactRecord, caller_number), 40) ==
               caller_number;
      },
      &contact);
  if (found == 0) return "-1";
  ApplyContact(contact, options, read_registry);
  return std::to_string(found);
}

std::string Contacts::GetContactName(std::string_view caller_name,
                                     std::string_view caller_number) const {
  ContactRecord contact;
  const int64_t found = ScanContacts(
      path_,
      [caller_name, caller_number](const char* rec) {
        return Field(rec + offsetof(ContactRecord, caller_number), 40) ==
                   caller_number &&
               Field(rec + offsetof(ContactRecord, caller_name), 40) ==
                   caller_name;
      },
      &contact);
  if (found == 0) return {};
  return std::string(Field(contact.name));
}

std::vector<Contacts::NameEntry> Contacts::NameIndex() const {
  std::vector<NameEntry> entries;
  ScanContacts(
      path_,
      [&entries](const char* rec) {
        entries.push_back(
            {std::string(Field(rec + offsetof(ContactRecord, caller_name), 40)),
             std::string(
                 Field(rec + offsetof(ContactRecord, caller_number), 40)),
             std::string(Field(rec + offsetof(ContactRecord, name),
                               sizeof(ContactRecord::name))),
             rec[offsetof(ContactRecord, call_handling)] == '2'});
        return false;
      },
      nullptr);
  return entries;
}

void Contacts::ApplyContact(const ContactRecord& c, ContactOverlay& o,
                            const RegistryTextReader& read_registry) {
  switch (c.call_handling[0]) {
    case '2':
      o.ContactBlock = true;
      break;
    case '3':
      o.ContactIgnore = true;
      break;
    case '4':
      ApplySwitch(c.detect_pick_up, o.detect_pick_up);
      ApplySwitch(c.run_ans_if_not_answered, o.answer_if_not_answered);
      o.greeting_file = std::string(Field(c.greeting)) + ".wav";
      ApplySwitch(c.record_message, o.record_message);
      ApplyNumber(c.num_of_ring, o.rings_to_answer);
      break;
    default:
      break;
  }

  switch (c.announcements[0]) {
    case '1':
      ReadGeneralAnnouncements(o, read_registry);
      break;
    case '2':
      o.show_call_on_incoming = false;
      o.show_line_control_on_call = false;
      o.play_sound_on_incoming = false;
      o.say_on_incoming = false;
      break;
    case '3':
      ApplySwitch(c.view_line_control, o.show_line_control_on_call);
      ApplyNumber(c.display_style, o.call_display_style);
      ApplySwitch(c.view_cd, o.show_call_on_incoming);
      ApplySwitch(c.play_sound, o.play_sound_on_incoming);
      o.incoming_sound = std::string(Field(c.sound_name));
      ApplySwitch(c.say, o.say_on_incoming);
      o.incoming_text = std::string(Field(c.say_text));
      break;
    default:
      break;
  }

  switch (c.forwarding[0]) {
    case '2':
      o.forward_by_mail = false;
      break;
    case '3':
      ApplySwitch(c.send_to_mail, o.forward_by_mail);
      ApplyNumber(c.act_mail, o.mail_when);
      o.mail_to = std::string(Field(c.mail_to));
      ApplySwitch(c.app, o.forward_to_app);
      ApplyNumber(c.act_app, o.app_when);
      o.app_command = std::string(Field(c.app_to));
      break;
    default:
      break;
  }
}

bool IsDialableNumber(std::string_view number) {
  bool digit = false;
  for (size_t i = 0; i < number.size(); ++i) {
    const char c = number[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (!(c == '*' || c == '#' || (c == '+' && i == 0) ||
                 std::strchr(" -()/.", c) != nullptr) ||
               c == '\0') {
      return false;
    }
  }
  return digit;
}

bool Contacts::ReadAll(std::vector<ContactRecord>& records) const {
  std::string data;
  if (!ReadWholeFile(path_, data)) return false;
  records.resize(data.size() / ContactRecord::kSize);
  for (size_t i = 0; i < records.size(); ++i)
    std::memcpy(records[i].bytes(), data.data() + i * ContactRecord::kSize,
                ContactRecord::kSize);
  return true;
}

bool Contacts::WriteAll(const std::vector<ContactRecord>& records) const {
  std::string data;
  data.reserve(records.size() * ContactRecord::kSize);
  for (const ContactRecord& r : records)
    data.append(r.bytes(), ContactRecord::kSize);
  return ReplaceFile(path_, path_ + ".new", data);
}

}  // namespace lw
