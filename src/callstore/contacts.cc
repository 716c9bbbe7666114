#include "callstore/contacts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

#include "base/paths.h"
#include "base/text.h"
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

// Hands every whole record of the open contact file to `visit`, from record
// 1 upward, until it returns false. A read failure ends the list there.
template <typename Visit>
void ForEachContact(int fd, Visit visit) {
  auto buffer =
      std::make_unique<char[]>(kRecordsPerRead * ContactRecord::kSize);
  off_t offset = 0;
  for (;;) {
    ssize_t got;
    do {
      got = ::pread(fd, buffer.get(), kRecordsPerRead * ContactRecord::kSize,
                    offset);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return;
    // Only whole records count; a trailing partial record is not a contact.
    // A short read in the middle of the file (it shrank meanwhile) is picked
    // up again from the next whole record.
    const size_t whole = static_cast<size_t>(got) / ContactRecord::kSize;
    if (whole == 0) return;
    for (size_t i = 0; i < whole; ++i)
      if (!visit(buffer.get() + i * ContactRecord::kSize)) return;
    offset += static_cast<off_t>(whole * ContactRecord::kSize);
  }
}

std::vector<ContactMatcher::Entry> ReadEntries(int fd) {
  std::vector<ContactMatcher::Entry> entries;
  ForEachContact(fd, [&entries](const char* rec) {
    entries.push_back(
        {std::string(Field(rec + offsetof(ContactRecord, caller_name), 40)),
         std::string(Field(rec + offsetof(ContactRecord, caller_number), 40)),
         std::string(Field(rec + offsetof(ContactRecord, name),
                           sizeof(ContactRecord::name))),
         rec[offsetof(ContactRecord, call_handling)] == '2'});
    return true;
  });
  return entries;
}

// The separators a typed number may hold between its characters.
constexpr std::string_view kSeparators = " -()/.";

// Whether a contact number is found by its exact text alone: no separators,
// no wildcards, no kind of caller.
// (Asked of every record FindContact reads, so one pass without a search.)
bool IsPlainNumber(std::string_view number) {
  for (const char c : number) {
    switch (c) {
      case ' ':
      case '-':
      case '(':
      case ')':
      case '/':
      case '.':
      case '?':
      case '*':
        return false;
      default:
        break;
    }
  }
  return number != kWithheldContact && number != kUnknownContact;
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
  if (EqualsNoCase(text, "true")) {
    out = true;
    return true;
  }
  if (EqualsNoCase(text, "false")) {
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

CallerNumberKind ClassifyCallerNumber(std::string_view number) {
  number = TrimField(number);
  // The words below start with letters; most callers send digits.
  if (!number.empty() &&
      ((number[0] >= '0' && number[0] <= '9') || number[0] == '+'))
    return CallerNumberKind::kNumber;
  for (const std::string_view word :
       {kWithheldContact, std::string_view("P"), std::string_view("PRIVATE"),
        std::string_view("ANONYMOUS"), std::string_view("RESTRICTED")})
    if (EqualsNoCase(number, word)) return CallerNumberKind::kWithheld;
  if (number.empty()) return CallerNumberKind::kUnknown;
  for (const std::string_view word :
       {kUnknownContact, std::string_view("O"), std::string_view("UNAVAILABLE"),
        std::string_view("OUT OF AREA")})
    if (EqualsNoCase(number, word)) return CallerNumberKind::kUnknown;
  return CallerNumberKind::kNumber;
}

bool IsContactNumber(std::string_view number) {
  if (number == kWithheldContact || number == kUnknownContact ||
      number == "*" || IsDialableNumber(number))
    return true;
  // A pattern: dialable once its "?" are digits and its trailing "*" is gone.
  std::string digits(number);
  if (!digits.empty() && digits.back() == '*') digits.pop_back();
  std::replace(digits.begin(), digits.end(), '?', '0');
  return IsDialableNumber(digits);
}

ContactMatcher::ContactMatcher(std::vector<Entry> entries)
    : entries_(std::move(entries)), next_same_number_(entries_.size(), kNone) {
  std::vector<size_t> last(entries_.size());  // of the first's chain
  exact_.reserve(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) {
    const std::string_view number = entries_[i].caller_number;
    if (auto [it, fresh] = exact_.try_emplace(number, i); fresh) {
      last[i] = i;
    } else {
      next_same_number_[last[it->second]] = i;
      last[it->second] = i;
    }
    if (IsPlainNumber(number)) continue;
    if (number == kWithheldContact) {
      if (withheld_ == kNone) withheld_ = i;
      continue;
    }
    if (number == kUnknownContact) {
      if (unknown_ == kNone) unknown_ = i;
      continue;
    }
    Pattern p;
    p.index = i;
    p.rest = !number.empty() && number.back() == '*';
    for (const char c : number.substr(0, number.size() - (p.rest ? 1 : 0))) {
      if (kSeparators.find(c) != std::string_view::npos) continue;
      p.text += c;
      if (c == '?') ++p.questions;
    }
    if (p.rest || p.questions > 0)
      patterns_.push_back(std::move(p));
    else if (!p.text.empty() && p.text != number)
      written_.try_emplace(std::move(p.text), i);
  }
  std::stable_sort(patterns_.begin(), patterns_.end(),
                   [](const Pattern& a, const Pattern& b) {
                     if (a.text.size() != b.text.size())
                       return a.text.size() > b.text.size();
                     if (a.questions != b.questions)
                       return a.questions < b.questions;
                     return !a.rest && b.rest;
                   });
}

bool ContactMatcher::Matches(const Pattern& p, std::string_view number) {
  if (number.size() < p.text.size() ||
      (!p.rest && number.size() != p.text.size()))
    return false;
  for (size_t i = 0; i < p.text.size(); ++i) {
    const char want = p.text[i];
    const char got = number[i];
    if (want == '?' ? (got < '0' || got > '9') : want != got) return false;
  }
  return true;
}

size_t ContactMatcher::Find(std::string_view caller_number) const {
  if (auto it = exact_.find(caller_number); it != exact_.end())
    return it->second;
  switch (ClassifyCallerNumber(caller_number)) {
    case CallerNumberKind::kWithheld:
      return withheld_;
    case CallerNumberKind::kUnknown:
      return unknown_;
    case CallerNumberKind::kNumber:
      break;
  }
  if (auto it = written_.find(caller_number); it != written_.end())
    return it->second;
  for (const Pattern& p : patterns_)
    if (Matches(p, caller_number)) return p.index;
  return kNone;
}

const ContactMatcher::Entry* ContactMatcher::Named(
    std::string_view caller_name, std::string_view caller_number) const {
  if (auto it = exact_.find(caller_number); it != exact_.end()) {
    for (size_t i = it->second; i != kNone; i = next_same_number_[i])
      if (entries_[i].caller_name == caller_name) return &entries_[i];
    return nullptr;
  }
  const size_t found = Find(caller_number);
  return found == kNone ? nullptr : &entries_[found];
}

ContactMatcher Contacts::Matcher() const {
  const int fd = OpenFile(path_, O_RDONLY);
  if (fd < 0) return ContactMatcher({});
  ContactMatcher matcher(ReadEntries(fd));
  ::close(fd);
  return matcher;
}

std::string Contacts::FindContact(
    std::string_view caller_number, ContactOverlay& options,
    ContactRecord& contact, const RegistryTextReader& read_registry) const {
  const int fd = OpenFile(path_, O_RDONLY);
  if (fd < 0) return "-1";
  // The first contact with the exact number ends the reading. The others
  // that a number can match (kinds, patterns, numbers with separators: few)
  // are kept for the matcher, which decides when no exact number came.
  size_t found = ContactMatcher::kNone;
  std::vector<ContactMatcher::Entry> others;
  std::vector<size_t> records;  // of the others
  size_t record = 0;
  ForEachContact(fd, [&](const char* rec) {
    const std::string_view number =
        Field(rec + offsetof(ContactRecord, caller_number), 40);
    if (number == caller_number) {
      found = record;
      return false;
    }
    if (!IsPlainNumber(number)) {
      others.push_back({"", std::string(number), "", false});
      records.push_back(record);
    }
    ++record;
    return true;
  });
  if (found == ContactMatcher::kNone) {
    const size_t other = ContactMatcher(std::move(others)).Find(caller_number);
    if (other != ContactMatcher::kNone) found = records[other];
  }
  // The record is read from the same open file, so a list replaced
  // meanwhile cannot hand back another contact.
  size_t done = 0;
  while (found != ContactMatcher::kNone && done < ContactRecord::kSize) {
    const ssize_t got =
        ::pread(fd, contact.bytes() + done, ContactRecord::kSize - done,
                static_cast<off_t>(found * ContactRecord::kSize + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  if (done != ContactRecord::kSize) return "-1";
  ApplyContact(contact, options, read_registry);
  return std::to_string(found + 1);
}

std::string Contacts::GetContactName(std::string_view caller_name,
                                     std::string_view caller_number) const {
  const ContactMatcher matcher = Matcher();
  const ContactMatcher::Entry* found =
      matcher.Named(caller_name, caller_number);
  return found == nullptr ? std::string() : found->name;
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
