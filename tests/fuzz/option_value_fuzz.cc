// Settings come from the desktop application, `lwdctl reg` and imported
// registry files, so a value of any type and any bytes can stand where the
// line options expect a switch, a number or a text. The input is one stored
// value: a type byte, then the raw data. Decoding it and every option
// conversion must answer without a crash, a failed conversion must leave
// its field alone, and the conversions must agree with each other.
#include <cmath>
#include <iterator>

#include "fuzz_home.h"
#include "settings/call_options.h"
#include "settings/registry_routines.h"

using lw::fuzz::Check;

namespace {

constexpr uint32_t kTypes[] = {lw::REG_SZ,
                               lw::REG_EXPAND_SZ,
                               lw::REG_BINARY,
                               lw::REG_DWORD,
                               lw::REG_MULTI_SZ,
                               0,
                               11 /* REG_QWORD */};

void CheckConversions(const lw::RegValue& value) {
  // Sentinels: a failed conversion must not touch them.
  bool b = true;
  int16_t i16 = 12345;
  int32_t i32 = 1234567;
  double d = 0.25;
  const int32_t eb = lw::OptionToBoolean(value, b);
  const int32_t e16 = lw::OptionToInt16(value, i16);
  const int32_t e32 = lw::OptionToInt32(value, i32);
  const int32_t ed = lw::OptionToDouble(value, d);
  for (int32_t e : {eb, e16, e32, ed})
    Check(e == 0 || e == lw::kErrOverflow || e == lw::kErrTypeMismatch);
  Check((eb == 0 || b) && (e16 == 0 || i16 == 12345) &&
        (e32 == 0 || i32 == 1234567) && (ed == 0 || d == 0.25));
  lw::OptionToText(value);

  if (ed == 0) {
    Check(std::isfinite(d));
    // A number is a switch: on unless zero.
    Check(eb == 0 && b == (d != 0));
  }
  if (e32 == 0) {
    // Integers are the number rounded half to even.
    Check(ed == 0 && std::fabs(d - i32) <= 0.5);
    Check((e16 == 0) == (i32 >= INT16_MIN && i32 <= INT16_MAX));
  }
  if (e16 == 0) Check(e32 == 0 && i16 == i32);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static lw::SqliteSettingsStore store(":memory:");
  static lw::RegistryRoutines reg = [] {
    lw::RegistryRoutines r(store);
    r.SetSubkey("Fuzz");
    r.CreateKey();
    return r;
  }();
  const uint32_t type = kTypes[data[0] % std::size(kTypes)];
  const std::string raw = lw::fuzz::Text(data + 1, size - 1);

  // The value as stored, and as the options read it back.
  const lw::RegValue decoded = lw::DecodeRegValue(type, raw, lw::RegValue{});
  std::string path(lw::kKeyRoot);
  path += "\\Fuzz";
  Check(store.SetValue(lw::HKEY_LOCAL_MACHINE, path, "v", type, raw) ==
        lw::StoreStatus::kOk);
  Check(reg.GetRegistryValue("v") == decoded);
  CheckConversions(decoded);
  // The same bytes as text, as the desktop application writes most options.
  CheckConversions(lw::RegValue(raw));

  // Text written as REG_SZ reads back as that text.
  Check(reg.SetRegistryValue("t", raw, lw::REG_SZ));
  Check(reg.GetRegistryValue("t") == lw::RegValue(raw));
  // Text written as a number reads back as a number, the same one the
  // options read from that text when both accept it.
  if (reg.SetRegistryValue("n", raw, lw::REG_DWORD)) {
    const lw::RegValue number = reg.GetRegistryValue("n");
    const int32_t* n = std::get_if<int32_t>(&number);
    Check(n != nullptr);
    int32_t option = 0;
    if (lw::OptionToInt32(lw::RegValue(raw), option) == 0) Check(option == *n);
  }
  return 0;
}
