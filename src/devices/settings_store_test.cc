// The settings store contract, held by the store on disk: the rules every
// store keeps (the store in memory is a stand-in for tests).
#include "devices/settings_store.h"

#include <gtest/gtest.h>

#include "drivers/sqlite/sqlite_settings_store.h"
#include "temp_dir.h"

namespace lw {
namespace {

class SettingsStoreContractTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  SqliteSettingsStore store_{dir_ / "registry.db"};
};

constexpr uint32_t kLM = HKEY_LOCAL_MACHINE;

TEST_F(SettingsStoreContractTest, KeysAndNamesIgnoreCaseButKeepFirstSpelling) {
  EXPECT_EQ(store_.SetValue(kLM, "Soft\\App", "v", REG_SZ, "x"),
            StoreStatus::kNotFound);  // the key is never made by a write
  ASSERT_EQ(store_.CreateKey(kLM, "\\Soft\\\\App\\"), StoreStatus::kOk);
  ASSERT_EQ(store_.CreateKey(kLM, "soft\\app\\Zed"), StoreStatus::kOk);
  ASSERT_EQ(store_.CreateKey(kLM, "SOFT\\APP\\beta"), StoreStatus::kOk);
  ASSERT_EQ(store_.SetValue(kLM, "soft\\APP", "Name", REG_SZ, "one"),
            StoreStatus::kOk);
  ASSERT_EQ(store_.SetValue(kLM, "Soft\\App", "NAME", REG_DWORD, "two"),
            StoreStatus::kOk);
  EXPECT_EQ(store_.SetValue(kLM, "", "v", REG_SZ, "x"), StoreStatus::kDenied);

  std::vector<std::string> names;
  ASSERT_EQ(store_.ListSubkeys(kLM, "soft\\app", &names), StoreStatus::kOk);
  EXPECT_EQ(names, (std::vector<std::string>{"beta", "Zed"}));
  std::vector<StoredKey> tree;
  ASSERT_EQ(store_.ReadTree(kLM, "SOFT", &tree), StoreStatus::kOk);
  ASSERT_EQ(tree.size(), 4u);
  EXPECT_EQ(tree[1].path, "Soft\\App");
  EXPECT_EQ(tree[1].values,
            (std::vector<StoredValue>{{"Name", REG_DWORD, "two"}}));
  EXPECT_EQ(tree[3].path, "Soft\\App\\Zed");

  EXPECT_EQ(store_.DeleteKey(kLM, "soft", false), StoreStatus::kDenied);
  EXPECT_EQ(store_.DeleteKey(kLM, "soft", true), StoreStatus::kOk);
  EXPECT_EQ(store_.KeyExists(kLM, "soft\\app\\zed"), StoreStatus::kNotFound);
}

TEST_F(SettingsStoreContractTest, ABatchAppliesWhollyOrNotAtAll) {
  const StoreChange set_a{
      StoreChange::Op::kSetValue, kLM, "A\\B", "v", REG_SZ, "1"};
  const StoreChange into_root{
      StoreChange::Op::kSetValue, kLM, "", "v", REG_SZ, "1"};
  const StoreChange bad[] = {set_a, into_root};
  EXPECT_NE(store_.Apply(bad), StoreStatus::kOk);
  EXPECT_EQ(store_.KeyExists(kLM, "A"), StoreStatus::kNotFound);

  const StoreChange good[] = {
      set_a,
      {StoreChange::Op::kDeleteValue, kLM, "A\\B", "gone", 0, ""},
      {StoreChange::Op::kCreateKey, kLM, "A\\C", "", 0, ""},
      {StoreChange::Op::kDeleteTree, kLM, "A\\C", "", 0, ""}};
  ASSERT_EQ(store_.Apply(good), StoreStatus::kOk);
  std::string data;
  EXPECT_EQ(store_.GetValue(kLM, "a\\b", "V", nullptr, &data),
            StoreStatus::kOk);
  EXPECT_EQ(data, "1");
  EXPECT_EQ(store_.KeyExists(kLM, "A\\C"), StoreStatus::kNotFound);
}

}  // namespace
}  // namespace lw
