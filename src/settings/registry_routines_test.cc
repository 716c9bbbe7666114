#include "settings/registry_routines.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "drivers/sqlite/sqlite_settings_store.h"

namespace lw {
namespace {

constexpr const char* kSection = "Answer\\TabAnsweringMachine";
const std::string kSectionPath = std::string(kKeyRoot) + "\\" + kSection;

std::string S(const char* s, size_t n) { return std::string(s, n); }

class RegistryRoutinesTest : public ::testing::Test {
 protected:
  RegistryRoutinesTest() : reg_(store_) {
    reg_.CreateKey(kSection);
    reg_.SetSubkey(kSection);
  }

  void Put(std::string_view name, uint32_t type, std::string_view data) {
    ASSERT_EQ(
        store_.SetValue(HKEY_LOCAL_MACHINE, kSectionPath, name, type, data),
        StoreStatus::kOk);
  }

  SqliteSettingsStore store_{":memory:"};
  RegistryRoutines reg_;
};

TEST_F(RegistryRoutinesTest, WritesValuesAsTheRegistryHoldsThem) {
  // Given values and the type to write them as, expect the stored bytes
  // and type; a value the type cannot take is refused and the old one stays.
  const struct {
    RegValue in;
    uint32_t type;
    std::string stored;  // "" = refused
  } cases[] = {
      {std::string("abc"), REG_SZ, S("abc\0", 4)},
      {int32_t{3}, REG_SZ, S("3\0", 2)},
      {S("a\0bc", 4), REG_MULTI_SZ, S("a\0bc\0\0", 6)},
      {S("a\0b\0", 4), REG_MULTI_SZ, S("a\0b\0\0", 5)},
      {RegBytes{0, 0xff, 7}, REG_BINARY, S("\0\xff\x07", 3)},
      {int32_t{-2}, REG_DWORD, "\xfe\xff\xff\xff"},
      {std::string(" 12 "), REG_DWORD, S("\x0c\0\0\0", 4)},
      {std::string("&hFFFFFFFE"), REG_DWORD, "\xfe\xff\xff\xff"},
      {std::string("2.5"), REG_DWORD, S("\x02\0\0\0", 4)},
      {std::string("3.5"), REG_DWORD, S("\x04\0\0\0", 4)},
      {RegValue{}, REG_DWORD, std::string(4, '\0')},
      {std::string("2147483648"), REG_DWORD, ""},
      {std::string("abc"), REG_DWORD, ""},
      {RegBytes{1, 2}, REG_DWORD, ""},
      {std::string("x"), 5, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(RegValueText(c.in));
    ASSERT_TRUE(reg_.SetRegistryValue("v", std::string("before"), REG_SZ));
    EXPECT_EQ(reg_.SetRegistryValue("v", c.in, c.type), !c.stored.empty());
    uint32_t type = 0;
    std::string data;
    store_.GetValue(HKEY_LOCAL_MACHINE, kSectionPath, "v", &type, &data);
    EXPECT_EQ(data, c.stored.empty() ? S("before\0", 7) : c.stored);
    EXPECT_EQ(type, c.stored.empty() ? REG_SZ : c.type);
  }
}

TEST_F(RegistryRoutinesTest, ReadsEachTypeByItsRule) {
  // Given stored bytes of each type, expect the value read, or the
  // caller's default for what has no value form.
  const RegValue def = std::string("default");
  const std::string big = std::string(5000, 'x') + "end";
  const struct {
    uint32_t type;
    std::string stored;
    RegValue read;
  } cases[] = {
      {REG_SZ, S("\0", 1), std::string()},
      {REG_SZ, "", def},
      {REG_SZ, "abc", std::string("ab")},  // only the last byte goes
      {REG_SZ, big + '\0', big},
      {REG_BINARY, big, RegBytes(big.begin(), big.end())},
      {REG_DWORD, S("\x0a\x00\x00\x80", 4), int32_t{-2147483638}},
      {REG_DWORD, "\x01", def},
      {REG_MULTI_SZ, S("one\0two\0\0", 9), S("one\0two", 7)},
      {REG_MULTI_SZ, S("\0two\0\0", 6), def},
      {11, "12345678", def},
  };
  for (const auto& c : cases) {
    Put("v", c.type, c.stored);
    EXPECT_EQ(reg_.GetRegistryValue("v", def), c.read) << c.stored.size();
  }
  EXPECT_EQ(reg_.GetRegistryValue("missing", def), def);
  EXPECT_TRUE(IsEmpty(reg_.GetRegistryValue("missing")));
}

TEST_F(RegistryRoutinesTest, ExpandsEnvironmentReferences) {
  ::setenv("LW_REG_TEST_HOME", "/home/lw", 1);
  ::unsetenv("LW_REG_TEST_UNSET");
  Put("p", REG_EXPAND_SZ,
      std::string("%LW_REG_TEST_HOME%\\Greets %LW_REG_TEST_UNSET% 50% "
                  "%%LW_REG_TEST_HOME%") +
          '\0');
  EXPECT_EQ(reg_.GetRegistryValue("p"),
            RegValue(std::string("/home/lw\\Greets %LW_REG_TEST_UNSET% 50% "
                                 "%/home/lw")));
}

}  // namespace
}  // namespace lw
