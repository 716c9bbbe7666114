// Call store speed: saving a call with a full latest-call list, counting the
// list, looking a caller up among many contacts, and the start-up scan for
// calls cut off by a crash over years of day folders.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/paths.h"
#include "callstore/call_recovery.h"
#include "callstore/call_store.h"
#include "callstore/contacts.h"
#include "devices/fake/fake_devices.h"
#include "journal/journal.h"
#include "temp_dir.h"

namespace lw {
namespace {

CallRecord Record(int i) {
  CallRecord r{};
  PutField(r.contact_digit, "0");
  PutField(r.call_type, i % 3 == 0 ? "2" : "0");
  PutField(r.caller_name, "CALLER " + std::to_string(i));
  PutField(r.caller_number, "555" + std::to_string(i));
  PutField(r.date, "03/15/2005");
  PutField(r.time, "10:15:30");
  PutField(r.length, "0:00:00");
  PutField(r.line, "0");
  PutField(r.read_mark, i % 2 == 0 ? "0" : "1");
  PutField(r.description, "Incoming call");
  return r;
}

// Saves `entries` calls spread over ten day folders, keeping all in the list.
void Fill(CallStore& store, int entries) {
  store.SetNumOfItemsInLast(entries);
  for (int i = 0; i < entries; ++i) {
    const std::string day =
        "\\Data\\Log\\2005\\03\\" + std::to_string(10 + i % 10) + "\\";
    std::filesystem::create_directories(NativePath(store.app_path(), day));
    store.SaveCall(Record(i), day, false);
  }
}

// A folder in memory (/dev/shm), to tell the store's own cost from the
// disk's flush latency.
class MemoryDir {
 public:
  MemoryDir() {
    std::string tmpl = "/dev/shm/lwbench-XXXXXX";
    if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~MemoryDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Arg 0: AppPath on the temporary folder's disk (each save flushes the
// record and the list to disk); arg 1: in memory.
void BM_SaveCallWithFullList(benchmark::State& state) {
  lw::testing::TempDir disk_dir;
  MemoryDir memory_dir;
  const std::string& app = state.range(0) == 1 && !memory_dir.path().empty()
                               ? memory_dir.path()
                               : disk_dir.path();
  FakeClock clock(LocalDateTime{2005, 3, 15, 10, 15, 30, 2});
  CallStore store(app, clock);
  Fill(store, 100);
  const CallRecord record = Record(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        store.SaveCall(record, "\\Data\\Log\\2005\\03\\15\\", false));
  }
}
BENCHMARK(BM_SaveCallWithFullList)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

void BM_CountLastCalls(benchmark::State& state) {
  lw::testing::TempDir dir;
  FakeClock clock(LocalDateTime{2005, 3, 15, 10, 15, 30, 2});
  CallStore store(dir.path(), clock);
  Fill(store, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    CallCounts counts;
    store.CountLastCalls(counts);
    benchmark::DoNotOptimize(counts);
  }
}
BENCHMARK(BM_CountLastCalls)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond);

void BM_FindContact(benchmark::State& state) {
  lw::testing::TempDir dir;
  const int count = static_cast<int>(state.range(0));
  {
    std::filesystem::create_directories(dir.path() + "/Data");
    std::ofstream out(dir.path() + "/Data/Contactes", std::ios::binary);
    ContactRecord c;
    for (int i = 0; i < count; ++i) {
      std::memset(c.bytes(), ' ', ContactRecord::kSize);
      PutField(c.name, "Contact " + std::to_string(i));
      PutField(c.caller_name, "NAME " + std::to_string(i));
      PutField(c.caller_number, "555" + std::to_string(i));
      c.call_handling[0] = '4';
      c.announcements[0] = '3';
      c.forwarding[0] = '3';
      out.write(c.bytes(), ContactRecord::kSize);
    }
  }
  Contacts contacts(dir.path());
  // The last contact: every record is read.
  const std::string number = "555" + std::to_string(count - 1);
  ContactRecord found;
  for (auto _ : state) {
    ContactOverlay options;
    benchmark::DoNotOptimize(
        contacts.FindContact(number, options, found, nullptr));
  }
}
BENCHMARK(BM_FindContact)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The scan every start makes: `state.range(0)` day folders, each with ten
// stored calls and the four recordings they name, no note left behind.
// What a start costs after years of use.
void BM_RecoverScanOverDays(benchmark::State& state) {
  lw::testing::TempDir dir;
  FakeDevices fake(LocalDateTime{2005, 3, 15, 10, 15, 30, 2});
  CallStore store(dir.path(), fake.clock());
  store.SetNumOfItemsInLast(100);
  for (int d = 0; d < state.range(0); ++d) {
    char day[32];
    std::snprintf(day, sizeof day, "\\Data\\Log\\%04d\\%02d\\%02d\\",
                  2005 + d / 336, 1 + d / 28 % 12, 1 + d % 28);
    std::filesystem::create_directories(NativePath(dir.path(), day));
    for (int i = 0; i < 10; ++i) {
      const CallRecord r = Record(i);
      store.SaveCall(r, day, false);
      if (IsMessageType(FieldText(r.call_type))) {
        std::ofstream(NativePath(dir.path(), day) + "/" +
                      RecordingName(FieldText(r.caller_name),
                                    FieldText(r.caller_number),
                                    FieldText(r.date), FieldText(r.time)));
      }
    }
  }
  auto wave = fake.devices().new_wave();
  Journal journal(fake.clock(), dir.path());
  for (auto _ : state) {
    RecoverInterruptedCalls(store, WrapUpOptions{}, *wave, journal);
  }
}
BENCHMARK(BM_RecoverScanOverDays)
    ->Arg(365)
    ->Arg(1095)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lw

BENCHMARK_MAIN();
