// What the fuzz targets share: the input as text, a check that ends the run
// when a promise is broken, a scratch AppPath, and the parts of the process
// the controllers stand on, over fakes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "devices/fake/fake_devices.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "journal/journal.h"

namespace lw::fuzz {

inline std::string Text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// A broken promise: libFuzzer (and the standalone driver) report the input.
inline void Check(bool holds) {
  if (!holds) std::abort();
}

// A scratch AppPath, made once per run and removed at exit. In memory where
// possible: the readers open and the writers flush files for every input,
// which would make each input wait for the disk.
class FuzzHome {
 public:
  // `folders`: native sub-paths to create below the home.
  explicit FuzzHome(std::initializer_list<const char*> folders = {}) {
    const bool shm = std::filesystem::is_directory("/dev/shm");
    std::string tmpl = (shm ? std::filesystem::path("/dev/shm")
                            : std::filesystem::temp_directory_path()) /
                       "lwfuzz-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    path_ = tmpl;
    for (const char* sub : folders)
      std::filesystem::create_directories(path_ + "/" + sub);
  }
  ~FuzzHome() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  FuzzHome(const FuzzHome&) = delete;
  FuzzHome& operator=(const FuzzHome&) = delete;

  const std::string& path() const { return path_; }

  // Writes `data` to `sub` as a fresh file: rewriting one in place makes the
  // file system flush it on close.
  void Write(const std::string& sub, const std::string& data) const {
    std::filesystem::remove(path_ + "/" + sub);
    std::ofstream(path_ + "/" + sub, std::ios::binary) << data;
  }

 private:
  std::string path_;
};

// A home, the fake devices, a settings store in memory and the journal.
struct FuzzProcess {
  explicit FuzzProcess(std::initializer_list<const char*> folders)
      : home(folders) {}
  FuzzHome home;
  FakeDevices fake;
  SqliteSettingsStore store{":memory:"};
  Journal journal{fake.clock(), home.path()};
};

}  // namespace lw::fuzz
