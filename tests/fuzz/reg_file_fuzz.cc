// Registry export files come from outside. Any input must parse or be
// refused without a crash; whatever parses must apply to a store, export,
// and read back to the very same settings.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/sqlite/sqlite_settings_store.h"
#include "settings/reg_file.h"

namespace {

std::vector<lw::StoredKey> Everything(lw::SettingsStore& store) {
  std::vector<lw::StoredKey> all;
  for (uint32_t root :
       {lw::HKEY_CLASSES_ROOT, lw::HKEY_CURRENT_USER, lw::HKEY_LOCAL_MACHINE,
        lw::HKEY_USERS, lw::HKEY_CURRENT_CONFIG}) {
    std::vector<lw::StoredKey> keys;
    if (store.ReadTree(root, "", &keys) != lw::StoreStatus::kOk) std::abort();
    all.insert(all.end(), keys.begin(), keys.end());
  }
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  lw::RegFileError error;
  const auto changes = lw::ParseRegFile(file, &error);
  if (!changes) {
    if (error.message.empty()) std::abort();
    return 0;
  }
  lw::SqliteSettingsStore first(":memory:");
  if (first.Apply(*changes) != lw::StoreStatus::kOk) std::abort();

  lw::SqliteSettingsStore second(":memory:");
  for (uint32_t root :
       {lw::HKEY_CLASSES_ROOT, lw::HKEY_CURRENT_USER, lw::HKEY_LOCAL_MACHINE,
        lw::HKEY_USERS, lw::HKEY_CURRENT_CONFIG}) {
    std::vector<lw::StoredKey> keys;
    if (first.ReadTree(root, "", &keys) != lw::StoreStatus::kOk) std::abort();
    if (keys.empty()) continue;
    std::string why;
    const auto text = lw::WriteRegFile(root, keys, &why);
    if (!text) std::abort();
    std::string import_error;
    if (!lw::ImportRegFile(second, *text, &import_error)) std::abort();
  }
  if (Everything(first) != Everything(second)) std::abort();
  return 0;
}
