#include "SettingsFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "WriteAll.h"

namespace {

std::string Failure(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

}  // namespace

TSettingsLoad LoadSettingsFile(const std::string& path) {
  TSettingsLoad load;
  load.List = TSettingList::Defaults();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return load;
  std::string bytes;
  int error = fd < 0 ? errno : 0;
  for (char buf[4096]; fd >= 0;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  if (fd >= 0) ::close(fd);
  if (error != 0) {
    load.Writable = false;
    load.Error = Failure(path, error);
    return load;
  }
  load.List = TSettingList::FromBytes(bytes);
  return load;
}

std::string SaveSettingsFile(const std::string& path, const TSettingList& list) {
  const std::string temp = path + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Failure(path, errno);
  int error = WriteAll(fd, list.ToBytes());
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return Failure(path, error);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int renameError = errno;
    ::unlink(temp.c_str());
    return Failure(path, renameError);
  }
  return std::string();
}
