// Feeds arbitrary bytes to the call store's readers: as a day's data file,
// as the latest-call list (behind two good lines, so the records are
// reached) and as the contact file. Nothing may crash; the counts must add
// up; a contact's own number must find it (or an earlier contact with the
// same number) and hand back that very record; and the list rewrites must
// leave a list the readers accept again.
#include <cstring>
#include <string_view>

#include "callstore/call_store.h"
#include "callstore/contacts.h"
#include "callstore/templates.h"
#include "fuzz_home.h"

using lw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzHome app({"Data/Log/2005/03/15"});
  static lw::FakeClock clock(lw::LocalDateTime{2005, 3, 15, 10, 15, 30, 2});
  const std::string bytes = lw::fuzz::Text(data, size);
  const std::string day = "\\Data\\Log\\2005\\03\\15\\";
  app.Write("Data/Log/2005/03/15/Data", bytes);
  app.Write("Data/Last", "1:" + day + "\r\n2:" + day + "\r\n" + bytes);
  app.Write("Data/Contactes", bytes);

  lw::CallStore store(app.path(), clock);
  store.SetNumOfItemsInLast(static_cast<int32_t>(size % 7) - 1);
  lw::CallRecord record{};
  for (int64_t n = 0; n <= 3; ++n) store.ReadCallRecord(record, day, n);
  lw::CallCounts counts;
  store.CountLastCalls(counts);
  Check(counts.NumOfCalls >= 2 && counts.NumOfNewCalls <= counts.NumOfCalls &&
        counts.NumOfNewMessages <= counts.NumOfMessages);
  const lw::RemoteDigits digits{"1", "2", "3", "4", "5", "6", ""};
  for (int64_t i = 0; i <= 4; ++i) {
    lw::CallInfo info;
    if (!store.GetLastCall(i, info, i % 2 == 1)) {
      lw::FillCallTemplate(bytes, info, digits);
      lw::FillCallTemplate("<CALLER_NUMBER> <DATE> <TIME> <CALL_TYPE>", info,
                           digits);
    }
  }
  lw::FillCountTemplate(bytes, counts);

  // The general announcement settings read from the input's first bytes.
  const lw::RegistryTextReader reader = [&bytes](const std::string&,
                                                 const std::string& name) {
    return bytes.substr(0, name.size());
  };
  constexpr size_t kSize = lw::ContactRecord::kSize;
  const lw::Contacts& contacts = store.contacts();
  for (size_t k = 0; k < size / kSize && k < 4; ++k) {
    const char* rec = bytes.data() + k * kSize;
    const std::string number(lw::TrimField(std::string_view(
        rec + offsetof(lw::ContactRecord, caller_number), 40)));
    lw::ContactOverlay options;
    lw::ContactRecord contact{};
    const std::string found =
        contacts.FindContact(number, options, contact, reader);
    const size_t n = found.find_first_not_of("0123456789") == std::string::npos
                         ? std::strtoul(found.c_str(), nullptr, 10)
                         : 0;
    Check(n >= 1 && n <= k + 1 &&
          std::memcmp(contact.bytes(), bytes.data() + (n - 1) * kSize, kSize) ==
              0);
    // Record k itself matches, so some contact's name comes back: a
    // trimmed field, never longer than the field.
    const std::string name = contacts.GetContactName(
        std::string(lw::TrimField(std::string_view(
            rec + offsetof(lw::ContactRecord, caller_name), 40))),
        number);
    Check(name.size() <= sizeof contact.name && name == lw::TrimField(name));
  }
  // The rewrites keep a list that reads back.
  store.AddToLastCalls(3, day);
  store.RemoveFromLastCalls(2);
  std::vector<std::string> lines;
  Check(store.ReadLastCalls(lines) && !lines.empty() &&
        lines.front() == "3:" + day);
  return 0;
}
