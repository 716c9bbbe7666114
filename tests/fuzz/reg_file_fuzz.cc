// Registry export files come from outside. Any input must parse or be
// refused without a crash; whatever parses must apply to a store, export,
// and read back to the very same settings.
#include <string_view>

#include "fuzz_home.h"
#include "settings/reg_file.h"

using lw::fuzz::Check;

namespace {

constexpr uint32_t kRoots[] = {lw::HKEY_CLASSES_ROOT, lw::HKEY_CURRENT_USER,
                               lw::HKEY_LOCAL_MACHINE, lw::HKEY_USERS,
                               lw::HKEY_CURRENT_CONFIG};

std::vector<lw::StoredKey> Tree(lw::SettingsStore& store, uint32_t root) {
  std::vector<lw::StoredKey> keys;
  Check(store.ReadTree(root, "", &keys) == lw::StoreStatus::kOk);
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  lw::RegFileError error;
  const auto changes = lw::ParseRegFile(file, &error);
  if (!changes) {
    Check(!error.message.empty());
    return 0;
  }
  lw::SqliteSettingsStore first(":memory:");
  Check(first.Apply(*changes) == lw::StoreStatus::kOk);
  lw::SqliteSettingsStore second(":memory:");
  for (uint32_t root : kRoots) {
    const std::vector<lw::StoredKey> keys = Tree(first, root);
    if (keys.empty()) continue;
    std::string why;
    const auto text = lw::WriteRegFile(root, keys, &why);
    Check(text && lw::ImportRegFile(second, *text, &why));
  }
  for (uint32_t root : kRoots) Check(Tree(first, root) == Tree(second, root));
  return 0;
}
