#pragma once
// Writes all of bytes to fd, going on after interruptions; 0 when done, else
// the errno of the write that failed (ENOSPC for one that took nothing).

#include <unistd.h>

#include <cerrno>
#include <string_view>

inline int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}
