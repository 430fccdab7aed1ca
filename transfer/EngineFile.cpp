// The transfer's local file and the facts about files that headers carry.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "Engine.h"

namespace {

constexpr int kRecordSize = 128;

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Days from 1970/01/01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

int32_t FileSizeOf(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return 0;
    ThrowErrno(path.c_str());
  }
  struct stat st {};
  const bool ok = fstat(fd, &st) == 0;
  close(fd);
  if (!ok || !S_ISREG(st.st_mode) || st.st_size > INT32_MAX) return 0;
  return static_cast<int32_t>(st.st_size);
}

// Only the date is carried: the time of day is dropped, as the receivers of
// other copies expect.
std::string UnixDateText(const std::tm& local) {
  const int64_t days =
      DaysFromCivil(int64_t{local.tm_year} + 1900, static_cast<unsigned>(local.tm_mon + 1),
                    static_cast<unsigned>(local.tm_mday));
  const int64_t seconds = std::max<int64_t>(days, 0) * 86400;
  char digits[32];
  std::snprintf(digits, sizeof digits, "0%llo", static_cast<unsigned long long>(seconds));
  return digits;
}

bool LocalModTime(const std::string& path, std::tm& local) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  const time_t t = st.st_mtime;
  return localtime_r(&t, &local) != nullptr;
}

bool TKelEngine::OpenForRead(const std::string& path) {
  CloseFile();
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd_ >= 0;
}

bool TKelEngine::CreateForWrite(const std::string& path) {
  CloseFile();
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd_ >= 0;
}

void TKelEngine::CloseFile() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool TKelEngine::AtEnd() {
  struct stat st {};
  const off_t at = lseek(fd_, 0, SEEK_CUR);
  if (at < 0 || fstat(fd_, &st) != 0) ThrowErrno("file position");
  return at >= st.st_size;
}

int32_t TKelEngine::ReadRecords(uint8_t* buffer, int n) {
  const size_t want = static_cast<size_t>(n) * kRecordSize;
  size_t got = 0;
  while (got < want) {
    const ssize_t r = read(fd_, buffer + got, want - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) ThrowErrno("read");
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<int32_t>(got);
}

void TKelEngine::SeekFile(int64_t position, bool& ok) {
  ok = lseek(fd_, static_cast<off_t>(position), SEEK_SET) >= 0;
}

int TKelEngine::WriteBytes(const uint8_t* buffer, int count) {
  int done = 0;
  while (done < count) {
    const ssize_t w = write(fd_, buffer + done, static_cast<size_t>(count - done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;  // disk full or an I/O error: the caller fails the transfer
    done += static_cast<int>(w);
  }
  return done;
}

void TKelEngine::PadBlock(int used) {
  if (used >= kBlockSize) return;
  std::fill(Block.begin() + std::max(used, 0), Block.begin() + kBlockSize, SUB);
}

void TKelEngine::ClearHeader() { std::fill_n(Block.begin(), 128, uint8_t{0}); }
