// The settings store contract, held by the store on disk and the one in
// memory alike.
#include "devices/settings_store.h"

#include <gtest/gtest.h>

#include <memory>

#include "devices/memory_settings_store.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "temp_dir.h"

namespace lw {
namespace {

class SettingsStoreContractTest : public ::testing::TestWithParam<bool> {
 protected:
  SettingsStoreContractTest() {
    if (GetParam()) {
      store_ = std::make_unique<SqliteSettingsStore>(dir_ / "registry.db");
    } else {
      store_ = std::make_unique<MemorySettingsStore>();
    }
  }

  testing::TempDir dir_;
  std::unique_ptr<SettingsStore> store_;
};

constexpr uint32_t kLM = HKEY_LOCAL_MACHINE;

TEST_P(SettingsStoreContractTest, KeysAndNamesIgnoreCaseButKeepFirstSpelling) {
  SettingsStore& s = *store_;
  EXPECT_EQ(s.SetValue(kLM, "Soft\\App", "v", REG_SZ, "x"),
            StoreStatus::kNotFound);  // the key is never made by a write
  ASSERT_EQ(s.CreateKey(kLM, "\\Soft\\\\App\\"), StoreStatus::kOk);
  ASSERT_EQ(s.CreateKey(kLM, "soft\\app\\Zed"), StoreStatus::kOk);
  ASSERT_EQ(s.CreateKey(kLM, "SOFT\\APP\\beta"), StoreStatus::kOk);
  ASSERT_EQ(s.SetValue(kLM, "soft\\APP", "Name", REG_SZ, "one"),
            StoreStatus::kOk);
  ASSERT_EQ(s.SetValue(kLM, "Soft\\App", "NAME", REG_DWORD, "two"),
            StoreStatus::kOk);
  EXPECT_EQ(s.SetValue(kLM, "", "v", REG_SZ, "x"), StoreStatus::kDenied);

  std::vector<std::string> names;
  ASSERT_EQ(s.ListSubkeys(kLM, "soft\\app", &names), StoreStatus::kOk);
  EXPECT_EQ(names, (std::vector<std::string>{"beta", "Zed"}));
  std::vector<StoredKey> tree;
  ASSERT_EQ(s.ReadTree(kLM, "SOFT", &tree), StoreStatus::kOk);
  ASSERT_EQ(tree.size(), 4u);
  EXPECT_EQ(tree[1].path, "Soft\\App");
  EXPECT_EQ(tree[1].values,
            (std::vector<StoredValue>{{"Name", REG_DWORD, "two"}}));
  EXPECT_EQ(tree[3].path, "Soft\\App\\Zed");

  EXPECT_EQ(s.DeleteKey(kLM, "soft", false), StoreStatus::kDenied);
  EXPECT_EQ(s.DeleteKey(kLM, "soft", true), StoreStatus::kOk);
  EXPECT_EQ(s.KeyExists(kLM, "soft\\app\\zed"), StoreStatus::kNotFound);
}

TEST_P(SettingsStoreContractTest, ABatchAppliesWhollyOrNotAtAll) {
  SettingsStore& s = *store_;
  const StoreChange set_a{
      StoreChange::Op::kSetValue, kLM, "A\\B", "v", REG_SZ, "1"};
  const StoreChange into_root{
      StoreChange::Op::kSetValue, kLM, "", "v", REG_SZ, "1"};
  const StoreChange bad[] = {set_a, into_root};
  EXPECT_NE(s.Apply(bad), StoreStatus::kOk);
  EXPECT_EQ(s.KeyExists(kLM, "A"), StoreStatus::kNotFound);

  const StoreChange good[] = {
      set_a,
      {StoreChange::Op::kDeleteValue, kLM, "A\\B", "gone", 0, ""},
      {StoreChange::Op::kCreateKey, kLM, "A\\C", "", 0, ""},
      {StoreChange::Op::kDeleteTree, kLM, "A\\C", "", 0, ""}};
  ASSERT_EQ(s.Apply(good), StoreStatus::kOk);
  std::string data;
  EXPECT_EQ(s.GetValue(kLM, "a\\b", "V", nullptr, &data), StoreStatus::kOk);
  EXPECT_EQ(data, "1");
  EXPECT_EQ(s.KeyExists(kLM, "A\\C"), StoreStatus::kNotFound);
}

INSTANTIATE_TEST_SUITE_P(OnDiskAndInMemory, SettingsStoreContractTest,
                         ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Sqlite" : "Memory";
                         });

}  // namespace
}  // namespace lw
