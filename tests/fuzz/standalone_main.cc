// Runs a fuzz target without libFuzzer: every file named on the command line
// (or every file in a named folder) once, then LW_FUZZ_RUNS (default 2000)
// deterministic pseudo-random inputs, half of them mutated seeds. Under the
// sanitizer build this catches crashes, overflows and leaks in the readers
// of outside input; scripts/fuzz links libFuzzer instead, for
// coverage-guided fuzzing.
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

void Feed(const std::string& s) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> seeds;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> files = {argv[i]};
    if (std::filesystem::is_directory(argv[i]))
      files.assign(std::filesystem::directory_iterator(argv[i]), {});
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      seeds.emplace_back(std::istreambuf_iterator<char>(in),
                         std::istreambuf_iterator<char>());
      Feed(seeds.back());
    }
  }
  const char* runs_env = std::getenv("LW_FUZZ_RUNS");
  const int runs = runs_env != nullptr ? std::atoi(runs_env) : 2000;
  std::mt19937_64 rng(12345);
  std::string buf;
  for (int i = 0; i < runs; ++i) {
    if (!seeds.empty() && i % 2 == 0) {
      // A seed with up to 8 edits: a byte changed, inserted or erased, or
      // the rest cut off.
      buf = seeds[rng() % seeds.size()];
      for (int e = 0, edits = 1 + static_cast<int>(rng() % 8); e < edits; ++e) {
        const size_t at = rng() % (buf.size() + 1);
        const uint64_t op = rng() % 4;
        if (op == 0 && at < buf.size()) buf[at] = static_cast<char>(rng());
        if (op == 1) buf.insert(at, 1, static_cast<char>(rng()));
        if (op == 2 && at < buf.size()) buf.erase(at, 1 + rng() % 16);
        if (op == 3) buf.resize(at);
      }
    } else {
      buf.resize(rng() % 4096);
      for (char& c : buf)
        c = static_cast<char>(rng() % 4 == 0 ? rng() % 32 : 32 + rng() % 96);
    }
    Feed(buf);
  }
  std::printf("fuzz: %zu seeds, %d generated inputs, no crash\n", seeds.size(),
              runs);
  return 0;
}
