#pragma once
// Scratch folders, files of random bytes and waits with a deadline.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

using namespace std::chrono_literals;

// A folder made with mkdtemp, removed with its contents at the end.
class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "kelterm-test-XXXXXX").string()) {
    if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp: no scratch folder");
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(const std::string& name) const { return File(name); }

 private:
  std::string path_;
};

inline std::string RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(count, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

inline bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// data cut or filled with fill to size bytes.
inline std::string Padded(std::string data, size_t size, char fill = 0x1A) {
  data.resize(size, fill);
  return data;
}

// What an XMODEM receiver keeps: the bytes, then SUB up to a multiple of unit
// (one whole unit of SUB for no bytes).
inline std::string PaddedTo(const std::string& bytes, size_t unit) {
  return Padded(bytes, bytes.empty() ? unit : (bytes.size() + unit - 1) / unit * unit);
}

// Dates path 1970-01-02 12:00 local time, which travels as one whole day.
inline bool SetModifiedOnSecondDay(const std::string& path) {
  std::tm day{};
  strptime("1970-01-02 12:00", "%F %R", &day);
  day.tm_isdst = -1;
  const time_t when = mktime(&day);
  const timespec times[2] = {{when, 0}, {when, 0}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

// Tests pred every 2 ms until it holds or the timeout passed.
inline bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  for (const auto deadline = std::chrono::steady_clock::now() + timeout; !pred();) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}
