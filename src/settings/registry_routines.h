// RegistryRoutines: the one accessor through which the system reads and
// writes its settings. An instance is bound to a root key (`hkey`), the
// product key (`KeyRoot`) and a section (`Subkey`); its value operations act
// on the key KeyRoot + "\" + Subkey under the root. A component keeps one
// instance for its whole life and changes the section before each group of
// reads.
//
// No operation throws or reports a failure to its caller: a missing section
// or value, a store that cannot be read and a value that cannot be converted
// all give the operation's default (the caller's default value, empty, False,
// the empty text or a registry error code).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "devices/settings_store.h"

namespace lw {

// The product title and the product key of every setting of the system.
inline constexpr std::string_view kAppTitle = "Linewarden 1.0";
inline constexpr std::string_view kKeyRoot =
    "SOFTWARE\\Talmero\\Linewarden 1.0";

// Registry answer codes returned by DeleteValue.
inline constexpr int32_t ERROR_SUCCESS = 0;
inline constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr int32_t ERROR_ACCESS_DENIED = 5;
inline constexpr int32_t ERROR_REGISTRY_IO_FAILED = 1016;

// A value as read from the settings: empty, text (8-bit, may hold zero
// characters), a 32-bit integer, or a byte array.
using RegBytes = std::vector<uint8_t>;
using RegValue = std::variant<std::monostate, std::string, int32_t, RegBytes>;

inline bool IsEmpty(const RegValue& v) {
  return std::holds_alternative<std::monostate>(v);
}
inline bool IsText(const RegValue& v) {
  return std::holds_alternative<std::string>(v);
}

// The value as text: empty gives "", a number its decimal digits, a byte
// array its bytes taken as 8-bit characters.
std::string RegValueText(const RegValue& v);

class RegistryRoutines {
 public:
  // Bound to HKEY_LOCAL_MACHINE and kKeyRoot, section empty (the product
  // key itself). The store must outlive the instance.
  explicit RegistryRoutines(SettingsStore& store);

  // 1-6: the root, the product key and the section.
  uint32_t hkey() const { return hkey_; }
  void SetHkey(uint32_t hkey) { hkey_ = hkey; }
  const std::string& KeyRoot() const { return key_root_; }
  void SetKeyRoot(std::string key_root) { key_root_ = std::move(key_root); }
  const std::string& Subkey() const { return subkey_; }
  void SetSubkey(std::string subkey) { subkey_ = std::move(subkey); }

  // 7: True when KeyRoot\Subkey can be opened for reading.
  bool KeyExists();

  // 8: creates (or opens) KeyRoot\KeyName, KeyName defaulting to Subkey;
  // "0" on success, the empty text when it cannot be created.
  std::string CreateKey(std::optional<std::string_view> key_name = {});

  // 9: deletes KeyRoot\KeyName when it has no subkeys; always answers 0.
  int32_t DeleteKey(std::string_view key_name);

  // 10: deletes a value of the section; the registry answer code (0 done,
  // 2 no such section or value).
  int32_t DeleteValue(std::string_view value_name);

  // 11: names of the subkeys of KeyName (a full path under `root`; empty
  // for the root itself). Empty when KeyName cannot be opened.
  std::vector<std::string> EnumRegistryKeys(uint32_t root,
                                            std::string_view key_name);

  // 12: {name, data} of every value of KeyName, the data as GetRegistryValue
  // gives it, except that REG_BINARY becomes its bytes as two-digit
  // hexadecimal numbers separated by spaces ("0A FF") and REG_MULTI_SZ its
  // texts joined by ",".
  std::vector<std::pair<std::string, RegValue>> EnumRegistryValues(
      uint32_t root, std::string_view key_name);

  // 13: the value of the section, by its type: REG_SZ text (without its
  // terminating zero; an empty text is still a value), REG_EXPAND_SZ text
  // with %NAME% references replaced from the environment, REG_BINARY bytes,
  // REG_DWORD a number, REG_MULTI_SZ the zero-separated texts without the
  // final double zero (only when the first text is not empty). Anything
  // else, a missing section or value included, gives `default_value`.
  RegValue GetRegistryValue(std::string_view value_name,
                            const RegValue& default_value = {});

  // 14: writes a value into the section, which must exist (it is not
  // created). `dtype` 1 and 2 write text, 7 text as REG_MULTI_SZ (texts
  // separated by zeros; the final double zero is added), 3 the byte array,
  // 4 the value as a 32-bit number. False when the section is missing, the
  // value cannot be converted or the store refuses.
  bool SetRegistryValue(std::string_view value_name, const RegValue& value,
                        uint32_t dtype);

  // 15, 16: there is no remote settings store: "Error!" and False.
  RegValue ReadRemoteRegistryValue(
      std::string_view remote_computer, uint32_t root,
      std::string_view value_name,
      std::optional<std::string_view> key_path = {});
  bool WriteRemoteRegistryValue(std::string_view remote_computer, uint32_t root,
                                std::string_view value_name,
                                const RegValue& value, uint32_t dtype,
                                std::optional<std::string_view> key_path = {});

  // 17: `item` cut before its first zero character; the cut is also written
  // back into `item`.
  static std::string TrimNull(std::string& item);

 private:
  std::string SectionPath() const;
  std::string ProductPath(std::string_view key_name) const;

  SettingsStore& store_;
  uint32_t hkey_ = HKEY_LOCAL_MACHINE;
  std::string key_root_{kKeyRoot};
  std::string subkey_;
};

// Replaces every %NAME% whose NAME is set in the environment by its value;
// other text, unset names and unpaired percent signs stay as they are.
std::string ExpandEnvironmentStrings(std::string_view text);

// The data of a stored value as GetRegistryValue gives it (`fallback` for
// types and sizes that give no value).
RegValue DecodeRegValue(uint32_t type, std::string_view data,
                        const RegValue& fallback);

}  // namespace lw
