#pragma once
// Scratch folders, files of random bytes and waits with a deadline: what
// nearly every test needs.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

using namespace std::chrono_literals;

// A folder made with mkdtemp, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(const std::string& name) const { return File(name); }

 private:
  std::string path_;
};

std::string RandomBytes(size_t count, uint32_t seed);
bool WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// data cut or filled with fill to size bytes.
std::string Padded(const std::string& data, size_t size, char fill = 0x1A);
// What an XMODEM receiver keeps: the bytes, then SUB up to a multiple of unit
// (one whole unit of SUB for no bytes).
std::string PaddedTo(const std::string& bytes, size_t unit);
// Gives path the modification time 1970-01-02 12:00 local time, whose date
// travels as the seconds of one whole day in octal; false when it can't.
bool SetModifiedOnSecondDay(const std::string& path);

// Tests pred every 2 ms until it holds or the timeout passed.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
