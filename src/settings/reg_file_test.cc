#include "settings/reg_file.h"

#include <gtest/gtest.h>

#include "drivers/sqlite/sqlite_settings_store.h"

namespace lw {
namespace {

using Op = StoreChange::Op;
constexpr uint32_t kLm = HKEY_LOCAL_MACHINE;
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0\\A]\n";

std::string S(const char* s, size_t n) { return std::string(s, n); }

std::vector<StoredKey> Tree(SettingsStore& s) {
  std::vector<StoredKey> keys;
  EXPECT_EQ(s.ReadTree(kLm, "", &keys), StoreStatus::kOk);
  return keys;
}

TEST(RegFileTest, ReadsEveryForm) {
  const std::string file =
      "\r\n"
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0\\A\\\\B\\]\r\n"
      "@=\"def\"\r\n"
      "\"esc \\\"q\\\"\" = \"a\\\\b\\\"c\"  \r\n"
      "\"Dw\"=DWORD:FFFFfffe\r\n"
      "\"Bin\"=hex:01, 2,\\\r\n"
      "    ff,\\\r\n"
      "  10\r\n"
      "\"Exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"Multi\"=hex(7):61,00,00,00,e9,00,00,00,00,00\r\n"
      "\"Q\"=hex(b):01,02\r\n"
      "\"Gone\"=-\r\n"
      "[-HKCU\\Old]\r\n"
      "[hklm\\X]";
  RegFileError error;
  const auto changes = ParseRegFile(file, &error);
  ASSERT_TRUE(changes.has_value()) << error.Text();
  const std::string a = "SOFTWARE\\Talmero\\Linewarden 1.0\\A\\B";
  const std::vector<StoreChange> expected = {
      {Op::kCreateKey, kLm, a, "", 0, ""},
      {Op::kSetValue, kLm, a, "", REG_SZ, S("def\0", 4)},
      {Op::kSetValue, kLm, a, "esc \"q\"", REG_SZ, S("a\\b\"c\0", 6)},
      {Op::kSetValue, kLm, a, "Dw", REG_DWORD, "\xfe\xff\xff\xff"},
      {Op::kSetValue, kLm, a, "Bin", REG_BINARY, "\x01\x02\xff\x10"},
      {Op::kSetValue, kLm, a, "Exp", REG_EXPAND_SZ, S("%A%\0", 4)},
      {Op::kSetValue, kLm, a, "Multi", REG_MULTI_SZ, S("a\0\xc3\xa9\0\0", 6)},
      {Op::kSetValue, kLm, a, "Q", 11, "\x01\x02"},
      {Op::kDeleteValue, kLm, a, "Gone", 0, ""},
      {Op::kDeleteTree, HKEY_CURRENT_USER, "Old", "", 0, ""},
      {Op::kCreateKey, kLm, "X", "", 0, ""},
  };
  ASSERT_EQ(changes->size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_TRUE((*changes)[i] == expected[i]) << "change " << i;
}

TEST(RegFileTest, ReadsUtf16Latin1AndRegedit4Files) {
  const std::string utf8 =
      kHeader +
      "[HKEY_LOCAL_MACHINE\\K]\n\"caf\xc3\xa9\"=\"\xc3\xa9t\xc3\xa9\"\n";
  std::string utf16 = "\xff\xfe";
  for (char32_t c : std::u32string(U"Windows Registry Editor Version 5.00\n"
                                   U"[HKEY_LOCAL_MACHINE\\K]\n"
                                   U"\"caf\u00e9\"=\"\u00e9t\u00e9\"\n")) {
    utf16 += static_cast<char>(c & 0xff);
    utf16 += static_cast<char>(c >> 8);
  }
  const std::string latin1 =
      kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"caf\xe9\"=\"\xe9t\xe9\"\n";
  for (const std::string& file : {utf8, utf16, latin1, "\xef\xbb\xbf" + utf8}) {
    RegFileError error;
    const auto changes = ParseRegFile(file, &error);
    ASSERT_TRUE(changes.has_value()) << error.Text();
    ASSERT_EQ(changes->size(), 2u);
    EXPECT_EQ((*changes)[1].name, "caf\xc3\xa9");
    EXPECT_EQ((*changes)[1].data, S("\xc3\xa9t\xc3\xa9\0", 6));
  }

  // Old-style files hold their texts as plain bytes.
  const auto old = ParseRegFile(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"e\"=hex(2):41,42,00\n", nullptr);
  ASSERT_TRUE(old.has_value());
  EXPECT_EQ((*old)[1].data, S("AB\0", 3));
}

TEST(RegFileTest, RefusesMalformedFilesWithTheLine) {
  const struct {
    std::string file;
    int line;
    std::string message;
  } cases[] = {
      {"", 0, "empty file"},
      {"\n\nhello\n", 3, "not a registry file"},
      {kHeader + "\"x\"=\"1\"\n", 3, "value outside a key"},
      {kHeader + "[HKEY_NOWHERE\\A]\n", 3, "unknown root key"},
      {kHeader + "[HKEY_LOCAL_MACHINE]\n\"x\"=\"1\"\n", 4, "root key"},
      {kHeader + kKey + "junk\n", 4, "expected [KEY]"},
      {kHeader + kKey + "\"x\"=\"open\n", 4, "missing closing quote"},
      {kHeader + kKey + "\"x\"=\"a\\nb\"\n", 4, "unknown escape"},
      {kHeader + kKey + "\"x\"=dword:123456789\n", 4, "dword"},
      {kHeader + kKey + "\"x\"=hex:01,2g\n", 4, "byte"},
      {kHeader + kKey + "\"x\"=hex:01,\\\n  02,\\\n  zz\n", 6, "byte"},
      {kHeader + kKey + "\"x\"=hex:01,\\", 4, "past the end"},
      {kHeader + kKey + "\"x\"=hex(2):41,00,42\n", 4, "odd number"},
      {kHeader + kKey + "\"x\"=hex(7):41,00,00,d8,41,00\n", 4, "U+D800"},
      {kHeader + kKey + S("\"a\0\"=\"\"\n", 8), 4, "zero character"},
      {kHeader + kKey + "\"a\rb\"=\"\"\n", 4, "line break in a name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    RegFileError error;
    EXPECT_FALSE(ParseRegFile(c.file, &error).has_value());
    EXPECT_EQ(error.line, c.line);
    EXPECT_NE(error.message.find(c.message), std::string::npos)
        << error.message;
  }
}

// Given a store with settings and a file whose last line is malformed,
// expect the import to be refused with that line and the store unchanged.
TEST(RegFileTest, MalformedImportWritesNothing) {
  SqliteSettingsStore store(":memory:");
  std::string error;
  ASSERT_TRUE(ImportRegFile(
      store, kHeader + kKey + "\"keep\"=\"1\"\n\"other\"=dword:00000002\n",
      &error))
      << error;
  const std::vector<StoredKey> before = Tree(store);

  std::string bad = kHeader + "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n" + kKey;
  for (int i = 0; i < 50; ++i) bad += "\"v" + std::to_string(i) + "\"=\"x\"\n";
  bad += "\"keep\"=\"2\n";
  EXPECT_FALSE(ImportRegFile(store, bad, &error));
  EXPECT_EQ(error, "line 55: missing closing quote");
  EXPECT_EQ(Tree(store), before);
}

// Given values of every type, some in forms the quoted syntax cannot carry,
// expect the export format byte for byte, and its import (also in the
// registry editor's UTF-16) into an empty store to give back the same keys,
// names, types and bytes.
TEST(RegFileTest, ExportIsExactAndImportGivesItBack) {
  SqliteSettingsStore from(":memory:");
  const std::string base = "SOFTWARE\\Talmero\\Linewarden 1.0";
  const std::string cafe = base + "\\Caf\xc3\xa9";
  std::string bin;
  for (int i = 0; i < 30; ++i) bin += static_cast<char>(i);
  const std::vector<StoreChange> fill = {
      {Op::kSetValue, kLm, base, "bRun", REG_SZ, S("1\0", 2)},
      {Op::kCreateKey, kLm, base + "\\TTS51", "", 0, ""},
      {Op::kSetValue, kLm, cafe, "", REG_SZ, S("default\0", 8)},
      {Op::kSetValue, kLm, cafe, "quo\"te\\", REG_SZ,
       S("C:\\x \"q\" caf\xc3\xa9\0", 15)},
      {Op::kSetValue, kLm, cafe, "latin1", REG_SZ, S("caf\xe9\0", 5)},
      {Op::kSetValue, kLm, cafe, "empty", REG_SZ, S("\0", 1)},
      {Op::kSetValue, kLm, cafe, "inner", REG_SZ, S("a\0b\0", 4)},
      {Op::kSetValue, kLm, cafe, "cut", REG_SZ, "ab"},
      {Op::kSetValue, kLm, cafe, "n", REG_DWORD, S("\x0a\0\0\0", 4)},
      {Op::kSetValue, kLm, cafe, "odd", REG_DWORD, "\x01"},
      {Op::kSetValue, kLm, cafe, "path", REG_EXPAND_SZ, S("%H%\0", 4)},
      {Op::kSetValue, kLm, cafe, "m", REG_MULTI_SZ,
       S("a\0\xff\0\xf0\x9f\x93\x9e\0\0", 10)},
      {Op::kSetValue, kLm, cafe, "bin", REG_BINARY, bin},
      {Op::kSetValue, kLm, cafe, "q", 11, S("\x01\0\0\0\0\0\0\x80", 8)},
  };
  ASSERT_EQ(from.Apply(fill), StoreStatus::kOk) << from.LastError();
  std::string file;
  std::string error;
  ASSERT_TRUE(ExportRegFile(from, kLm, base, &file, &error)) << error;
  EXPECT_EQ(
      file,
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0]\n"
      "\"bRun\"=\"1\"\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0\\Caf\xc3\xa9]\n"
      "@=\"default\"\n"
      "\"quo\\\"te\\\\\"=\"C:\\\\x \\\"q\\\" caf\xc3\xa9\"\n"
      "\"latin1\"=hex(1):63,00,61,00,66,00,e9,dc,00,00\n"
      "\"empty\"=\"\"\n"
      "\"inner\"=hex(1):61,00,00,00,62,00,00,00\n"
      "\"cut\"=hex(1):61,00,62,00\n"
      "\"n\"=dword:0000000a\n"
      "\"odd\"=hex(4):01\n"
      "\"path\"=hex(2):25,00,48,00,25,00,00,00\n"
      "\"m\"=hex(7):61,00,00,00,ff,dc,00,00,3d,d8,de,dc,00,00,00,00\n"
      "\"bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,"
      "12,13,14,15,16,\\\n"
      "  17,18,19,1a,1b,1c,1d\n"
      "\"q\"=hex(b):01,00,00,00,00,00,00,80\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0\\TTS51]\n"
      "\n");

  std::vector<StoredKey> a;
  ASSERT_EQ(from.ReadTree(kLm, base, &a), StoreStatus::kOk);
  for (const std::string& form : {file, RegFileAsUtf16(file)}) {
    SqliteSettingsStore to(":memory:");
    ASSERT_TRUE(ImportRegFile(to, form, &error)) << error;
    std::vector<StoredKey> b;
    ASSERT_EQ(to.ReadTree(kLm, base, &b), StoreStatus::kOk);
    EXPECT_EQ(a, b);
  }

  // A section alone (in any spelling), and a section that is not there.
  ASSERT_TRUE(ExportRegFile(from, kLm, base + "\\tts51", &file, &error));
  EXPECT_EQ(file, kHeader +
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden "
                      "1.0\\TTS51]\n\n");
  EXPECT_FALSE(ExportRegFile(from, kLm, base + "\\None", &file, &error));
  // Names with a line break, or whose bytes are not UTF-8, have no form.
  const StoredKey broken[] = {{base, {{"two\nlines", REG_BINARY, ""}}}};
  EXPECT_FALSE(WriteRegFile(kLm, broken, &error).has_value());
  EXPECT_NE(error.find("line break"), std::string::npos);
  const std::vector<StoreChange> latin1 = {
      {Op::kSetValue, kLm, base, "caf\xe9", REG_SZ, "x"}};
  ASSERT_EQ(from.Apply(latin1), StoreStatus::kOk);
  EXPECT_FALSE(ExportRegFile(from, kLm, base, &file, &error));
  EXPECT_NE(error.find("\"caf\\xE9\""), std::string::npos) << error;
  EXPECT_FALSE(WriteRegFile(0x12345678, a, &error).has_value());
}

// Given a file with keys beside, above and outside the product key, expect
// only the product's keys applied and each other key named once, in order.
TEST(RegFileTest, ScopedImportLeavesOutOtherKeys) {
  SqliteSettingsStore store(":memory:");
  std::vector<std::string> outside;
  std::string error;
  ASSERT_TRUE(ImportRegFile(
      store,
      kHeader + "[HKEY_LOCAL_MACHINE\\software\\talmero\\LINEWARDEN 1.0\\A]\n" +
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden "
          "1.0x]\n\"b\"=\"1\"\n"
          "[HKEY_CURRENT_USER\\SOFTWARE\\Talmero\\Linewarden 1.0]\n"
          "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n" +
          kKey + "\"in\"=\"2\"\n",
      kLm, "SOFTWARE\\Talmero\\Linewarden 1.0", &outside, &error))
      << error;
  EXPECT_EQ(outside,
            (std::vector<std::string>{
                "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0x",
                "HKEY_CURRENT_USER\\SOFTWARE\\Talmero\\Linewarden 1.0",
                "HKEY_LOCAL_MACHINE\\SOFTWARE"}));
  const std::vector<StoredKey> keys = Tree(store);
  ASSERT_EQ(keys.size(), 4u);  // SOFTWARE, Talmero, the product, A
  EXPECT_EQ(keys[3].values.size(), 1u);
}

}  // namespace
}  // namespace lw
