// A fresh folder per test, removed afterwards, so tests run in parallel.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace lw::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl =
        (std::filesystem::temp_directory_path() / "lwtest-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made != nullptr ? made : tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const {
    return path_ + "/" + rel;
  }

 private:
  std::string path_;
};

}  // namespace lw::testing
