// A scratch AppPath for fuzz targets that read files: made once per run,
// removed at exit. In memory where possible: the readers open and the
// writers flush files for every input, which would make each input wait
// for the disk.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

namespace lw::fuzz {

class FuzzHome {
 public:
  // `folders`: native sub-paths to create below the home.
  explicit FuzzHome(std::initializer_list<const char*> folders = {}) {
    std::error_code ec;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", ec)
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "lwfuzz-XXXXXX").string();
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
    const std::string file = path_ + "/" + sub;
    std::error_code ec;
    std::filesystem::remove(file, ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }

 private:
  std::string path_;
};

}  // namespace lw::fuzz
