// Replays the corpus folder argv[1] without libFuzzer. An input fails by a
// crash or a broken check; one that hangs, by the test's time-out.
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
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++inputs;
  }
  return inputs > 0 ? 0 : 1;
}
