#include "drivers/sqlite/sqlite_settings_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "temp_dir.h"

namespace lw {
namespace {

using Op = StoreChange::Op;
constexpr uint32_t kRoot = HKEY_LOCAL_MACHINE;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Get(SettingsStore& s, std::string_view key, std::string_view name,
                uint32_t* type = nullptr) {
  std::string data;
  uint32_t t = 0;
  if (s.GetValue(kRoot, key, name, &t, &data) != StoreStatus::kOk)
    return "<missing>";
  if (type != nullptr) *type = t;
  return data;
}

std::vector<std::string> Paths(SettingsStore& s, std::string_view key) {
  std::vector<StoredKey> keys;
  s.ReadTree(kRoot, key, &keys);
  std::vector<std::string> out;
  out.reserve(keys.size());
  for (const StoredKey& k : keys) out.push_back(k.path);
  return out;
}

// Spelling, batches and the other rules every store keeps are the contract
// tests' (settings_store_test.cc); these are the store on disk's own.

TEST(SqliteSettingsStoreTest, OwnerOnlyFilesKeepRawBytes) {
  testing::TempDir dir;
  const std::string path = dir / "registry.db";
  SqliteSettingsStore s(path);
  ASSERT_EQ(s.CreateKey(kRoot, "K"), StoreStatus::kOk);
  const std::string raw("\x00\xff\x01zero\x00inside", 14);
  ASSERT_EQ(s.SetValue(kRoot, "K", "bin", REG_BINARY, raw), StoreStatus::kOk);
  ASSERT_EQ(s.SetValue(kRoot, "K", "empty", REG_SZ, ""), StoreStatus::kOk);
  uint32_t type = 0;
  EXPECT_EQ(Get(s, "k", "BIN", &type), raw);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(Get(s, "K", "empty", &type), "");
  EXPECT_EQ(type, REG_SZ);
  for (const std::string& file : {path, path + "-wal"})
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read |
                  std::filesystem::perms::owner_write)
        << file;
}

TEST(SqliteSettingsStoreTest, DeleteKeyTakesExactlyItsSubtree) {
  SqliteSettingsStore s(":memory:");
  for (const char* k : {"A\\B\\C", "A\\B2", "A\\B c", "A\\Ba", "AB"})
    ASSERT_EQ(s.CreateKey(kRoot, k), StoreStatus::kOk);
  ASSERT_EQ(s.SetValue(kRoot, "A\\B\\C", "v", REG_SZ, "1"), StoreStatus::kOk);
  ASSERT_EQ(s.SetValue(kRoot, "A\\B2", "v", REG_SZ, "2"), StoreStatus::kOk);
  EXPECT_EQ(s.DeleteKey(kRoot, "a\\B", true), StoreStatus::kOk);
  EXPECT_EQ(Paths(s, ""),
            (std::vector<std::string>{"A", "A\\B c", "A\\B2", "A\\Ba", "AB"}));
  EXPECT_EQ(Get(s, "A\\B2", "v"), "2");
  // The value of the deleted key went with it: a new key starts empty.
  ASSERT_EQ(s.CreateKey(kRoot, "A\\B\\C"), StoreStatus::kOk);
  EXPECT_EQ(Get(s, "A\\B\\C", "v"), "<missing>");
}

TEST(SqliteSettingsStoreTest, FileThatIsNotAStoreFailsCleanlyAndStaysAsItIs) {
  testing::TempDir dir;
  const std::string path = dir / "registry.db";
  std::string junk;
  for (int i = 0; i < 200; ++i)
    junk += "this is not a database, line " + std::to_string(i) + "\n";
  std::ofstream(path, std::ios::binary) << junk;

  SqliteSettingsStore s(path);
  EXPECT_FALSE(s.IsOpen());
  EXPECT_NE(s.LastError().find("not a database"), std::string::npos)
      << s.LastError();
  std::vector<std::string> names;
  std::vector<StoredKey> keys;
  EXPECT_EQ(s.KeyExists(kRoot, "A"), StoreStatus::kFailed);
  EXPECT_EQ(s.CreateKey(kRoot, "A"), StoreStatus::kFailed);
  EXPECT_EQ(s.SetValue(kRoot, "A", "x", REG_SZ, "1"), StoreStatus::kFailed);
  EXPECT_EQ(Get(s, "A", "x"), "<missing>");
  EXPECT_EQ(s.ListSubkeys(kRoot, "", &names), StoreStatus::kFailed);
  EXPECT_EQ(s.ReadTree(kRoot, "", &keys), StoreStatus::kFailed);
  EXPECT_EQ(s.Apply(std::vector<StoreChange>{{}}), StoreStatus::kFailed);
  EXPECT_EQ(ReadFile(path), junk);
}

TEST(SqliteSettingsStoreTest, ReadOnlyStoreReadsButRefusesWrites) {
  testing::TempDir dir;
  const std::string path = dir / "registry.db";
  {
    SqliteSettingsStore w(path);
    ASSERT_EQ(w.CreateKey(kRoot, "A"), StoreStatus::kOk);
    ASSERT_EQ(w.SetValue(kRoot, "A", "x", REG_SZ, "kept"), StoreStatus::kOk);
  }
  SqliteSettingsStore s(path, {.read_only = true});
  ASSERT_TRUE(s.IsOpen());
  EXPECT_TRUE(s.IsReadOnly());
  EXPECT_EQ(Get(s, "a", "X"), "kept");
  EXPECT_EQ(s.SetValue(kRoot, "A", "x", REG_SZ, "lost"), StoreStatus::kDenied);
  EXPECT_EQ(s.DeleteKey(kRoot, "A", true), StoreStatus::kDenied);
  EXPECT_EQ(s.Apply(std::vector<StoreChange>{
                {Op::kCreateKey, kRoot, "C", "", 0, ""}}),
            StoreStatus::kDenied);
  EXPECT_EQ(Get(s, "A", "x"), "kept");
}

TEST(SqliteSettingsStoreTest, ConcurrentWriterNeverTearsOrLocksOutAReader) {
  // given one connection rewriting values in a loop (two in a batch, one
  // alone) while another reads them, expect every read to succeed and to
  // see the values whole and both of the batch from the same write
  testing::TempDir dir;
  SqliteSettingsStore writer(dir / "registry.db");
  SqliteSettingsStore reader(dir / "registry.db");
  ASSERT_EQ(writer.CreateKey(kRoot, "S"), StoreStatus::kOk);
  constexpr int kWrites = 150;
  auto pattern = [](int i, size_t n) {
    return std::string(n, static_cast<char>('a' + i % 26));
  };
  std::atomic<bool> done{false};
  int write_failures = 0;
  std::thread t([&] {
    for (int i = 0; i < kWrites; ++i) {
      write_failures +=
          writer.Apply(std::vector<StoreChange>{
              {Op::kSetValue, kRoot, "S", "big", REG_BINARY, pattern(i, 6000)},
              {Op::kSetValue, kRoot, "S", "small", REG_BINARY, pattern(i, 7)},
          }) != StoreStatus::kOk;
      write_failures +=
          writer.SetValue(kRoot, "S", "single", REG_SZ, pattern(i, 3000 + i)) !=
          StoreStatus::kOk;
    }
    done = true;
  });
  int reads = 0, read_failures = 0, torn = 0;
  for (; !done || reads < 10; ++reads) {
    std::vector<StoredKey> keys;
    std::string single;
    uint32_t type;
    const StoreStatus got =
        reader.GetValue(kRoot, "S", "single", &type, &single);
    if (reader.ReadTree(kRoot, "S", &keys) != StoreStatus::kOk ||
        (got != StoreStatus::kOk && got != StoreStatus::kNotFound)) {
      ++read_failures;
      continue;
    }
    torn += !single.empty() && single != std::string(single.size(), single[0]);
    if (keys.size() != 1 || keys[0].values.size() < 2) continue;
    const auto& v = keys[0].values;
    torn += v[1].data.empty() || v[0].data != std::string(6000, v[1].data[0]) ||
            v[1].data != std::string(7, v[1].data[0]);
  }
  t.join();
  EXPECT_EQ(write_failures, 0) << writer.LastError();
  EXPECT_EQ(read_failures, 0) << reader.LastError();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(Get(reader, "S", "small"), pattern(kWrites - 1, 7));
}

}  // namespace
}  // namespace lw
