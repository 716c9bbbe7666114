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
// Text crosses here between the store and a file. The store holds the bytes
// of every name and text as they were given; on Linux those bytes are UTF-8,
// and they are never re-encoded on the way in or out of the store. A file's
// characters become their UTF-8 bytes in the store and back: files are
// written in UTF-8 and read as UTF-16LE when they start with its byte-order
// mark, as UTF-8 when they are valid UTF-8 (a UTF-8 byte-order mark is
// skipped), and otherwise as Latin-1 (old 8-bit exports). Text data in
// hex(1), hex(2) and hex(7) is UTF-16LE in "Version 5.00" files and plain
// bytes in "REGEDIT4" files.
//
// Store texts that are not valid UTF-8 (an old Latin-1 store, a modem's
// bytes) keep their bytes: in hex(N) data each byte b that is not part of a
// UTF-8 character is written as the lone UTF-16 unit U+DC00 + b, which reads
// back as that byte. Names have no such form: a key or value name that is not
// valid UTF-8 cannot be exported.
//
// Writing keeps every value exact: REG_SZ goes out as a quoted text only
// when it is valid UTF-8 with one terminating zero and no line break;
// otherwise, like REG_EXPAND_SZ and REG_MULTI_SZ, as hex(N) of its UTF-16LE
// form, and REG_DWORD as dword: only when it has exactly four bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "devices/settings_store.h"

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

// A file as WriteRegFile gives it (UTF-8, LF) in the form of the registry
// editor: UTF-16LE with a byte-order mark and CR LF line ends.
std::string RegFileAsUtf16(std::string_view utf8_file);

// Exports `key` under `root` with everything below it.
bool ExportRegFile(SettingsStore& store, uint32_t root, std::string_view key,
                   std::string* file, std::string* error);

// Parses the whole file first, then applies it in one transaction: a
// malformed file or a refused write changes nothing.
bool ImportRegFile(SettingsStore& store, std::string_view file,
                   std::string* error);

// As above, but only the keys at or below `key` under `root` are applied.
// Every other key of the file is left out and named once, in file order, in
// `outside` ("HKEY_CURRENT_USER\Software\Other"); key paths compare
// without regard to case, a component at a time.
bool ImportRegFile(SettingsStore& store, std::string_view file, uint32_t root,
                   std::string_view key, std::vector<std::string>* outside,
                   std::string* error);

// "HKEY_LOCAL_MACHINE" for 0x80000002 (empty for an unknown root), and back
// (also the short forms "HKLM", "HKCU", "HKCR", "HKU", "HKCC").
std::string RootKeyName(uint32_t root);
std::optional<uint32_t> ParseRootKeyName(std::string_view name);

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool IsValidUtf8(std::string_view text);

}  // namespace lw
