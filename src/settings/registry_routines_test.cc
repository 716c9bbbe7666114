#include "settings/registry_routines.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "drivers/sqlite/sqlite_settings_store.h"

namespace lw {
namespace {

constexpr const char* kSection = "Answer\\TabAnsweringMachine";
const std::string kSectionPath = std::string(kKeyRoot) + "\\" + kSection;

class RegistryRoutinesTest : public ::testing::Test {
 protected:
  RegistryRoutinesTest() : reg_(store_) {
    reg_.CreateKey(kSection);
    reg_.SetSubkey(kSection);
  }

  // The raw bytes and type the store holds for a value of the section.
  std::string Stored(std::string_view name, uint32_t* type = nullptr) {
    std::string data;
    uint32_t t = 0;
    if (store_.GetValue(HKEY_LOCAL_MACHINE, kSectionPath, name, &t, &data) !=
        StoreStatus::kOk)
      return "<missing>";
    if (type != nullptr) *type = t;
    return data;
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
  uint32_t type = 0;
  ASSERT_TRUE(reg_.SetRegistryValue("sz", std::string("abc"), REG_SZ));
  EXPECT_EQ(Stored("sz", &type), std::string("abc\0", 4));
  EXPECT_EQ(type, REG_SZ);
  ASSERT_TRUE(reg_.SetRegistryValue("exp", std::string("%X%"), REG_EXPAND_SZ));
  EXPECT_EQ(Stored("exp", &type), std::string("%X%\0", 4));
  EXPECT_EQ(type, REG_EXPAND_SZ);
  ASSERT_TRUE(
      reg_.SetRegistryValue("multi", std::string("a\0bc", 4), REG_MULTI_SZ));
  EXPECT_EQ(Stored("multi", &type), std::string("a\0bc\0\0", 6));
  EXPECT_EQ(type, REG_MULTI_SZ);
  ASSERT_TRUE(
      reg_.SetRegistryValue("multi2", std::string("a\0b\0", 4), REG_MULTI_SZ));
  EXPECT_EQ(Stored("multi2"), std::string("a\0b\0\0", 5));
  ASSERT_TRUE(reg_.SetRegistryValue("bin", RegBytes{0, 0xff, 7}, REG_BINARY));
  EXPECT_EQ(Stored("bin", &type), std::string("\0\xff\x07", 3));
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_TRUE(reg_.SetRegistryValue("dw", int32_t{-2}, REG_DWORD));
  EXPECT_EQ(Stored("dw", &type), "\xfe\xff\xff\xff");
  EXPECT_EQ(type, REG_DWORD);
  // Numbers written as text become their digits.
  ASSERT_TRUE(reg_.SetRegistryValue("num", int32_t{3}, REG_SZ));
  EXPECT_EQ(Stored("num"), std::string("3\0", 2));
}

TEST_F(RegistryRoutinesTest, ConvertsToDwordOrRefuses) {
  const struct {
    RegValue in;
    std::string stored;  // "" = refused
  } cases[] = {
      {std::string(" 12 "), std::string("\x0c\0\0\0", 4)},
      {std::string("&HFF"), std::string("\xff\0\0\0", 4)},
      {std::string("&hFFFFFFFE"), "\xfe\xff\xff\xff"},
      {std::string("2.5"), std::string("\x02\0\0\0", 4)},
      {std::string("3.5"), std::string("\x04\0\0\0", 4)},
      {std::string("2147483647"), "\xff\xff\xff\x7f"},
      {RegValue{}, std::string(4, '\0')},
      {std::string("2147483648"), ""},
      {std::string("abc"), ""},
      {RegBytes{1, 2}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(RegValueText(c.in));
    ASSERT_TRUE(reg_.SetRegistryValue("d", std::string("before"), REG_SZ));
    EXPECT_EQ(reg_.SetRegistryValue("d", c.in, REG_DWORD), !c.stored.empty());
    EXPECT_EQ(Stored("d"),
              c.stored.empty() ? std::string("before\0", 7) : c.stored);
  }
  EXPECT_FALSE(reg_.SetRegistryValue("b", int32_t{1}, REG_BINARY));
  EXPECT_FALSE(reg_.SetRegistryValue("b", std::string("x"), 5));
  EXPECT_EQ(Stored("b"), "<missing>");
}

TEST_F(RegistryRoutinesTest, ReadsEachTypeByItsRule) {
  const RegValue def = std::string("default");
  Put("emptysz", REG_SZ, std::string("\0", 1));
  EXPECT_EQ(reg_.GetRegistryValue("emptysz", def), RegValue(std::string()));
  Put("nobytes", REG_SZ, "");
  EXPECT_EQ(reg_.GetRegistryValue("nobytes", def), def);
  // Only the last byte goes, whatever it is.
  Put("unterminated", REG_SZ, "abc");
  EXPECT_EQ(reg_.GetRegistryValue("unterminated"), RegValue(std::string("ab")));

  const std::string big = std::string(5000, 'x') + "end";
  Put("big", REG_SZ, big + '\0');
  EXPECT_EQ(reg_.GetRegistryValue("big"), RegValue(big));
  Put("bigbin", REG_BINARY, big);
  EXPECT_EQ(reg_.GetRegistryValue("bigbin"),
            RegValue(RegBytes(big.begin(), big.end())));

  Put("dw", REG_DWORD, std::string("\x0a\x00\x00\x80", 4));
  EXPECT_EQ(reg_.GetRegistryValue("dw", def), RegValue(int32_t{-2147483638}));
  EXPECT_EQ(RegValueText(reg_.GetRegistryValue("dw")), "-2147483638");
  Put("shortdw", REG_DWORD, "\x01");
  EXPECT_EQ(reg_.GetRegistryValue("shortdw", def), def);

  Put("multi", REG_MULTI_SZ, std::string("one\0two\0\0", 9));
  EXPECT_EQ(reg_.GetRegistryValue("multi", def),
            RegValue(std::string("one\0two", 7)));
  Put("multi_first_empty", REG_MULTI_SZ, std::string("\0two\0\0", 6));
  EXPECT_EQ(reg_.GetRegistryValue("multi_first_empty", def), def);
  Put("multi_empty", REG_MULTI_SZ, std::string("\0\0", 2));
  EXPECT_EQ(reg_.GetRegistryValue("multi_empty", def), def);

  Put("qword", 11, "12345678");
  EXPECT_EQ(reg_.GetRegistryValue("qword", def), def);
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
  EXPECT_EQ(ExpandEnvironmentStrings("100%"), "100%");
  EXPECT_EQ(ExpandEnvironmentStrings("%LW_REG_TEST_HOME%%LW_REG_TEST_HOME%"),
            "/home/lw/home/lw");
}

TEST_F(RegistryRoutinesTest, KeyOperations) {
  EXPECT_EQ(reg_.CreateKey("TTS51\\Voice"), "0");
  EXPECT_EQ(reg_.CreateKey("TTS51\\Voice"), "0");
  EXPECT_EQ(reg_.EnumRegistryKeys(HKEY_LOCAL_MACHINE, kKeyRoot),
            (std::vector<std::string>{"Answer", "TTS51"}));
  EXPECT_EQ(reg_.EnumRegistryKeys(HKEY_LOCAL_MACHINE, ""),
            std::vector<std::string>{"SOFTWARE"});
  EXPECT_TRUE(reg_.EnumRegistryKeys(HKEY_LOCAL_MACHINE, "Nope").empty());

  // A key with subkeys stays; the answer is 0 either way.
  EXPECT_EQ(reg_.DeleteKey("TTS51"), 0);
  EXPECT_EQ(reg_.EnumRegistryKeys(HKEY_LOCAL_MACHINE, kKeyRoot).size(), 2u);
  EXPECT_EQ(reg_.DeleteKey("tts51\\voice"), 0);
  EXPECT_EQ(reg_.DeleteKey("tts51"), 0);
  EXPECT_EQ(reg_.EnumRegistryKeys(HKEY_LOCAL_MACHINE, kKeyRoot),
            std::vector<std::string>{"Answer"});
  EXPECT_EQ(reg_.DeleteKey("never there"), 0);

  ASSERT_TRUE(reg_.SetRegistryValue("v", std::string("1"), REG_SZ));
  EXPECT_EQ(reg_.DeleteValue("V"), ERROR_SUCCESS);
  EXPECT_EQ(reg_.DeleteValue("V"), ERROR_FILE_NOT_FOUND);
  reg_.SetSubkey("Missing");
  EXPECT_EQ(reg_.DeleteValue("V"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryRoutinesTest, EnumRendersBinaryAsHexAndMultiTextsJoined) {
  Put("sz", REG_SZ, std::string("t\0", 2));
  Put("bin", REG_BINARY, std::string("\x0a\xff\x00", 3));
  Put("multi", REG_MULTI_SZ, std::string("a\0b\0c\0\0", 7));
  Put("dw", REG_DWORD, std::string("\x05\0\0\0", 4));
  Put("nobin", REG_BINARY, "");
  const auto v = reg_.EnumRegistryValues(HKEY_LOCAL_MACHINE, kSectionPath);
  ASSERT_EQ(v.size(), 5u);
  EXPECT_EQ(v[0], (std::pair<std::string, RegValue>{"sz", std::string("t")}));
  EXPECT_EQ(v[1].second, RegValue(std::string("0A FF 00")));
  EXPECT_EQ(v[2].second, RegValue(std::string("a,b,c")));
  EXPECT_EQ(v[3].second, RegValue(int32_t{5}));
  EXPECT_EQ(v[4].second, RegValue(std::string()));
  EXPECT_TRUE(reg_.EnumRegistryValues(HKEY_LOCAL_MACHINE, "Nope").empty());
}

}  // namespace
}  // namespace lw
