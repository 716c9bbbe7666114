// A settings store held in memory: the same contract as the store on disk,
// for tests that want settings without a file. Nothing is kept after it is
// destroyed; it never fails for want of storage.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devices/settings_store.h"

namespace lw {

class MemorySettingsStore : public SettingsStore {
 public:
  StoreStatus KeyExists(uint32_t root, std::string_view key) override;
  StoreStatus CreateKey(uint32_t root, std::string_view key) override;
  StoreStatus DeleteKey(uint32_t root, std::string_view key,
                        bool with_subkeys) override;
  StoreStatus GetValue(uint32_t root, std::string_view key,
                       std::string_view name, uint32_t* type,
                       std::string* data) override;
  StoreStatus SetValue(uint32_t root, std::string_view key,
                       std::string_view name, uint32_t type,
                       std::string_view data) override;
  StoreStatus DeleteValue(uint32_t root, std::string_view key,
                          std::string_view name) override;
  StoreStatus ListSubkeys(uint32_t root, std::string_view key,
                          std::vector<std::string>* names) override;
  StoreStatus ListValues(uint32_t root, std::string_view key,
                         std::vector<StoredValue>* values) override;
  StoreStatus ReadTree(uint32_t root, std::string_view key,
                       std::vector<StoredKey>* keys) override;
  StoreStatus Apply(std::span<const StoreChange> changes) override;
  std::string LastError() const override { return last_error_; }

 private:
  // Keys by root and folded path, the path's separators turned into a byte
  // below every name byte, so the map runs in tree order: parents before
  // children, siblings sorted without regard to case.
  using Id = std::pair<uint32_t, std::string>;
  using Keys = std::map<Id, StoredKey>;

  static Id IdOf(uint32_t root, std::string_view key);
  static StoreStatus Create(Keys& keys, uint32_t root, std::string_view key,
                            StoredKey** made);
  static void DeleteTree(Keys& keys, uint32_t root, std::string_view key);
  static StoreStatus Set(StoredKey& key, std::string_view name, uint32_t type,
                         std::string_view data);
  static StoreStatus Unset(Keys& keys, uint32_t root, std::string_view key,
                           std::string_view name);

  Keys keys_;
  std::string last_error_;
};

}  // namespace lw
