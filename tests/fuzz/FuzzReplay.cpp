// Runs every file of a seed corpus through a fuzz target's entry, for builds
// without libFuzzer; each replay program is this driver and one target.
// Fails when an input crashes (the target's checks abort, the sanitizers
// report) or takes longer than a second: every wait a target reaches must
// end at once because its line is down.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    const auto started = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    if (std::chrono::steady_clock::now() - started > std::chrono::seconds(1)) {
      std::fprintf(stderr, "%s: took longer than a second\n", entry.path().c_str());
      return 1;
    }
    ++inputs;
  }
  std::printf("%d inputs replayed\n", inputs);
  return inputs > 0 ? 0 : 1;
}
