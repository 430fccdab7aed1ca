#include "Files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kelterm-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp: no scratch folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(count, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string Padded(const std::string& data, size_t size, char fill) {
  std::string s = data;
  s.resize(size, fill);
  return s;
}

std::string PaddedTo(const std::string& bytes, size_t unit) {
  const size_t blocks = bytes.empty() ? 1 : (bytes.size() + unit - 1) / unit;
  return Padded(bytes, blocks * unit);
}

bool SetModifiedOnSecondDay(const std::string& path) {
  std::tm t{};
  t.tm_year = 70;
  t.tm_mday = 2;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  const time_t when = mktime(&t);
  const timespec times[2] = {{when, 0}, {when, 0}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}
