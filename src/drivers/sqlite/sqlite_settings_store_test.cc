#include "drivers/sqlite/sqlite_settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "temp_dir.h"

namespace lw {
namespace {

constexpr uint32_t kRoot = HKEY_LOCAL_MACHINE;

std::string Get(SettingsStore& s, std::string_view key, std::string_view name) {
  std::string data;
  uint32_t type = 0;
  return s.GetValue(kRoot, key, name, &type, &data) == StoreStatus::kOk
             ? data
             : "<missing>";
}

// Spelling, batches, raw bytes and the other rules every store keeps are the
// contract and .reg tests'; a file that is not a store is the process start's
// end-to-end test. These are the store on disk's own.

TEST(SqliteSettingsStoreTest, DeleteKeyTakesExactlyItsSubtree) {
  // Given siblings whose names begin like the deleted key's, expect only the
  // key, its subkeys and their values gone.
  SqliteSettingsStore s(":memory:");
  for (const char* k : {"A\\B\\C", "A\\B2", "A\\B c", "A\\Ba", "AB"})
    ASSERT_EQ(s.CreateKey(kRoot, k), StoreStatus::kOk);
  ASSERT_EQ(s.SetValue(kRoot, "A\\B\\C", "v", REG_SZ, "1"), StoreStatus::kOk);
  ASSERT_EQ(s.SetValue(kRoot, "A\\B2", "v", REG_SZ, "2"), StoreStatus::kOk);
  EXPECT_EQ(s.DeleteKey(kRoot, "a\\B", true), StoreStatus::kOk);
  std::vector<StoredKey> keys;
  s.ReadTree(kRoot, "", &keys);
  std::vector<std::string> paths;
  paths.reserve(keys.size());
  for (const StoredKey& k : keys) paths.push_back(k.path);
  EXPECT_EQ(paths,
            (std::vector<std::string>{"A", "A\\B c", "A\\B2", "A\\Ba", "AB"}));
  EXPECT_EQ(Get(s, "A\\B2", "v"), "2");
  ASSERT_EQ(s.CreateKey(kRoot, "A\\B\\C"), StoreStatus::kOk);
  EXPECT_EQ(Get(s, "A\\B\\C", "v"), "<missing>");
}

TEST(SqliteSettingsStoreTest, NewFileIsOwnerOnlyAndReadOnlyRefusesWrites) {
  // Given a store made on disk and opened again read-only, expect the file
  // 0600, reads to work and writes to be denied.
  testing::TempDir dir;
  const std::string path = dir / "registry.db";
  {
    SqliteSettingsStore w(path);
    ASSERT_EQ(w.CreateKey(kRoot, "A"), StoreStatus::kOk);
    ASSERT_EQ(w.SetValue(kRoot, "A", "x", REG_SZ, "kept"), StoreStatus::kOk);
  }
  EXPECT_EQ(
      std::filesystem::status(path).permissions(),
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  SqliteSettingsStore s(path, {.read_only = true});
  ASSERT_TRUE(s.IsOpen());
  EXPECT_EQ(Get(s, "a", "X"), "kept");
  EXPECT_EQ(s.SetValue(kRoot, "A", "x", REG_SZ, "lost"), StoreStatus::kDenied);
}

}  // namespace
}  // namespace lw
