#pragma once
// A raw pseudo-terminal pair standing in for a serial cable: the test holds
// the master, the code under test opens slavePath(). The pair keeps the slave
// open itself (else the master reads EIO); closing the master hangs the line
// up. One reading thread, and CloseMaster() from no other.

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

class PtyPair {
 public:
  PtyPair();  // check ok(): the system may run out of ptys
  ~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }

  // Reads until done(all read so far) holds, the time passed or the slave went.
  std::string ReadUntil(const std::function<bool(const std::string&)>& done, int timeoutMs = 5000) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string got;
    char buffer[4096];
    for (pollfd p{master_, POLLIN, 0}; !done(got);) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;  // EIO: no slave is open any more
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }
  // The first count bytes, or fewer at the deadline or hang-up.
  std::string Read(size_t count, int timeoutMs = 5000) {
    return ReadUntil([count](const std::string& s) { return s.size() >= count; }, timeoutMs)
        .substr(0, count);
  }

  void CloseMaster() {  // the other side leaves: the slave hangs up
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};
