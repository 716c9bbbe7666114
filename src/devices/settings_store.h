// The settings store: a persistent, hierarchical key/value store with the
// naming of the registry. A key is addressed by a root (the 32-bit handle
// value of a predefined key such as HKEY_LOCAL_MACHINE) and a path below it
// ("SOFTWARE\Talmero\Linewarden 1.0\Answer"); a value by its key and a name.
// Every value has a type code and raw data bytes, held exactly as the
// registry holds them (REG_SZ text with its terminating zero, REG_DWORD as 4
// little-endian bytes, REG_MULTI_SZ as zero-separated texts ending in two
// zeros).
//
// Key and value names compare without regard to ASCII case but keep the
// spelling they were first written with. Keys exist on their own, without
// values; creating "A\B" creates "A" too. Empty path components are ignored,
// so "A\\B\" names the key "A\B". The root itself always exists and holds
// no values.
//
// No operation throws. Every failure of the underlying storage (a file that
// is not a store, a store that cannot be written) comes back as a status, and
// LastError() describes the latest one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

// Predefined root keys.
inline constexpr uint32_t HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr uint32_t HKEY_CURRENT_USER = 0x80000001u;
inline constexpr uint32_t HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr uint32_t HKEY_USERS = 0x80000003u;
inline constexpr uint32_t HKEY_CURRENT_CONFIG = 0x80000005u;

// Value type codes.
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;

enum class StoreStatus {
  kOk,
  kNotFound,  // the key or value does not exist
  kDenied,    // the store is read-only, or a key to delete still has subkeys
  kFailed,    // the store cannot be read or written (see LastError())
};

struct StoredValue {
  std::string name;  // as first written
  uint32_t type = 0;
  std::string data;  // raw bytes

  friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

struct StoredKey {
  std::string path;  // below the root, each component as first written
  std::vector<StoredValue> values;  // in the order they were first written

  friend bool operator==(const StoredKey&, const StoredKey&) = default;
};

// One step of a batch applied with SettingsStore::Apply.
struct StoreChange {
  enum class Op {
    kCreateKey,    // create `key` (and its parents)
    kDeleteTree,   // delete `key` with all its subkeys and values, if present
    kSetValue,     // create `key` if needed, then write the value
    kDeleteValue,  // delete the value, if present
  };
  Op op = Op::kCreateKey;
  uint32_t root = HKEY_LOCAL_MACHINE;
  std::string key;
  std::string name;
  uint32_t type = 0;
  std::string data;

  friend bool operator==(const StoreChange&, const StoreChange&) = default;
};

// The path with its empty components dropped: "\A\\B\" gives "A\B".
std::string NormalizeKeyPath(std::string_view path);

// The form in which key and value names compare: ASCII letters in lower case,
// every other byte as it is.
std::string FoldName(std::string_view name);

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // kOk when the key exists; the empty path (the root) always exists.
  virtual StoreStatus KeyExists(uint32_t root, std::string_view key) = 0;

  // Creates the key and any missing parents; kOk when it already exists.
  virtual StoreStatus CreateKey(uint32_t root, std::string_view key) = 0;

  // Deletes the key and its values. Without `with_subkeys`, a key that still
  // has subkeys is left alone (kDenied); with it, the whole tree goes.
  virtual StoreStatus DeleteKey(uint32_t root, std::string_view key,
                                bool with_subkeys) = 0;

  // Reads one value; kNotFound when the key or the value is missing.
  virtual StoreStatus GetValue(uint32_t root, std::string_view key,
                               std::string_view name, uint32_t* type,
                               std::string* data) = 0;

  // Writes one value (creating or replacing it) into an existing key. The
  // key is never created: kNotFound when it is missing.
  virtual StoreStatus SetValue(uint32_t root, std::string_view key,
                               std::string_view name, uint32_t type,
                               std::string_view data) = 0;

  virtual StoreStatus DeleteValue(uint32_t root, std::string_view key,
                                  std::string_view name) = 0;

  // Names of the direct subkeys, as first written, sorted without regard
  // to case.
  virtual StoreStatus ListSubkeys(uint32_t root, std::string_view key,
                                  std::vector<std::string>* names) = 0;

  // The values of one key, in the order they were first written.
  virtual StoreStatus ListValues(uint32_t root, std::string_view key,
                                 std::vector<StoredValue>* values) = 0;

  // The key and everything below it, parents before children, siblings
  // sorted without regard to case; read as one consistent snapshot.
  virtual StoreStatus ReadTree(uint32_t root, std::string_view key,
                               std::vector<StoredKey>* keys) = 0;

  // Applies every change or none of them.
  virtual StoreStatus Apply(std::span<const StoreChange> changes) = 0;

  // Describes the latest failure; empty when there was none.
  virtual std::string LastError() const = 0;

  // The file the store is kept in; empty for a store held in memory. Other
  // parts of the process must never open it: closing any descriptor of it
  // would drop the store's own locks.
  virtual std::string FilePath() const { return {}; }
};

}  // namespace lw
