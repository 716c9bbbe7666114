// lwdctl reg: reads and writes the settings store as the desktop application
// does, and moves settings in and out as registry export files.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/system.h"
#include "commands.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "service/paths.h"
#include "settings/known_settings.h"
#include "settings/reg_file.h"
#include "settings/registry_routines.h"

namespace lwdctl {
namespace {

constexpr const char* kSectionNote =
    "SECTION is a key below HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\"
    "Linewarden 1.0, written\n"
    "like 'Answer\\TabAnsweringMachine' ('' is the product key itself); "
    "section and\n"
    "value names compare without regard to case. The store is "
    "$LINEWARDEN_REGISTRY,\n"
    "else $LINEWARDEN_HOME/registry.db (LINEWARDEN_HOME defaults to the "
    "program's folder).\n";

constexpr const char* kRegUsage =
    "usage: lwdctl reg SUBCOMMAND [ARGS]\n"
    "subcommands:\n"
    "  get SECTION NAME          print a value\n"
    "  set SECTION NAME DATA...  write a value (creates the section)\n"
    "  list [SECTION]            list the subkeys and values of a section\n"
    "  delete SECTION [NAME]     delete a value, or a section with all below "
    "it\n"
    "  import FILE.reg           apply a registry export file ('-': standard "
    "input)\n"
    "  export [SECTION]          write a section (default: all settings) as a\n"
    "                            registry export file to standard output\n"
    "Run 'lwdctl reg SUBCOMMAND --help' for details.\n";

constexpr const char* kGetHelp =
    "usage: lwdctl reg get SECTION NAME\n"
    "Prints the value as the process reads it: texts as they are "
    "(REG_EXPAND_SZ\n"
    "with %VAR% replaced from the environment), REG_DWORD in decimal,\n"
    "REG_MULTI_SZ one text per line, REG_BINARY as hexadecimal bytes ('0A FF "
    "00').\n"
    "A value the process reads as empty (a REG_MULTI_SZ whose first text is\n"
    "empty, a REG_DWORD that is not four bytes, another type) prints an empty\n"
    "line, and standard error shows its bytes. Exit status 1 when the "
    "section or\n"
    "value is missing.\n";

constexpr const char* kSetHelp =
    "usage: lwdctl reg set SECTION NAME DATA... [--type TYPE] [--force]\n"
    "Writes a value, creating the section first when needed. A NAME that is\n"
    "not a setting the process reads in SECTION, and DATA of the wrong kind "
    "for\n"
    "a numeric or on/off setting, are refused (naming the nearest settings or\n"
    "what is allowed) and nothing is written; --force writes them all the "
    "same.\n"
    "TYPE is one of\nthe following, in any case and with or without 'REG_' "
    "before it:\n"
    "  sz         text (default)\n"
    "  expand_sz  text in which %VAR% is replaced from the environment on "
    "reading\n"
    "  multi_sz   several texts: one DATA argument per text\n"
    "  binary     bytes in hexadecimal: '01 02 ff', '01,02,ff' or '0102ff'\n"
    "  dword      a 32-bit number: decimal (-2147483648 to 4294967295) or 0x "
    "hexadecimal\n"
    "Every type but multi_sz takes exactly one DATA. Put '--' before DATA "
    "that\n"
    "starts with '--'.\n";

constexpr const char* kListHelp =
    "usage: lwdctl reg list [SECTION]\n"
    "Prints the subkeys of the section (one per line, ending in '\\'), then "
    "one\n"
    "line per value: NAME, TYPE and DATA separated by tabs ('@' is the "
    "default\n"
    "value; REG_BINARY as hexadecimal bytes, REG_MULTI_SZ joined by ',').\n";

constexpr const char* kDeleteHelp =
    "usage: lwdctl reg delete SECTION [NAME]\n"
    "With NAME, deletes that value; without, deletes the section with all its\n"
    "subkeys and values. Exit status 1 when it does not exist.\n";

constexpr const char* kImportHelp =
    "usage: lwdctl reg import FILE.reg\n"
    "Applies a registry export file ('Windows Registry Editor Version 5.00' "
    "or\n"
    "'REGEDIT4'; UTF-8, UTF-16LE with byte-order mark, or 8-bit text): [KEY]\n"
    "creates a key, \"NAME\"=DATA writes a value, \"NAME\"=- deletes one, "
    "[-KEY]\n"
    "deletes a key tree. The whole file is checked first: a malformed file is\n"
    "refused with its line number and nothing is written. Keys outside\n"
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0 are not imported;\n"
    "each is named on standard error. Texts are stored as UTF-8. '-' reads\n"
    "standard input.\n";

constexpr const char* kExportHelp =
    "usage: lwdctl reg export [SECTION] [--utf16]\n"
    "Writes the section (default: every setting) with everything below it to\n"
    "standard output as a registry export file in UTF-8, which 'lwdctl reg\n"
    "import' reads back exactly. --utf16 writes it as the registry editor\n"
    "does: UTF-16LE with a byte-order mark and CR LF line ends.\n";

struct Parsed {
  std::vector<std::string> positional;
  std::string type = "sz";
  bool type_given = false;
  bool force = false;
  bool help = false;
  std::string error;
};

Parsed ParseArgs(const Args& args, bool allow_type) {
  Parsed p;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options && a == "--") {
      options = false;
    } else if (options && (a == "--help" || a == "-h")) {
      p.help = true;
    } else if (options && allow_type && a == "--force") {
      p.force = true;
    } else if (options && allow_type && a == "--type") {
      if (i + 1 >= args.size()) {
        p.error = "--type needs a TYPE";
        return p;
      }
      p.type = args[++i];
      p.type_given = true;
    } else if (options && allow_type && a.rfind("--type=", 0) == 0) {
      p.type = a.substr(7);
      p.type_given = true;
    } else if (options && a.size() > 1 && a[0] == '-' && a[1] == '-') {
      p.error = "unknown option '" + a + "'";
      return p;
    } else {
      p.positional.push_back(a);
    }
  }
  return p;
}

// A usage error: the message, the usage line of the subcommand, exit 2.
int Usage(const char* sub, const std::string& message, const char* help) {
  const std::string_view h(help);
  const std::string_view usage = h.substr(0, h.find('\n'));
  std::fprintf(
      stderr, "lwdctl reg %s: %s\n%.*s\n(see 'lwdctl reg %s --help')\n", sub,
      message.c_str(), static_cast<int>(usage.size()), usage.data(), sub);
  return 2;
}

int Failure(const char* sub, const std::string& message) {
  std::fprintf(stderr, "lwdctl reg %s: %s\n", sub, message.c_str());
  return 1;
}

// Text crosses here between the terminal and the store, and it crosses as
// bytes: names and texts are stored exactly as typed (UTF-8 on a UTF-8
// terminal), so a greeting set as "Grüße" names the file "Greets/Grüße.wav"
// byte for byte, and stored texts are printed as their bytes, those of an
// old Latin-1 store included.

std::string SectionPath(const std::string& section) {
  return std::string(lw::kKeyRoot) + "\\" + section;
}

std::string HexBytes(std::string_view data) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += ' ';
    const auto b = static_cast<uint8_t>(data[i]);
    out += kHex[b >> 4];
    out += kHex[b & 0xf];
  }
  return out;
}

std::string TypeName(uint32_t type) {
  switch (type) {
    case lw::REG_SZ:
      return "REG_SZ";
    case lw::REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case lw::REG_BINARY:
      return "REG_BINARY";
    case lw::REG_DWORD:
      return "REG_DWORD";
    case lw::REG_MULTI_SZ:
      return "REG_MULTI_SZ";
  }
  return "type " + std::to_string(type);
}

std::optional<std::string> ParseHexBytes(std::string_view s) {
  std::string out;
  int nibbles = 0;
  int cur = 0;
  auto flush = [&]() {
    if (nibbles > 0) out += static_cast<char>(cur);
    nibbles = 0;
    cur = 0;
  };
  for (char c : s) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d >= 0) {
      cur = cur * 16 + d;
      if (++nibbles == 2) flush();
    } else if (c == ' ' || c == ',' || c == ':' || c == '\t') {
      if (nibbles == 1) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (nibbles == 1) return std::nullopt;
  return out;
}

std::optional<int32_t> ParseDword(std::string_view s) {
  int base = 10;
  bool negative = false;
  if (!s.empty() && s[0] == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size())
    return std::nullopt;
  if (negative) {
    if (v > 2147483648ULL) return std::nullopt;
    return static_cast<int32_t>(-static_cast<int64_t>(v));
  }
  if (v > 0xFFFFFFFFULL) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

class Store {
 public:
  // Only writing a value or importing makes a missing store; reading or
  // deleting from one is an error.
  enum Use { kRead, kDelete, kWrite };
  explicit Store(Use use)
      : path_(lw::ResolveRegistryPath(lw::ResolveAppPath())),
        db_(path_, {.read_only = use == kRead ||
                                 (use == kDelete &&
                                  ::access(path_.c_str(), F_OK) != 0)}) {}
  bool Open(const char* sub) {
    if (db_.IsOpen()) return true;
    if (::access(path_.c_str(), F_OK) != 0) {
      Failure(sub, "no settings store at " + path_ +
                       " ('lwdctl where' shows the home in use)");
      return false;
    }
    Failure(sub,
            "cannot open the settings store " + path_ + ": " + db_.LastError());
    return false;
  }
  lw::SqliteSettingsStore& db() { return db_; }

 private:
  std::string path_;
  lw::SqliteSettingsStore db_;
};

int Get(const Args& args) {
  const Parsed p = ParseArgs(args, false);
  if (p.help) return std::fputs(kGetHelp, stdout), 0;
  if (!p.error.empty()) return Usage("get", p.error, kGetHelp);
  if (p.positional.size() != 2)
    return Usage("get", "expected SECTION and NAME", kGetHelp);
  const std::string& section = p.positional[0];
  const std::string& name = p.positional[1];
  Store store(Store::kRead);
  if (!store.Open("get")) return 1;
  uint32_t type = 0;
  std::string data;
  const lw::StoreStatus st = store.db().GetValue(
      lw::HKEY_LOCAL_MACHINE, SectionPath(section), name, &type, &data);
  if (st == lw::StoreStatus::kNotFound) {
    lw::RegistryRoutines reg(store.db());
    reg.SetSubkey(section);
    if (!reg.KeyExists())
      return Failure("get", "no section '" + p.positional[0] + "'");
    return Failure("get", "no value '" + p.positional[1] + "' in section '" +
                              p.positional[0] + "'");
  }
  if (st != lw::StoreStatus::kOk) return Failure("get", store.db().LastError());
  // What the process reads, rendered: text as it is (REG_MULTI_SZ one text
  // per line), a number in decimal, bytes in hexadecimal. A value the
  // process reads as empty (a REG_MULTI_SZ whose first text is empty, a
  // REG_DWORD of another size than four bytes, a type it does not know)
  // prints an empty line, and standard error says why.
  const lw::RegValue read = lw::DecodeRegValue(type, data, {});
  std::string out;
  if (const auto* bytes = std::get_if<lw::RegBytes>(&read)) {
    out = HexBytes(std::string_view(
        reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  } else {
    out = lw::RegValueText(read);
  }
  if (type == lw::REG_MULTI_SZ)
    std::replace(out.begin(), out.end(), '\0', '\n');
  out += '\n';
  if (lw::IsEmpty(read) && !data.empty()) {
    std::fprintf(stderr,
                 "lwdctl reg get: the process reads this %s value as empty "
                 "(stored: %s)\n",
                 TypeName(type).c_str(), HexBytes(data).c_str());
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

// Why the process would not read `value` as the setting `name` in `section`;
// empty when it would.
std::string Unguarded(const std::string& section, const std::string& name,
                      uint32_t type, const lw::RegValue& value) {
  auto nearest = [&] {
    std::string list;
    for (const std::string& n : lw::NearestSettingNames(section, name, 3))
      list += (list.empty() ? "" : ", ") + n;
    return list;
  };
  if (!lw::IsKnownSection(section))
    return "'" + section +
           "' is not a section the process reads (did you mean " + nearest() +
           "?)";
  const lw::KnownSetting* known = lw::FindKnownSetting(section, name);
  if (known == nullptr)
    return "'" + name + "' is not a setting the process reads in '" + section +
           "' (did you mean " + nearest() + "?)";
  if (known->kind == lw::SettingKind::kText) return "";
  const bool text = type == lw::REG_SZ || type == lw::REG_EXPAND_SZ;
  std::string shown;
  if (text || type == lw::REG_DWORD) {
    shown = lw::RegValueText(value);
    const std::string allowed = lw::SettingValueProblem(known->kind, shown);
    if (allowed.empty()) return "";
    return std::string(known->name) + " takes " + allowed + ", not '" + shown +
           "'";
  }
  return std::string(known->name) + " takes a text or a dword";
}

int Set(const Args& args) {
  const Parsed p = ParseArgs(args, true);
  if (p.help) return std::fputs(kSetHelp, stdout), 0;
  if (!p.error.empty()) return Usage("set", p.error, kSetHelp);
  if (p.positional.size() < 3)
    return Usage("set", "expected SECTION, NAME and DATA", kSetHelp);
  const std::string& section = p.positional[0];
  const std::string& name = p.positional[1];
  if ((section + name).find_first_of("\r\n") != std::string::npos)
    return Usage("set", "names must not contain line breaks", kSetHelp);
  const std::vector<std::string> data(p.positional.begin() + 2,
                                      p.positional.end());
  // "--type DWORD" and "--type REG_DWORD", as list prints it, mean dword.
  std::string type = p.type;
  for (char& c : type)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (type.starts_with("reg_")) type.erase(0, 4);
  lw::RegValue value;
  uint32_t dtype = 0;
  if (type == "multi_sz") {
    dtype = lw::REG_MULTI_SZ;
    std::string joined;
    for (size_t i = 0; i < data.size(); ++i) {
      if (data[i].empty())
        return Usage("set", "multi_sz texts must not be empty", kSetHelp);
      if (i > 0) joined += '\0';
      joined += data[i];
    }
    value = joined;
  } else if (data.size() != 1) {
    return Usage("set",
                 "--type " + type +
                     " takes one DATA (use --type multi_sz for several texts)",
                 kSetHelp);
  } else if (type == "sz" || type == "expand_sz") {
    dtype = type == "sz" ? lw::REG_SZ : lw::REG_EXPAND_SZ;
    value = data[0];
  } else if (type == "binary") {
    dtype = lw::REG_BINARY;
    const auto bytes = ParseHexBytes(data[0]);
    if (!bytes)
      return Usage("set", "binary DATA must be hexadecimal bytes, e.g. '01 ff'",
                   kSetHelp);
    value = lw::RegBytes(bytes->begin(), bytes->end());
  } else if (type == "dword") {
    dtype = lw::REG_DWORD;
    const auto n = ParseDword(data[0]);
    if (!n)
      return Usage("set", "dword DATA must be a 32-bit number, e.g. 10 or 0x0a",
                   kSetHelp);
    value = *n;
  } else {
    return Usage("set", "unknown --type '" + p.type + "'", kSetHelp);
  }
  if (!p.force) {
    const std::string problem = Unguarded(section, name, dtype, value);
    if (!problem.empty())
      return Failure("set",
                     problem + "; nothing was written (--force writes it)");
  }
  Store store(Store::kWrite);
  if (!store.Open("set")) return 1;
  lw::RegistryRoutines reg(store.db());
  reg.SetSubkey(section);
  if (reg.CreateKey().empty())
    return Failure("set", "cannot create section '" + p.positional[0] +
                              "': " + store.db().LastError());
  if (!reg.SetRegistryValue(name, value, dtype))
    return Failure("set", "cannot write the value: " + store.db().LastError());
  return 0;
}

int List(const Args& args) {
  const Parsed p = ParseArgs(args, false);
  if (p.help) return std::fputs(kListHelp, stdout), 0;
  if (!p.error.empty()) return Usage("list", p.error, kListHelp);
  if (p.positional.size() > 1)
    return Usage("list", "expected at most one SECTION", kListHelp);
  const std::string section =
      p.positional.empty() ? std::string() : p.positional[0];
  Store store(Store::kRead);
  if (!store.Open("list")) return 1;
  const std::string path = SectionPath(section);
  std::vector<std::string> keys;
  std::vector<lw::StoredValue> values;
  lw::StoreStatus st =
      store.db().ListSubkeys(lw::HKEY_LOCAL_MACHINE, path, &keys);
  if (st == lw::StoreStatus::kOk)
    st = store.db().ListValues(lw::HKEY_LOCAL_MACHINE, path, &values);
  if (st == lw::StoreStatus::kNotFound)
    return Failure("list", "no section '" + section + "'");
  if (st != lw::StoreStatus::kOk)
    return Failure("list", store.db().LastError());
  std::string out;
  for (const std::string& k : keys) out += k + "\\\n";
  lw::RegistryRoutines reg(store.db());
  const auto rendered = reg.EnumRegistryValues(lw::HKEY_LOCAL_MACHINE, path);
  for (size_t i = 0; i < values.size() && i < rendered.size(); ++i) {
    out += values[i].name.empty() ? "@" : values[i].name;
    out += '\t' + TypeName(values[i].type) + '\t';
    out += lw::RegValueText(rendered[i].second) + '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int Delete(const Args& args) {
  const Parsed p = ParseArgs(args, false);
  if (p.help) return std::fputs(kDeleteHelp, stdout), 0;
  if (!p.error.empty()) return Usage("delete", p.error, kDeleteHelp);
  if (p.positional.empty() || p.positional.size() > 2)
    return Usage("delete", "expected SECTION and an optional NAME",
                 kDeleteHelp);
  const std::string& section = p.positional[0];
  if (p.positional.size() == 1 && lw::NormalizeKeyPath(section).empty())
    return Usage("delete", "refusing to delete every setting; name a SECTION",
                 kDeleteHelp);
  Store store(Store::kDelete);
  if (!store.Open("delete")) return 1;
  lw::StoreStatus st;
  if (p.positional.size() == 2) {
    st = store.db().DeleteValue(lw::HKEY_LOCAL_MACHINE, SectionPath(section),
                                p.positional[1]);
    if (st == lw::StoreStatus::kNotFound)
      return Failure("delete", "no value '" + p.positional[1] +
                                   "' in section '" + p.positional[0] + "'");
  } else {
    st = store.db().DeleteKey(lw::HKEY_LOCAL_MACHINE, SectionPath(section),
                              true);
    if (st == lw::StoreStatus::kNotFound)
      return Failure("delete", "no section '" + p.positional[0] + "'");
  }
  if (st != lw::StoreStatus::kOk)
    return Failure("delete", store.db().LastError());
  return 0;
}

int Import(const Args& args) {
  const Parsed p = ParseArgs(args, false);
  if (p.help) return std::fputs(kImportHelp, stdout), 0;
  if (!p.error.empty()) return Usage("import", p.error, kImportHelp);
  if (p.positional.size() != 1)
    return Usage("import", "expected one FILE", kImportHelp);
  const std::string& file = p.positional[0];
  std::string text;
  if (file == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), {});
  } else {
    std::ifstream in(file, std::ios::binary);
    if (!in) return Failure("import", file + ": " + lw::ErrnoText(errno));
    text.assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) return Failure("import", file + ": read error");
  }
  Store store(Store::kWrite);
  if (!store.Open("import")) return 1;
  std::string error;
  std::vector<std::string> outside;
  if (!lw::ImportRegFile(store.db(), text, lw::HKEY_LOCAL_MACHINE, lw::kKeyRoot,
                         &outside, &error))
    return Failure("import", file + ": " + error + " (nothing was imported)");
  // The process and list/export see only the product key: anything else
  // would be stored out of sight.
  for (const std::string& key : outside) {
    std::fprintf(stderr,
                 "lwdctl reg import: %s: [%s] is outside "
                 "HKEY_LOCAL_MACHINE\\%s: not imported\n",
                 file.c_str(), key.c_str(), std::string(lw::kKeyRoot).c_str());
  }
  return 0;
}

int Export(const Args& all_args) {
  Args args;
  bool utf16 = false;
  for (const std::string& a : all_args) {
    if (a == "--utf16" &&
        std::find(args.begin(), args.end(), "--") == args.end()) {
      utf16 = true;
    } else {
      args.push_back(a);
    }
  }
  const Parsed p = ParseArgs(args, false);
  if (p.help) return std::fputs(kExportHelp, stdout), 0;
  if (!p.error.empty()) return Usage("export", p.error, kExportHelp);
  if (p.positional.size() > 1)
    return Usage("export", "expected at most one SECTION", kExportHelp);
  const std::string section =
      p.positional.empty() ? std::string() : p.positional[0];
  Store store(Store::kRead);
  if (!store.Open("export")) return 1;
  std::string text;
  std::string error;
  if (!lw::ExportRegFile(store.db(), lw::HKEY_LOCAL_MACHINE,
                         SectionPath(section), &text, &error)) {
    if (error == "no such key")
      return Failure("export", "no section '" + section + "'");
    return Failure("export", error);
  }
  if (utf16) text = lw::RegFileAsUtf16(text);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int RunReg(const Args& args) {
  if (args.empty()) {
    std::fputs(kRegUsage, stderr);
    std::fputs(kSectionNote, stderr);
    return 2;
  }
  const std::string& sub = args[0];
  if (sub == "--help" || sub == "-h" || sub == "help") {
    std::fputs(kRegUsage, stdout);
    std::fputs(kSectionNote, stdout);
    return 0;
  }
  const Args rest(args.begin() + 1, args.end());
  if (sub == "get") return Get(rest);
  if (sub == "set") return Set(rest);
  if (sub == "list") return List(rest);
  if (sub == "delete") return Delete(rest);
  if (sub == "import") return Import(rest);
  if (sub == "export") return Export(rest);
  std::fprintf(stderr, "lwdctl reg: unknown subcommand '%s'\n%s", sub.c_str(),
               kRegUsage);
  return 2;
}

}  // namespace lwdctl
