// Feeds arbitrary bytes to the call store's readers: as a day's data file,
// as the latest-call list (behind two good lines, so the records are reached)
// and as the contact file. Nothing may crash, and the list rewrites must
// leave a list the readers accept again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "callstore/call_store.h"
#include "callstore/contacts.h"
#include "callstore/templates.h"
#include "devices/fake/fake_clock.h"
#include "fuzz_home.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzHome app({"Data/Log/2005/03/15"});
  static lw::FakeClock clock(lw::LocalDateTime{2005, 3, 15, 10, 15, 30, 2});
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string& root = app.path();

  app.Write("Data/Log/2005/03/15/Data", bytes);
  app.Write(
      "Data/Last",
      "1:\\Data\\Log\\2005\\03\\15\\\r\n2:\\Data\\Log\\2005\\03\\15\\\r\n" +
          bytes);
  app.Write("Data/Contactes", bytes);

  lw::CallStore store(root, clock);
  store.SetNumOfItemsInLast(static_cast<int32_t>(size % 7) - 1);

  lw::CallRecord record{};
  for (int64_t n = 0; n <= 3; ++n)
    store.ReadCallRecord(record, "\\Data\\Log\\2005\\03\\15\\", n);

  lw::CallCounts counts;
  store.CountLastCalls(counts);
  if (counts.NumOfCalls < 2 || counts.NumOfNewCalls > counts.NumOfCalls ||
      counts.NumOfNewMessages > counts.NumOfMessages)
    std::abort();

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

  // A contact lookup by the number the first contact record would carry.
  std::string number =
      size > 136 ? bytes.substr(136, std::min<size_t>(40, size - 136)) : "";
  number = std::string(lw::TrimField(number));
  lw::ContactOverlay options;
  lw::ContactRecord contact{};
  lw::RegistryTextReader reader = [&bytes](const std::string&,
                                           const std::string& name) {
    return bytes.substr(0, name.size());
  };
  store.contacts().FindContact(number, options, contact, reader);
  store.contacts().GetContactName("", number);

  // The rewrites keep a list that reads back.
  store.AddToLastCalls(3, "\\Data\\Log\\2005\\03\\15\\");
  store.RemoveFromLastCalls(2);
  std::vector<std::string> lines;
  if (!store.ReadLastCalls(lines) || lines.empty() ||
      lines.front() != "3:\\Data\\Log\\2005\\03\\15\\")
    std::abort();
  return 0;
}
