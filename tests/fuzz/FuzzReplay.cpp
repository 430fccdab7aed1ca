// Runs each file of the corpus folder argv[1] through the target, in builds
// without libFuzzer. An input fails by crashing (a check aborts, a sanitizer
// reports) or by taking over a second: with the line down, waits end at once.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

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
