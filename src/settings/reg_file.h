// Registry export files: the text format in which settings move between
// installations ("Windows Registry Editor Version 5.00").
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Talmero\Linewarden 1.0\Answer\TabCallsRecord]
//   "cmbRecWhen"="2"
//   @="the key's default value"
//   "Count"=dword:0000000a
//   "Raw"=hex:01,02,ff,00     (long lists go on over lines ending in "\")
//   "Path"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00
//   "Old"=-
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Talmero\Linewarden 1.0\Gone]
//
// Texts in the store are 8-bit; they are taken as Latin-1, so every store
// byte is one character and back. Files are written in UTF-8. Files are read
// as UTF-16LE when they start with its byte-order mark, as UTF-8 when they
// are valid UTF-8 (a UTF-8 byte-order mark is skipped), and otherwise as
// plain 8-bit (Latin-1) text; a character beyond U+00FF in a name or a text
// has no 8-bit form and makes the file malformed. Text data in hex(1),
// hex(2) and hex(7) is UTF-16LE in "Version 5.00" files and plain bytes in
// "REGEDIT4" files, which are read too.
//
// Writing keeps every value exact: REG_SZ goes out as a quoted text only
// when it is a text with one terminating zero and no line break; otherwise,
// like REG_EXPAND_SZ and REG_MULTI_SZ, as hex(N) of its UTF-16LE form, and
// REG_DWORD as dword: only when it has exactly four bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_store.h"

namespace lw {

inline constexpr std::string_view kRegFileHeader =
    "Windows Registry Editor Version 5.00";

struct RegFileError {
  int line = 0;  // 1-based; 0 when the fault is not on one line
  std::string message;
  std::string Text() const;  // "line 7: ..."
};

// The changes a file asks for, in file order: each [KEY] creates its key,
// each value line sets or deletes a value, [-KEY] deletes a key tree.
// nullopt (and `error`) for a malformed file.
std::optional<std::vector<StoreChange>> ParseRegFile(std::string_view file,
                                                     RegFileError* error);

// The file text for `keys` (as SettingsStore::ReadTree gives them) under
// `root`; nullopt (and `error`) when the root has no name or a name cannot
// be written on one line.
std::optional<std::string> WriteRegFile(uint32_t root,
                                        std::span<const StoredKey> keys,
                                        std::string* error);

// Exports `key` under `root` with everything below it.
bool ExportRegFile(SettingsStore& store, uint32_t root, std::string_view key,
                   std::string* file, std::string* error);

// Parses the whole file first, then applies it in one transaction: a
// malformed file or a refused write changes nothing.
bool ImportRegFile(SettingsStore& store, std::string_view file,
                   std::string* error);

// "HKEY_LOCAL_MACHINE" for 0x80000002 (empty for an unknown root), and back
// (also the short forms "HKLM", "HKCU", "HKCR", "HKU", "HKCC").
std::string RootKeyName(uint32_t root);
std::optional<uint32_t> ParseRootKeyName(std::string_view name);

// 8-bit store text to UTF-8 (each byte one character).
std::string Latin1ToUtf8(std::string_view text);
// True when `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);
// UTF-8 to 8-bit store text; nullopt when it is not valid UTF-8 or holds a
// character beyond U+00FF.
std::optional<std::string> Utf8ToLatin1(std::string_view text);

}  // namespace lw
