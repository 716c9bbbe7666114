#include "settings/registry_routines.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "base/text.h"

namespace lw {
namespace {

std::string BytesText(const RegBytes& b) {
  return std::string(b.begin(), b.end());
}

// Text to a 32-bit number, as the desktop application's language converts:
// surrounding blanks ignored, decimal (a fraction rounds half to even) or
// "&H" hexadecimal of up to eight digits (taken as the 32-bit pattern).
std::optional<int32_t> TextToLong(std::string_view text) {
  std::string_view s = Trim(text);
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'h' || s[1] == 'H')) {
    s.remove_prefix(2);
    if (s.size() > 8) return std::nullopt;
    uint32_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return static_cast<int32_t>(v);
  }
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+' || s.front() == ' ') return std::nullopt;
  double d = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (ec != std::errc() || p != s.data() + s.size() || !std::isfinite(d))
    return std::nullopt;
  d = std::nearbyint(d);
  if (d < -2147483648.0 || d > 2147483647.0) return std::nullopt;
  return static_cast<int32_t>(d);
}

std::optional<std::string> ToText(const RegValue& v) {
  if (const auto* b = std::get_if<RegBytes>(&v)) return BytesText(*b);
  return RegValueText(v);
}

std::string DwordBytes(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((u >> (8 * i)) & 0xff);
  return out;
}

std::string HexBytes(std::string_view data) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size() * 3);
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += ' ';
    const auto b = static_cast<uint8_t>(data[i]);
    out += kHex[b >> 4];
    out += kHex[b & 0xf];
  }
  return out;
}

int32_t AnswerCode(StoreStatus st) {
  switch (st) {
    case StoreStatus::kOk:
      return ERROR_SUCCESS;
    case StoreStatus::kNotFound:
      return ERROR_FILE_NOT_FOUND;
    case StoreStatus::kDenied:
      return ERROR_ACCESS_DENIED;
    case StoreStatus::kFailed:
      break;
  }
  return ERROR_REGISTRY_IO_FAILED;
}

}  // namespace

std::string RegValueText(const RegValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* n = std::get_if<int32_t>(&v)) return std::to_string(*n);
  if (const auto* b = std::get_if<RegBytes>(&v)) return BytesText(*b);
  return {};
}

std::string ExpandEnvironmentStrings(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find('%', i);
    if (open == std::string_view::npos) break;
    out.append(text.substr(i, open - i));
    const size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) {
      i = open;
      break;
    }
    const std::string name(text.substr(open + 1, close - open - 1));
    const char* value = name.empty() || name.find('\0') != std::string::npos
                            ? nullptr
                            : std::getenv(name.c_str());
    if (value != nullptr) {
      out += value;
      i = close + 1;
    } else {
      // Not a reference: keep the text, and let the closing sign open the
      // next one.
      out.append(text.substr(open, close - open));
      i = close;
    }
  }
  if (i < text.size()) out.append(text.substr(i));
  return out;
}

RegValue DecodeRegValue(uint32_t type, std::string_view data,
                        const RegValue& fallback) {
  const size_t n = data.size();
  switch (type) {
    case REG_SZ:
      if (n > 0) return std::string(data.substr(0, n - 1));
      break;
    case REG_EXPAND_SZ:
      if (n > 0) return ExpandEnvironmentStrings(data.substr(0, n - 1));
      break;
    case REG_BINARY:
      return RegBytes(data.begin(), data.end());
    case REG_DWORD:
      if (n >= 4) {
        uint32_t u = 0;
        for (int i = 3; i >= 0; --i)
          u = (u << 8) | static_cast<uint8_t>(data[static_cast<size_t>(i)]);
        return static_cast<int32_t>(u);
      }
      break;
    case REG_MULTI_SZ:
      if (n >= 2) {
        std::string text(data.substr(0, n - 2));
        if (!text.empty() && text[0] != '\0') return text;
      }
      break;
    default:
      break;
  }
  return fallback;
}

RegistryRoutines::RegistryRoutines(SettingsStore& store) : store_(store) {}

std::string RegistryRoutines::ProductPath(std::string_view key_name) const {
  std::string path = key_root_;
  path += '\\';
  path += key_name;
  return path;
}

std::string RegistryRoutines::SectionPath() const {
  return ProductPath(subkey_);
}

bool RegistryRoutines::KeyExists() {
  return store_.KeyExists(hkey_, SectionPath()) == StoreStatus::kOk;
}

std::string RegistryRoutines::CreateKey(
    std::optional<std::string_view> key_name) {
  const std::string path =
      ProductPath(key_name.has_value() ? *key_name : subkey_);
  return store_.CreateKey(hkey_, path) == StoreStatus::kOk ? "0" : "";
}

int32_t RegistryRoutines::DeleteKey(std::string_view key_name) {
  store_.DeleteKey(hkey_, ProductPath(key_name), /*with_subkeys=*/false);
  return 0;
}

int32_t RegistryRoutines::DeleteValue(std::string_view value_name) {
  return AnswerCode(store_.DeleteValue(hkey_, SectionPath(), value_name));
}

std::vector<std::string> RegistryRoutines::EnumRegistryKeys(
    uint32_t root, std::string_view key_name) {
  std::vector<std::string> names;
  if (store_.ListSubkeys(root, key_name, &names) != StoreStatus::kOk) return {};
  for (std::string& name : names) TrimNull(name);
  return names;
}

std::vector<std::pair<std::string, RegValue>>
RegistryRoutines::EnumRegistryValues(uint32_t root, std::string_view key_name) {
  std::vector<StoredValue> values;
  std::vector<std::pair<std::string, RegValue>> out;
  if (store_.ListValues(root, key_name, &values) != StoreStatus::kOk)
    return out;
  out.reserve(values.size());
  for (const StoredValue& v : values) {
    RegValue data;
    if (v.type == REG_BINARY) {
      data = HexBytes(v.data);
    } else if (v.type == REG_MULTI_SZ) {
      std::string joined =
          v.data.size() >= 2 ? v.data.substr(0, v.data.size() - 2) : "";
      for (char& c : joined)
        if (c == '\0') c = ',';
      data = std::move(joined);
    } else {
      data = DecodeRegValue(v.type, v.data, RegValue{});
    }
    out.emplace_back(v.name, std::move(data));
  }
  return out;
}

RegValue RegistryRoutines::GetRegistryValue(std::string_view value_name,
                                            const RegValue& default_value) {
  uint32_t type = 0;
  std::string data;
  if (store_.GetValue(hkey_, SectionPath(), value_name, &type, &data) !=
      StoreStatus::kOk)
    return default_value;
  return DecodeRegValue(type, data, default_value);
}

bool RegistryRoutines::SetRegistryValue(std::string_view value_name,
                                        const RegValue& value, uint32_t dtype) {
  std::string data;
  uint32_t type = dtype;
  switch (dtype) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
      std::optional<std::string> text = ToText(value);
      if (!text) return false;
      data = std::move(*text);
      // A multi-string ends in a double zero; a text that already ends in
      // a zero needs only one more.
      if (dtype == REG_MULTI_SZ && (data.empty() || data.back() != '\0'))
        data += '\0';
      data += '\0';
      break;
    }
    case REG_BINARY:
      if (std::holds_alternative<int32_t>(value)) return false;
      data = RegValueText(value);
      break;
    case REG_DWORD: {
      std::optional<int32_t> n;
      if (const auto* i = std::get_if<int32_t>(&value)) {
        n = *i;
      } else if (const auto* s = std::get_if<std::string>(&value)) {
        n = TextToLong(*s);
      } else if (IsEmpty(value)) {
        n = 0;
      }
      if (!n) return false;
      data = DwordBytes(*n);
      break;
    }
    default:
      return false;
  }
  return store_.SetValue(hkey_, SectionPath(), value_name, type, data) ==
         StoreStatus::kOk;
}

RegValue RegistryRoutines::ReadRemoteRegistryValue(
    std::string_view, uint32_t, std::string_view,
    std::optional<std::string_view>) {
  return std::string("Error!");
}

bool RegistryRoutines::WriteRemoteRegistryValue(
    std::string_view, uint32_t, std::string_view, const RegValue&, uint32_t,
    std::optional<std::string_view>) {
  return false;
}

std::string RegistryRoutines::TrimNull(std::string& item) {
  const size_t zero = item.find('\0');
  if (zero != std::string::npos) item.resize(zero);
  return item;
}

}  // namespace lw
