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

TEST(RegFileTest, WritesEveryTypeInTheExportFormat) {
  std::string bin;
  for (int i = 0; i < 30; ++i) bin += static_cast<char>(i);
  const std::vector<StoredKey> keys = {
      {"SOFTWARE\\Talmero\\Linewarden 1.0", {{"bRun", REG_SZ, S("1\0", 2)}}},
      {"SOFTWARE\\Talmero\\Linewarden 1.0\\TTS51", {}},
      {"SOFTWARE\\Talmero\\Linewarden 1.0\\Caf\xc3\xa9",
       {
           {"", REG_SZ, S("default\0", 8)},
           {"quo\"te\\", REG_SZ, S("C:\\x \"q\" caf\xc3\xa9\0", 15)},
           {"latin1", REG_SZ, S("caf\xe9\0", 5)},
           {"empty", REG_SZ, S("\0", 1)},
           {"nobytes", REG_SZ, ""},
           {"two\nlines", REG_BINARY, ""},
           {"n", REG_DWORD, S("\x0a\0\0\0", 4)},
           {"short", REG_DWORD, S("\x01\x02", 2)},
           {"path", REG_EXPAND_SZ, S("%H%\0", 4)},
           {"m", REG_MULTI_SZ, S("a\0\xff\0\xf0\x9f\x93\x9e\0\0", 10)},
           {"bin", REG_BINARY, bin},
           {"q", 11, S("\x01\0\0\0\0\0\0\x80", 8)},
       }},
  };
  std::string error;
  // A name with a line break has no place in the format.
  EXPECT_FALSE(WriteRegFile(kLm, keys, &error).has_value());
  EXPECT_NE(error.find("line break"), std::string::npos);

  std::vector<StoredKey> fixed = keys;
  fixed[2].values.erase(fixed[2].values.begin() + 5);
  const std::optional<std::string> text = WriteRegFile(kLm, fixed, &error);
  ASSERT_TRUE(text.has_value()) << error;
  EXPECT_EQ(
      *text,
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0]\n"
      "\"bRun\"=\"1\"\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0\\TTS51]\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0\\Caf\xc3\xa9]\n"
      "@=\"default\"\n"
      "\"quo\\\"te\\\\\"=\"C:\\\\x \\\"q\\\" caf\xc3\xa9\"\n"
      "\"latin1\"=hex(1):63,00,61,00,66,00,e9,dc,00,00\n"
      "\"empty\"=\"\"\n"
      "\"nobytes\"=hex(1):\n"
      "\"n\"=dword:0000000a\n"
      "\"short\"=hex(4):01,02\n"
      "\"path\"=hex(2):25,00,48,00,25,00,00,00\n"
      "\"m\"=hex(7):61,00,00,00,ff,dc,00,00,3d,d8,de,dc,00,00,00,00\n"
      "\"bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,"
      "12,13,14,15,16,\\\n"
      "  17,18,19,1a,1b,1c,1d\n"
      "\"q\"=hex(b):01,00,00,00,00,00,00,80\n"
      "\n");
  EXPECT_FALSE(WriteRegFile(0x12345678, fixed, &error).has_value());
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
      "\"D1\"=dword:a\r\n"
      "\"Bin\"=hex:01, 2,\\\r\n"
      "    ff,\\\r\n"
      "  10\r\n"
      "\"NoBytes\"=hex:\r\n"
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
      {Op::kSetValue, kLm, a, "D1", REG_DWORD, S("\x0a\0\0\0", 4)},
      {Op::kSetValue, kLm, a, "Bin", REG_BINARY, "\x01\x02\xff\x10"},
      {Op::kSetValue, kLm, a, "NoBytes", REG_BINARY, ""},
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
      {kHeader + "[HKEY_LOCAL_MACHINE\\A\n", 3, "closing \"]\""},
      {kHeader + "[HKEY_NOWHERE\\A]\n", 3, "unknown root key"},
      {kHeader + "[HKEY_LOCAL_MACHINE]\n\"x\"=\"1\"\n", 4, "root key"},
      {kHeader + kKey + "junk\n", 4, "expected [KEY]"},
      {kHeader + kKey + "\"x\"=\"open\n", 4, "missing closing quote"},
      {kHeader + kKey + "\"x\"=\"a\\nb\"\n", 4, "unknown escape"},
      {kHeader + kKey + "\"x\"\n", 4, "expected \"=\""},
      {kHeader + kKey + "\"x\"=word:1\n", 4, "unknown value data"},
      {kHeader + kKey + "\"x\"=dword:123456789\n", 4, "dword"},
      {kHeader + kKey + "\"x\"=hex(1g):00\n", 4, "hex(N)"},
      {kHeader + kKey + "\"x\"=hex;00\n", 4, "\":\""},
      {kHeader + kKey + "\"x\"=hex:01,2g\n", 4, "byte"},
      {kHeader + kKey + "\"x\"=hex:01 02\n", 4, "\",\""},
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
  const RegFileError e{7, "boom"};
  EXPECT_EQ(e.Text(), "line 7: boom");
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

// Given values of every type, including forms the quoted syntax cannot
// carry, expect export then import into an empty store to give back the
// same keys, names, types and bytes, and the same file again.
TEST(RegFileTest, ExportThenImportIsExact) {
  SqliteSettingsStore from(":memory:");
  const std::string base = "SOFTWARE\\Talmero\\Linewarden 1.0";
  std::string all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes += static_cast<char>(i);
  const std::vector<StoreChange> fill = {
      {Op::kCreateKey, kLm, base + "\\TTS51", "", 0, ""},
      {Op::kSetValue, kLm, base, "bRun", REG_SZ, S("1\0", 2)},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "", REG_SZ, S("@\0", 2)},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Sz", REG_SZ,
       S("caf\xe9 \\ \"q\" =;[]\0", 16)},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "EmptySz", REG_SZ, S("\0", 1)},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "NoBytes", REG_SZ, ""},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Inner zero", REG_SZ,
       S("a\0b\0", 4)},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Unterminated", REG_SZ, "ab"},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Lines", REG_SZ,
       S("a\r\nb\0", 5)},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Exp", REG_EXPAND_SZ,
       S("%HOME%\\x\xff\0", 10)},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Multi", REG_MULTI_SZ,
       S("one\0two\xe9\0\0", 10)},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Bin", REG_BINARY, all_bytes},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Dw", REG_DWORD,
       "\x80\xff\x01\x7f"},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "OddDw", REG_DWORD, "\x01"},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Qword", 11, all_bytes},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Name \"with\" \\ \xc3\xa9",
       REG_SZ, S("v\0", 2)},
      // UTF-8 texts: a greeting name, a CJK key, a character beyond U+FFFF.
      {Op::kSetValue, kLm, base + "\\Gr\xc3\xbc\xc3\x9f\xe6\x9d\xb1",
       "Gr\xc3\xbc\xc3\x9f", REG_SZ, S("Gr\xc3\xbc\xc3\x9f\x65\0", 8)},
      {Op::kSetValue, kLm, base + "\\Sec\\Sub", "Phone", REG_MULTI_SZ,
       S("\xf0\x9f\x93\x9e\0\xc3\xa9\0\0", 9)},
  };
  ASSERT_EQ(from.Apply(fill), StoreStatus::kOk) << from.LastError();

  std::string file;
  std::string error;
  ASSERT_TRUE(ExportRegFile(from, kLm, base, &file, &error)) << error;
  SqliteSettingsStore to(":memory:");
  ASSERT_TRUE(ImportRegFile(to, file, &error)) << error;

  std::vector<StoredKey> a;
  std::vector<StoredKey> b;
  ASSERT_EQ(from.ReadTree(kLm, base, &a), StoreStatus::kOk);
  ASSERT_EQ(to.ReadTree(kLm, base, &b), StoreStatus::kOk);
  ASSERT_EQ(a.size(), 5u);
  EXPECT_EQ(a, b);
  std::string again;
  ASSERT_TRUE(ExportRegFile(to, kLm, base, &again, &error));
  EXPECT_EQ(again, file);
  // The same file as the registry editor writes it reads back the same.
  SqliteSettingsStore utf16(":memory:");
  ASSERT_TRUE(ImportRegFile(utf16, RegFileAsUtf16(file), &error)) << error;
  ASSERT_EQ(utf16.ReadTree(kLm, base, &b), StoreStatus::kOk);
  EXPECT_EQ(a, b);

  // A section alone, and a section that is not there.
  ASSERT_TRUE(ExportRegFile(from, kLm, base + "\\sec\\SUB", &file, &error));
  EXPECT_EQ(file.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden "
                      "1.0\\Sec\\Sub]\n@=\"@\"\n"),
            kHeader.size());
  EXPECT_FALSE(ExportRegFile(from, kLm, base + "\\None", &file, &error));
  // A name whose bytes are not UTF-8 has no form in the file.
  const std::vector<StoreChange> latin1 = {
      {Op::kSetValue, kLm, base, "caf\xe9", REG_SZ, "x"}};
  ASSERT_EQ(from.Apply(latin1), StoreStatus::kOk);
  EXPECT_FALSE(ExportRegFile(from, kLm, base, &file, &error));
  EXPECT_NE(error.find("\"caf\\xE9\""), std::string::npos) << error;
}

// Given a file with keys beside and above the product key, expect only the
// product's keys applied and each other key named once, in file order.
TEST(RegFileTest, ScopedImportLeavesOutOtherKeys) {
  SqliteSettingsStore store(":memory:");
  const std::string base = "SOFTWARE\\Talmero\\Linewarden 1.0";
  std::vector<std::string> outside;
  std::string error;
  ASSERT_TRUE(ImportRegFile(
      store,
      kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero]\n\"a\"=\"1\"\n" +
          "[HKEY_LOCAL_MACHINE\\software\\talmero\\LINEWARDEN 1.0]\n"
          "\"in\"=\"1\"\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0x]\n"
          "\"b\"=\"1\"\n\"c\"=\"1\"\n"
          "[HKEY_CURRENT_USER\\SOFTWARE\\Talmero\\Linewarden 1.0\\A]\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0\\A]\n"
          "\"in\"=\"2\"\n"
          "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n",
      kLm, base, &outside, &error))
      << error;
  EXPECT_EQ(outside,
            (std::vector<std::string>{
                "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero",
                "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talmero\\Linewarden 1.0x",
                "HKEY_CURRENT_USER\\SOFTWARE\\Talmero\\Linewarden 1.0\\A",
                "HKEY_LOCAL_MACHINE\\SOFTWARE"}));
  const std::vector<StoredKey> keys = Tree(store);
  ASSERT_EQ(keys.size(), 4u);  // SOFTWARE, Talmero, the product, A
  EXPECT_TRUE(keys[1].values.empty());
}

TEST(RegFileTest, TextConversions) {
  EXPECT_TRUE(IsValidUtf8("caf\xc3\xa9 \xf0\x9f\x93\x9e"));
  EXPECT_FALSE(IsValidUtf8("caf\xe9"));       // Latin-1
  EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));  // surrogate
  EXPECT_FALSE(IsValidUtf8("\xf0\x9f\x93"));  // cut short
  EXPECT_EQ(RootKeyName(HKEY_LOCAL_MACHINE), "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(ParseRootKeyName("hkey_current_user"), HKEY_CURRENT_USER);
  EXPECT_EQ(ParseRootKeyName("HKLM"), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(ParseRootKeyName("HKEY_LOCAL"), std::nullopt);
}

}  // namespace
}  // namespace lw
