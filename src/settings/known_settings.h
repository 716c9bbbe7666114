// The settings the process reads: one table of section, value name and the
// kind of value the process converts it as. The option readers check their
// reads against it, and lwdctl guards what it writes by it, so a typed
// value name or a value the process cannot convert is caught before the
// line runs on it.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

enum class SettingKind {
  kText,    // any text
  kSwitch,  // "0"/"1", any number (non-zero is on), "True"/"False"
  kFlag,    // on only as the text "1"; "0" or empty is off
  kInt16,   // a whole number from -32768 to 32767
  kInt32,   // a whole number of 32 bits
  kReal,    // a decimal number, fractions allowed
};

struct KnownSetting {
  const char* section;  // below the product key, "" for the key itself
  const char* name;
  SettingKind kind;
};

std::span<const KnownSetting> KnownSettings();

// The entry of `name` in `section` (both compared without regard to case);
// null when there is none.
const KnownSetting* FindKnownSetting(std::string_view section,
                                     std::string_view name);

// Whether any entry lies in `section` (without regard to case).
bool IsKnownSection(std::string_view section);

// The names nearest to `name` by edit distance (all at the smallest one, up
// to `count`) among the entries of `section`; for an unknown section, the
// section names nearest to it.
std::vector<std::string> NearestSettingNames(std::string_view section,
                                             std::string_view name,
                                             size_t count);

// Empty when the process converts `text` as a value of `kind`; otherwise
// what is allowed ("a whole number from -32768 to 32767").
std::string SettingValueProblem(SettingKind kind, const std::string& text);

}  // namespace lw
