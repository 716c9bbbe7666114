// lwdctl contacts: lists and adds entries of the contact file
// "\Data\Contactes" (fixed records of 1794 bytes, blank-padded texts). The
// desktop application is the usual editor of the list; this is for setting up
// an installation, demos and tests.
#include "callstore/contacts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/paths.h"
#include "base/system.h"
#include "commands.h"
#include "service/paths.h"

namespace lwdctl {
namespace {

constexpr const char* kUsage =
    "usage: lwdctl contacts list\n"
    "       lwdctl contacts add NAME NUMBER [--caller-name TEXT] [--note "
    "TEXT]\n"
    "                           [--block | --ignore]\n"
    "The contact file is $LINEWARDEN_HOME/Data/Contactes. 'add' appends one\n"
    "contact recognised by its caller NUMBER; --block blocks its calls,\n"
    "--ignore ignores them; otherwise the line's own options apply. Its\n"
    "announcements follow the line's general settings.\n";

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

std::string ContactsPath() {
  return lw::NativePath(lw::ResolveAppPath(), "\\Data\\Contactes");
}

int List() {
  std::ifstream in(ContactsPath(), std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "lwdctl contacts: no contact file at %s\n",
                 ContactsPath().c_str());
    return 1;
  }
  std::string data((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  const size_t n = data.size() / lw::ContactRecord::kSize;
  for (size_t i = 0; i < n; ++i) {
    lw::ContactRecord c;
    std::memcpy(c.bytes(), data.data() + i * lw::ContactRecord::kSize,
                lw::ContactRecord::kSize);
    const char h = c.call_handling[0];
    std::printf("%zu\t%s\t%s\t%s\n", i + 1, Get(c.name, sizeof c.name).c_str(),
                Get(c.caller_number, sizeof c.caller_number).c_str(),
                h == '2'   ? "block"
                : h == '3' ? "ignore"
                           : "");
  }
  return 0;
}

int Add(const Args& args) {
  std::string name, number, caller_name, note;
  char handling = '0';
  size_t positional = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--block") {
      handling = '2';
    } else if (a == "--ignore") {
      handling = '3';
    } else if ((a == "--caller-name" || a == "--note") && i + 1 < args.size()) {
      (a == "--note" ? note : caller_name) = args[++i];
    } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
      std::fprintf(stderr, "lwdctl contacts add: unknown option '%s'\n%s",
                   a.c_str(), kUsage);
      return 2;
    } else if (positional == 0) {
      name = a;
      ++positional;
    } else if (positional == 1) {
      number = a;
      ++positional;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (positional != 2 || number.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  lw::ContactRecord c;
  std::memset(c.bytes(), ' ', lw::ContactRecord::kSize);
  Put(c.name, name);
  Put(c.second_text, note);
  Put(c.caller_name, caller_name.empty() ? name : caller_name);
  Put(c.caller_number, number);
  c.call_handling[0] = handling;
  c.announcements[0] = '1';
  c.forwarding[0] = '1';

  const std::string path = ContactsPath();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(),
                                      ec);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "lwdctl contacts: cannot open %s: %s\n", path.c_str(),
                 lw::ErrnoText(errno).c_str());
    return 1;
  }
  // Append on a whole-record boundary, even after a torn earlier write.
  const off_t end = lseek(fd, 0, SEEK_END);
  const off_t at = end - end % static_cast<off_t>(lw::ContactRecord::kSize);
  const bool ok = pwrite(fd, c.bytes(), lw::ContactRecord::kSize, at) ==
                  static_cast<ssize_t>(lw::ContactRecord::kSize);
  close(fd);
  if (!ok) {
    std::fprintf(stderr, "lwdctl contacts: cannot write %s\n", path.c_str());
    return 1;
  }
  const auto record_number =
      static_cast<long long>(at) /
          static_cast<long long>(lw::ContactRecord::kSize) +
      1;
  std::printf("%lld\n", record_number);
  return 0;
}

}  // namespace

int RunContacts(const Args& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "list") return List();
  if (args[0] == "add") return Add(Args(args.begin() + 1, args.end()));
  std::fprintf(stderr, "lwdctl contacts: unknown subcommand '%s'\n%s",
               args[0].c_str(), kUsage);
  return 2;
}

}  // namespace lwdctl
