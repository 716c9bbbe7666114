// The contact file "\Data\Contactes" is written by the desktop application:
// any bytes must read as whole records or none. A contact's own number must
// find it (or an earlier contact with the same number), the record handed
// back must be the file's record of that number, and laying it over the
// options must not fail, whatever its switch and number fields hold.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "callstore/call_record.h"
#include "callstore/contacts.h"
#include "fuzz_home.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzHome app({"Data"});
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  app.Write("Data/Contactes", bytes);
  const lw::Contacts contacts(app.path());
  constexpr size_t kSize = lw::ContactRecord::kSize;
  const size_t whole = size / kSize;

  // The general announcement settings read from the input's last bytes.
  const lw::RegistryTextReader reader = [&bytes](const std::string&,
                                                 const std::string& name) {
    return bytes.size() > name.size() ? bytes.substr(bytes.size() - name.size())
                                      : bytes;
  };

  for (size_t k = 0; k < whole && k < 4; ++k) {
    const char* rec = bytes.data() + k * kSize;
    const std::string number(lw::TrimField(std::string_view(
        rec + offsetof(lw::ContactRecord, caller_number), 40)));
    lw::ContactOverlay options;
    lw::ContactRecord contact{};
    const std::string found =
        contacts.FindContact(number, options, contact, reader);
    size_t n = 0;
    auto [end, ec] =
        std::from_chars(found.data(), found.data() + found.size(), n);
    if (ec != std::errc() || end != found.data() + found.size() || n < 1 ||
        n > k + 1)
      std::abort();
    if (std::memcmp(contact.bytes(), bytes.data() + (n - 1) * kSize, kSize) !=
        0)
      std::abort();

    const std::string name(lw::TrimField(
        std::string_view(rec + offsetof(lw::ContactRecord, caller_name), 40)));
    // Record k itself matches, so some contact's name comes back; it is a
    // trimmed field, never longer than the field.
    const std::string contact_name = contacts.GetContactName(name, number);
    if (contact_name.size() > sizeof contact.name ||
        contact_name != lw::TrimField(contact_name))
      std::abort();
  }

  // A number no record holds after trimming finds nothing.
  lw::ContactOverlay options;
  lw::ContactRecord contact{};
  if (contacts.FindContact(" not a number ", options, contact, reader) != "-1")
    std::abort();
  return 0;
}
