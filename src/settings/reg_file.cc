#include "settings/reg_file.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "base/text.h"
#include "base/utf8.h"

namespace lw {
namespace {

constexpr char32_t kBad = 0xFFFD;

struct RootName {
  uint32_t root;
  std::string_view name;
  std::string_view short_name;
};
constexpr RootName kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {HKEY_USERS, "HKEY_USERS", "HKU"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"},
};

// Decodes one UTF-8 character at `*i` and steps past it; false for bytes
// that are not one.
bool NextUtf8(std::string_view s, size_t* i, char32_t* out) {
  const size_t length = Utf8CharLength(s, *i, out);
  *i += length;
  return length != 0;
}

std::optional<std::u32string> DecodeUtf8(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    char32_t c;
    if (!NextUtf8(s, &i, &c)) return std::nullopt;
    out += c;
  }
  return out;
}

std::u32string DecodeUtf16Le(std::string_view s) {
  std::u32string out;
  out.reserve(s.size() / 2);
  size_t i = 0;
  auto unit = [&](size_t at) {
    return static_cast<char32_t>(static_cast<uint8_t>(s[at]) |
                                 (static_cast<uint8_t>(s[at + 1]) << 8));
  };
  while (i + 1 < s.size()) {
    char32_t c = unit(i);
    i += 2;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) {
      const char32_t lo = unit(i);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      } else {
        c = kBad;
      }
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kBad;
    }
    out += c;
  }
  if (i < s.size()) out += kBad;
  return out;
}

// The file's characters, by the rules in the header.
std::u32string DecodeFile(std::string_view file) {
  if (file.size() >= 2 && static_cast<uint8_t>(file[0]) == 0xFF &&
      static_cast<uint8_t>(file[1]) == 0xFE)
    return DecodeUtf16Le(file.substr(2));
  if (file.size() >= 3 && file.substr(0, 3) == "\xEF\xBB\xBF")
    file.remove_prefix(3);
  if (auto utf8 = DecodeUtf8(file)) return std::move(*utf8);
  std::u32string out;
  out.reserve(file.size());
  for (char c : file) out += static_cast<uint8_t>(c);
  return out;
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsBlank(char32_t c) { return c == ' ' || c == '\t'; }

bool StartsWithNoCase(std::u32string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char32_t c = s[i];
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    if (c != static_cast<char32_t>(prefix[i])) return false;
  }
  return true;
}

int HexDigit(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

std::string CharName(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

class Parser {
 public:
  explicit Parser(std::string_view file) : text_(DecodeFile(file)) {
    size_t i = 0;
    while (i <= text_.size()) {
      size_t j = text_.find(U'\n', i);
      if (j == std::u32string::npos) j = text_.size();
      std::u32string_view line(text_.data() + i, j - i);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(line);
      i = j + 1;
    }
  }

  std::optional<std::vector<StoreChange>> Run(RegFileError* error) {
    error_ = error;
    size_t n = 0;
    // The header: the first line that is not blank.
    while (n < lines_.size() && Trim(lines_[n]).empty()) ++n;
    if (n == lines_.size())
      return Fail(
          0, "empty file: expected \"" + std::string(kRegFileHeader) + "\"");
    const std::u32string_view header = Trim(lines_[n]);
    if (header == U"Windows Registry Editor Version 5.00") {
      utf16_texts_ = true;
    } else if (header == U"REGEDIT4") {
      utf16_texts_ = false;
    } else {
      return Fail(n + 1, "not a registry file: expected \"" +
                             std::string(kRegFileHeader) + "\"");
    }
    for (++n; n < lines_.size(); ++n) {
      line_no_ = n + 1;
      std::u32string_view line = Trim(lines_[n]);
      if (line.empty() || line.front() == ';') continue;
      bool ok;
      if (line.front() == '[') {
        ok = KeyLine(line);
      } else if (line.front() == '"' || line.front() == '@') {
        ok = ValueLine(line, &n);
      } else {
        ok = Error("expected [KEY], \"NAME\"=DATA or @=DATA");
      }
      if (!ok) return std::nullopt;
    }
    return std::move(changes_);
  }

 private:
  std::nullopt_t Fail(size_t line, std::string message) {
    error_->line = static_cast<int>(line);
    error_->message = std::move(message);
    return std::nullopt;
  }
  bool Error(std::string message) {
    Fail(line_no_, std::move(message));
    return false;
  }

  // Appends the UTF-8 form of a character of a name: a zero would cut the
  // name short wherever it is read, and a line break could not be written
  // back into a file.
  bool NameChar(char32_t c, std::string* out) {
    if (c == 0) return Error("zero character in a name");
    if (c == '\r') return Error("line break in a name");
    AppendUtf8(c, out);
    return true;
  }

  bool KeyLine(std::u32string_view line) {
    if (line.back() != ']') return Error("key line without closing \"]\"");
    line = line.substr(1, line.size() - 2);
    const bool remove = !line.empty() && line.front() == '-';
    if (remove) line.remove_prefix(1);
    const size_t slash = line.find(U'\\');
    std::string root_name;
    for (char32_t c : line.substr(0, slash)) {
      if (!NameChar(c, &root_name)) return false;
    }
    const std::optional<uint32_t> root = ParseRootKeyName(root_name);
    if (!root) return Error("unknown root key \"" + root_name + "\"");
    std::string path;
    if (slash != std::u32string_view::npos) {
      for (char32_t c : line.substr(slash + 1)) {
        if (!NameChar(c, &path)) return false;
      }
    }
    path = NormalizeKeyPath(path);
    StoreChange change;
    change.op =
        remove ? StoreChange::Op::kDeleteTree : StoreChange::Op::kCreateKey;
    change.root = *root;
    change.key = path;
    changes_.push_back(std::move(change));
    have_key_ = !remove;
    key_root_ = *root;
    key_ = path;
    return true;
  }

  // A quoted text at the start of `s`; `s` is left after the closing quote.
  bool Quoted(std::u32string_view* s, std::string* out, bool name) {
    size_t i = 1;
    while (i < s->size()) {
      const char32_t c = (*s)[i];
      if (c == '"') {
        s->remove_prefix(i + 1);
        return true;
      }
      if (c == '\\') {
        if (i + 1 >= s->size()) break;
        const char32_t e = (*s)[i + 1];
        if (e != '\\' && e != '"')
          return Error(
              "unknown escape \"\\" +
              (e < 0x80 ? std::string(1, static_cast<char>(e)) : CharName(e)) +
              "\" (only \\\\ and \\\" are allowed)");
        *out += static_cast<char>(e);
        i += 2;
        continue;
      }
      if (name) {
        if (!NameChar(c, out)) return false;
      } else {
        AppendUtf8(c, out);
      }
      ++i;
    }
    return Error("missing closing quote");
  }

  bool ValueLine(std::u32string_view line, size_t* n) {
    if (!have_key_) return Error("value outside a key");
    StoreChange change;
    change.root = key_root_;
    change.key = key_;
    if (key_.empty())
      return Error("values cannot be stored directly under a root key");
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!Quoted(&line, &change.name, true)) {
      return false;
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=')
      return Error("expected \"=\" after the value name");
    line = Trim(line.substr(1));
    if (line == U"-") {
      change.op = StoreChange::Op::kDeleteValue;
      changes_.push_back(std::move(change));
      return true;
    }
    change.op = StoreChange::Op::kSetValue;
    if (!line.empty() && line.front() == '"') {
      if (!Quoted(&line, &change.data, false)) return false;
      if (!Trim(line).empty())
        return Error("unexpected text after the closing quote");
      change.type = REG_SZ;
      change.data += '\0';
    } else if (StartsWithNoCase(line, "dword:")) {
      line.remove_prefix(6);
      if (line.empty() || line.size() > 8)
        return Error("dword: needs 1 to 8 hexadecimal digits");
      uint32_t v = 0;
      for (char32_t c : line) {
        const int d = HexDigit(c);
        if (d < 0) return Error("dword: needs 1 to 8 hexadecimal digits");
        v = (v << 4) | static_cast<uint32_t>(d);
      }
      change.type = REG_DWORD;
      for (int i = 0; i < 4; ++i)
        change.data += static_cast<char>((v >> (8 * i)) & 0xff);
    } else if (StartsWithNoCase(line, "hex")) {
      line.remove_prefix(3);
      change.type = REG_BINARY;
      if (!line.empty() && line.front() == '(') {
        const size_t close = line.find(U')');
        if (close == std::u32string_view::npos || close == 1 || close > 9)
          return Error("hex(N): needs 1 to 8 hexadecimal digits for N");
        uint32_t type = 0;
        for (char32_t c : line.substr(1, close - 1)) {
          const int d = HexDigit(c);
          if (d < 0)
            return Error("hex(N): needs 1 to 8 hexadecimal digits for N");
          type = (type << 4) | static_cast<uint32_t>(d);
        }
        change.type = type;
        line.remove_prefix(close + 1);
      }
      if (line.empty() || line.front() != ':')
        return Error("expected \":\" after hex");
      line.remove_prefix(1);
      std::string bytes;
      if (!HexList(line, n, &bytes)) return false;
      if (!TextBytes(change.type, bytes, &change.data)) return false;
    } else {
      return Error(
          "unknown value data (expected \"TEXT\", dword:, hex:, "
          "hex(N): or -)");
    }
    changes_.push_back(std::move(change));
    return true;
  }

  // Comma-separated bytes, continued on the next line after a trailing
  // backslash.
  bool HexList(std::u32string_view chunk, size_t* n, std::string* out) {
    for (;;) {
      chunk = Trim(chunk);
      bool more = !chunk.empty() && chunk.back() == '\\';
      if (more) chunk.remove_suffix(1);
      size_t i = 0;
      while (i < chunk.size()) {
        while (i < chunk.size() && IsBlank(chunk[i])) ++i;
        size_t j = i;
        int v = 0;
        while (j < chunk.size() && HexDigit(chunk[j]) >= 0 && j - i < 3)
          v = v * 16 + HexDigit(chunk[j++]);
        if (j == i || j - i > 2)
          return Error("expected a byte of two hexadecimal digits");
        *out += static_cast<char>(v);
        while (j < chunk.size() && IsBlank(chunk[j])) ++j;
        if (j < chunk.size() && chunk[j] != ',')
          return Error("expected \",\" between bytes");
        i = j + 1;
      }
      if (!more) return true;
      if (*n + 1 >= lines_.size())
        return Error("line continues past the end of the file");
      ++*n;
      line_no_ = *n + 1;
      chunk = lines_[*n];
    }
  }

  // The store bytes of hex(N) data: UTF-16LE texts become UTF-8, and a lone
  // unit U+DC80..U+DCFF the byte it stands for (see the header).
  bool TextBytes(uint32_t type, const std::string& bytes, std::string* out) {
    const bool text =
        type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (!text || !utf16_texts_) {
      *out = bytes;
      return true;
    }
    if (bytes.size() % 2 != 0)
      return Error("UTF-16 text data with an odd number of bytes");
    out->reserve(bytes.size() / 2);
    auto unit = [&](size_t at) {
      return static_cast<char32_t>(static_cast<uint8_t>(bytes[at]) |
                                   (static_cast<uint8_t>(bytes[at + 1]) << 8));
    };
    for (size_t i = 0; i < bytes.size(); i += 2) {
      char32_t c = unit(i);
      if (c >= 0xD800 && c <= 0xDBFF && i + 2 < bytes.size() &&
          unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
        i += 2;
      } else if (c >= 0xDC80 && c <= 0xDCFF) {
        *out += static_cast<char>(c - 0xDC00);
        continue;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        return Error("unpaired UTF-16 surrogate " + CharName(c) +
                     " in text data");
      }
      AppendUtf8(c, out);
    }
    return true;
  }

  std::u32string text_;
  std::vector<std::u32string_view> lines_;
  std::vector<StoreChange> changes_;
  RegFileError* error_ = nullptr;
  size_t line_no_ = 0;
  bool utf16_texts_ = true;
  bool have_key_ = false;
  uint32_t key_root_ = 0;
  std::string key_;
};

// `text` must be valid UTF-8: its bytes are the file's characters.
void AppendQuoted(std::string_view text, std::string* out) {
  *out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') *out += '\\';
    *out += c;
  }
  *out += '"';
}

// Store text as UTF-16LE; a byte that is not part of a UTF-8 character
// becomes the lone unit U+DC00 + byte, so the bytes come back exactly.
std::string Utf16LeOf(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  auto put = [&](char32_t unit) {
    out += static_cast<char>(unit & 0xff);
    out += static_cast<char>(unit >> 8);
  };
  size_t i = 0;
  while (i < text.size()) {
    char32_t c;
    if (!NextUtf8(text, &i, &c)) {
      put(0xDC00 + static_cast<uint8_t>(text[i++]));
    } else if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

// A name as an error message shows it: quoted, with control characters and
// bytes that are not part of a UTF-8 character as \xNN.
std::string Shown(std::string_view name) {
  std::string out = "\"";
  size_t i = 0;
  while (i < name.size()) {
    const size_t at = i;
    char32_t c;
    if (NextUtf8(name, &i, &c) && c >= 0x20 && c != 0x7F) {
      out.append(name.substr(at, i - at));
      continue;
    }
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X",
                  static_cast<unsigned>(static_cast<uint8_t>(name[at])));
    out += buf;
    i = at + 1;
  }
  return out + "\"";
}

bool FitsOnOneLine(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) ==
         std::string_view::npos;
}

// `prefix` then the bytes as hex, wrapped before column 80 with a trailing
// backslash and two blanks on each continuation line.
void AppendHex(std::string_view prefix, std::string_view bytes,
               std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  size_t col = prefix.size();
  *out += prefix;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (col + 3 > 79) {
      *out += "\\\n  ";
      col = 2;
    }
    const auto b = static_cast<uint8_t>(bytes[i]);
    *out += kHex[b >> 4];
    *out += kHex[b & 0xf];
    col += 2;
    if (i + 1 < bytes.size()) {
      *out += ',';
      ++col;
    }
  }
  *out += '\n';
}

void AppendValue(const StoredValue& v, std::string* out) {
  std::string prefix;
  if (v.name.empty()) {
    prefix = "@";
  } else {
    AppendQuoted(v.name, &prefix);
  }
  prefix += '=';
  const std::string_view data = v.data;
  if (v.type == REG_SZ && !data.empty() && data.back() == '\0' &&
      FitsOnOneLine(data.substr(0, data.size() - 1)) && IsValidUtf8(data)) {
    *out += prefix;
    AppendQuoted(data.substr(0, data.size() - 1), out);
    *out += '\n';
    return;
  }
  if (v.type == REG_DWORD && data.size() == 4) {
    uint32_t u = 0;
    for (int i = 3; i >= 0; --i)
      u = (u << 8) | static_cast<uint8_t>(data[static_cast<size_t>(i)]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(u));
    *out += prefix + buf + '\n';
    return;
  }
  if (v.type == REG_BINARY) {
    AppendHex(prefix + "hex:", data, out);
    return;
  }
  char head[24];
  std::snprintf(head, sizeof head, "hex(%x):", static_cast<unsigned>(v.type));
  if (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ) {
    AppendHex(prefix + head, Utf16LeOf(data), out);
  } else {
    AppendHex(prefix + head, data, out);
  }
}

}  // namespace

std::string RegFileError::Text() const {
  if (line <= 0) return message;
  return "line " + std::to_string(line) + ": " + message;
}

std::optional<std::vector<StoreChange>> ParseRegFile(std::string_view file,
                                                     RegFileError* error) {
  RegFileError ignored;
  Parser parser(file);
  return parser.Run(error != nullptr ? error : &ignored);
}

std::optional<std::string> WriteRegFile(uint32_t root,
                                        std::span<const StoredKey> keys,
                                        std::string* error) {
  const std::string root_name = RootKeyName(root);
  if (root_name.empty()) {
    if (error != nullptr) *error = "unknown root key";
    return std::nullopt;
  }
  std::string out(kRegFileHeader);
  out += "\n\n";
  for (const StoredKey& k : keys) {
    if (!FitsOnOneLine(k.path) || !IsValidUtf8(k.path)) {
      if (error != nullptr)
        *error = "the key name " + Shown(k.path) +
                 " has a line break or is not UTF-8 text: it cannot be "
                 "exported";
      return std::nullopt;
    }
    out += '[';
    out += root_name;
    if (!k.path.empty()) out += '\\';
    out += k.path;
    out += "]\n";
    for (const StoredValue& v : k.values) {
      if (!FitsOnOneLine(v.name) || !IsValidUtf8(v.name)) {
        if (error != nullptr)
          *error = "the value name " + Shown(v.name) + " in " + k.path +
                   " has a line break or is not UTF-8 text: it cannot be "
                   "exported";
        return std::nullopt;
      }
      AppendValue(v, &out);
    }
    out += '\n';
  }
  return out;
}

std::string RegFileAsUtf16(std::string_view utf8_file) {
  std::string crlf;
  crlf.reserve(utf8_file.size() + utf8_file.size() / 16);
  for (char c : utf8_file) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return "\xFF\xFE" + Utf16LeOf(crlf);
}

bool ExportRegFile(SettingsStore& store, uint32_t root, std::string_view key,
                   std::string* file, std::string* error) {
  std::vector<StoredKey> keys;
  const StoreStatus st = store.ReadTree(root, key, &keys);
  if (st == StoreStatus::kNotFound) {
    if (error != nullptr) *error = "no such key";
    return false;
  }
  if (st != StoreStatus::kOk) {
    if (error != nullptr) *error = store.LastError();
    return false;
  }
  std::optional<std::string> text = WriteRegFile(root, keys, error);
  if (!text) return false;
  *file = std::move(*text);
  return true;
}

bool ImportRegFile(SettingsStore& store, std::string_view file,
                   std::string* error) {
  return ImportRegFile(store, file, 0, "", nullptr, error);
}

bool ImportRegFile(SettingsStore& store, std::string_view file, uint32_t root,
                   std::string_view key, std::vector<std::string>* outside,
                   std::string* error) {
  RegFileError parse_error;
  std::optional<std::vector<StoreChange>> changes =
      ParseRegFile(file, &parse_error);
  if (!changes) {
    if (error != nullptr) *error = parse_error.Text();
    return false;
  }
  if (outside != nullptr) {
    // A key is inside when its folded path is the scope's or continues it
    // after a backslash ("...\\Linewarden 1.0x" is outside).
    const std::string scope = FoldName(NormalizeKeyPath(key));
    std::vector<std::pair<uint32_t, std::string>> named;
    std::erase_if(*changes, [&](const StoreChange& c) {
      const std::string path = FoldName(c.key);
      const bool inside = c.root == root && (scope.empty() || path == scope ||
                                             (path.size() > scope.size() &&
                                              path.starts_with(scope) &&
                                              path[scope.size()] == '\\'));
      if (inside) return false;
      if (std::find(named.begin(), named.end(), std::pair(c.root, path)) ==
          named.end()) {
        named.emplace_back(c.root, path);
        outside->push_back(RootKeyName(c.root) +
                           (c.key.empty() ? "" : "\\" + c.key));
      }
      return true;
    });
  }
  if (store.Apply(*changes) != StoreStatus::kOk) {
    if (error != nullptr) *error = store.LastError();
    return false;
  }
  return true;
}

std::string RootKeyName(uint32_t root) {
  for (const RootName& r : kRoots)
    if (r.root == root) return std::string(r.name);
  return {};
}

std::optional<uint32_t> ParseRootKeyName(std::string_view name) {
  const std::string folded = FoldName(name);
  for (const RootName& r : kRoots) {
    if (folded == FoldName(r.name) || folded == FoldName(r.short_name))
      return r.root;
  }
  return std::nullopt;
}

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  char32_t c;
  while (i < text.size())
    if (!NextUtf8(text, &i, &c)) return false;
  return true;
}

}  // namespace lw
