// lwdctl contacts: lists, adds, edits and removes entries of the contact
// file "\Data\Contactes" (fixed records of 1794 bytes, blank-padded texts),
// read and replaced whole through the call store's contact list. The desktop
// application is the usual editor of the list; this is for setting up an
// installation, demos and tests.
#include "callstore/contacts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/system.h"
#include "commands.h"
#include "service/paths.h"

namespace lwdctl {
namespace {

constexpr const char* kUsage =
    "usage: lwdctl contacts list\n"
    "       lwdctl contacts add NAME NUMBER [OPTIONS]\n"
    "       lwdctl contacts edit N [--name NAME] [--number NUMBER] [OPTIONS]\n"
    "       lwdctl contacts remove N\n"
    "OPTIONS: [--caller-name TEXT] [--note TEXT] [--block | --ignore | "
    "--answer |\n         --greeting NAME]\n"
    "The contact file is $LINEWARDEN_HOME/Data/Contactes; N is the number "
    "'list'\nshows. A contact is recognised by its caller NUMBER: "
    "one a telephone can dial\n(digits, * and #, a leading +, and blanks, "
    "- ( ) / . between), a pattern (? for\none digit, a trailing * for any "
    "rest: 0900*, +44*, '01632 96\?\?\?\?'), WITHHELD\n(callers who withhold "
    "their number) or UNKNOWN (no number came).\n--block blocks its calls, "
    "--ignore ignores them, --answer lets the line's own\noptions apply "
    "again (the default), --greeting answers them with Greets/NAME.wav\n"
    "(the line's other answering options stay). Its announcements follow "
    "the line's\ngeneral settings.\n";

// Texts are stored as typed (UTF-8). One that does not fit is cut before
// the character that would be split, so the field never ends in part of a
// character; bytes that are not UTF-8 are cut where they fall.
template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::memset(field, ' ', N);
  size_t n = std::min(N, text.size());
  auto continues = [&](size_t i) {
    return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  if (n < text.size() && continues(n)) {
    size_t lead = n;
    while (lead > 0 && n - lead < 3 && continues(lead)) --lead;
    if ((static_cast<unsigned char>(text[lead]) & 0xC0) == 0xC0) n = lead;
  }
  std::memcpy(field, text.data(), n);
}

std::string Get(const char* field, size_t n) {
  std::string s(field, n);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

lw::Contacts ContactFile() { return lw::Contacts(lw::ResolveAppPath()); }

bool ReadAll(const lw::Contacts& file, std::vector<lw::ContactRecord>& all) {
  if (file.ReadAll(all)) return true;
  std::fprintf(stderr, "lwdctl contacts: cannot read %s\n",
               file.path().c_str());
  return false;
}

int WriteAll(const lw::Contacts& file,
             const std::vector<lw::ContactRecord>& all) {
  std::error_code ec;
  std::filesystem::create_directories(
      std::filesystem::path(file.path()).parent_path(), ec);
  if (file.WriteAll(all)) return 0;
  std::fprintf(stderr, "lwdctl contacts: cannot write %s: %s\n",
               file.path().c_str(), lw::ErrnoText(errno).c_str());
  return 1;
}

int List() {
  const lw::Contacts file = ContactFile();
  std::vector<lw::ContactRecord> all;
  if (!ReadAll(file, all)) return 1;
  for (size_t i = 0; i < all.size(); ++i) {
    const lw::ContactRecord& c = all[i];
    const char h = c.call_handling[0];
    std::printf("%zu\t%s\t%s\t%s\n", i + 1, Get(c.name, sizeof c.name).c_str(),
                Get(c.caller_number, sizeof c.caller_number).c_str(),
                h == '2'   ? "block"
                : h == '3' ? "ignore"
                : h == '4' ? "greeting"
                           : "");
  }
  return 0;
}

// The fields a command line gives; unset ones stay as they are.
struct ContactArgs {
  std::vector<std::string> positional;
  const std::string* name = nullptr;
  const std::string* number = nullptr;
  const std::string* caller_name = nullptr;
  const std::string* note = nullptr;
  const std::string* greeting = nullptr;
  char handling = 0;
};

bool ContactNumberOk(const std::string* number) {
  if (number == nullptr || lw::IsContactNumber(*number)) return true;
  std::fprintf(
      stderr,
      "lwdctl contacts: '%s' is neither a number a telephone can "
      "dial (digits, * and #, a leading +, and blanks, - ( ) / . "
      "between) nor a pattern (0900*, 01632 96\?\?\?\?) nor WITHHELD or "
      "UNKNOWN\n",
      number->c_str());
  return false;
}

bool Parse(const Args& args, bool edit, ContactArgs& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool more = i + 1 < args.size();
    if (a == "--block" || a == "--ignore" || a == "--answer") {
      out.handling = a == "--block" ? '2' : a == "--ignore" ? '3' : '0';
    } else if (a == "--caller-name" && more) {
      out.caller_name = &args[++i];
    } else if (a == "--note" && more) {
      out.note = &args[++i];
    } else if (a == "--greeting" && more) {
      out.greeting = &args[++i];
      out.handling = '4';
    } else if (edit && a == "--name" && more) {
      out.name = &args[++i];
    } else if (edit && a == "--number" && more) {
      out.number = &args[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "lwdctl contacts: unknown option '%s'\n%s",
                   a.c_str(), kUsage);
      return false;
    } else {
      out.positional.push_back(a);
    }
  }
  return ContactNumberOk(out.number);
}

void Fill(lw::ContactRecord& c, const ContactArgs& a) {
  if (a.name != nullptr) Put(c.name, *a.name);
  if (a.note != nullptr) Put(c.second_text, *a.note);
  if (a.caller_name != nullptr) Put(c.caller_name, *a.caller_name);
  if (a.number != nullptr) Put(c.caller_number, *a.number);
  if (a.handling != 0) c.call_handling[0] = a.handling;
  if (a.greeting != nullptr) {
    // Own answering: answered with this greeting; the switches and rings
    // left blank keep the line's options.
    Put(c.greeting, *a.greeting);
    c.run_ans_if_not_answered[0] = '1';
  }
}

// The record number N of the list; 0 (said) when there is no such contact.
size_t Index(const std::string& text, size_t count) {
  size_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9' || n > count) {
      n = 0;
      break;
    }
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  if (n >= 1 && n <= count) return n;
  std::fprintf(
      stderr, "lwdctl contacts: no contact '%s' (see 'lwdctl contacts list')\n",
      text.c_str());
  return 0;
}

int Add(const Args& args) {
  ContactArgs a;
  if (!Parse(args, false, a)) return 2;
  if (a.positional.size() != 2 || a.positional[1].empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  a.name = &a.positional[0];
  a.number = &a.positional[1];
  if (!ContactNumberOk(a.number)) return 2;
  if (a.caller_name == nullptr) a.caller_name = a.name;
  lw::ContactRecord c;
  std::memset(c.bytes(), ' ', lw::ContactRecord::kSize);
  c.call_handling[0] = '0';
  c.announcements[0] = '1';
  c.forwarding[0] = '1';
  Fill(c, a);
  const lw::Contacts file = ContactFile();
  std::vector<lw::ContactRecord> all;
  if (!ReadAll(file, all)) return 1;
  all.push_back(c);
  if (const int rc = WriteAll(file, all); rc != 0) return rc;
  std::printf("%zu\n", all.size());
  return 0;
}

int Edit(const Args& args, bool remove) {
  ContactArgs a;
  if (!Parse(args, true, a)) return 2;
  if (a.positional.size() != 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const lw::Contacts file = ContactFile();
  std::vector<lw::ContactRecord> all;
  if (!ReadAll(file, all)) return 1;
  const size_t n = Index(a.positional[0], all.size());
  if (n == 0) return 1;
  if (remove) {
    all.erase(all.begin() + static_cast<std::ptrdiff_t>(n - 1));
  } else {
    Fill(all[n - 1], a);
  }
  return WriteAll(file, all);
}

}  // namespace

int RunContacts(const Args& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "list") return List();
  const Args rest(args.begin() + 1, args.end());
  if (args[0] == "add") return Add(rest);
  if (args[0] == "edit") return Edit(rest, false);
  if (args[0] == "remove") return Edit(rest, true);
  std::fprintf(stderr, "lwdctl contacts: unknown subcommand '%s'\n%s",
               args[0].c_str(), kUsage);
  return 2;
}

}  // namespace lwdctl
