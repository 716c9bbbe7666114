// Runs a fuzz target without libFuzzer: every file named on the command line
// (or every file in a named folder) once, then a bounded number of
// deterministic pseudo-random inputs, including mutations of the seeds.
// Under the sanitizer build this catches crashes, overflows and leaks in the
// readers of outside input. scripts/fuzz builds the same targets with
// libFuzzer instead, for coverage-guided fuzzing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> LoadSeeds(int argc, char** argv) {
  std::vector<std::string> seeds;
  auto load = [&](const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in),
                       std::istreambuf_iterator<char>());
  };
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) {
      for (auto& e : std::filesystem::directory_iterator(p, ec))
        if (e.is_regular_file()) load(e.path());
    } else if (std::filesystem::exists(p, ec)) {
      load(p);
    }
  }
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> seeds = LoadSeeds(argc, argv);
  for (const std::string& s : seeds)
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()),
                           s.size());

  const char* runs_env = std::getenv("LW_FUZZ_RUNS");
  const int runs = runs_env != nullptr ? std::atoi(runs_env) : 2000;
  std::mt19937_64 rng(12345);
  std::string buf;
  for (int i = 0; i < runs; ++i) {
    if (!seeds.empty() && i % 2 == 0) {
      buf = seeds[rng() % seeds.size()];
      const int edits = 1 + static_cast<int>(rng() % 8);
      for (int e = 0; e < edits; ++e) {
        switch (rng() % 4) {
          case 0:
            if (!buf.empty())
              buf[rng() % buf.size()] = static_cast<char>(rng());
            break;
          case 1:
            buf.insert(
                buf.begin() + static_cast<long>(rng() % (buf.size() + 1)),
                static_cast<char>(rng()));
            break;
          case 2:
            if (!buf.empty()) buf.erase(rng() % buf.size(), 1 + rng() % 16);
            break;
          default:
            if (!buf.empty()) buf.resize(rng() % (buf.size() + 1));
        }
      }
    } else {
      buf.resize(rng() % 4096);
      for (char& c : buf)
        c = static_cast<char>(rng() % 4 == 0 ? rng() % 32 : 32 + rng() % 96);
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(buf.data()),
                           buf.size());
  }
  std::printf("fuzz: %zu seeds, %d generated inputs, no crash\n", seeds.size(),
              runs);
  return 0;
}
