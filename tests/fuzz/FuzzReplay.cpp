// Replays the corpus folder argv[1] without libFuzzer. An input fails by a crash
// or by taking over a second: with the line down, every wait ends at once.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int, char** argv) {
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::fprintf(stderr, "%s\n", entry.path().c_str());  // names the one that fails
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    const auto started = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    Require(std::chrono::steady_clock::now() - started < std::chrono::seconds(1));
    ++inputs;
  }
  return inputs > 0 ? 0 : 1;
}
