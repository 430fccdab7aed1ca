#pragma once
// A raw pseudo-terminal pair standing in for a serial cable: the test holds
// the master as the other side, the code under test opens slavePath(). The
// pair keeps the slave open itself (the master would read EIO with no slave
// open) until ReleaseSlave(); closing the master hangs the line up. One
// thread per direction at most, and CloseMaster() from neither.

#include <unistd.h>

#include <functional>
#include <string>
#include <string_view>

class PtyPair {
 public:
  PtyPair();  // check ok(): the system may run out of ptys
  ~PtyPair() {
    CloseMaster();
    ReleaseSlave();
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }

  // Writes all of bytes to the master; false on an error or time-out.
  bool WriteAll(std::string_view bytes, int timeoutMs = 5000);
  // Reads until count bytes came, the time passed or the slave side went.
  std::string Read(size_t count, int timeoutMs = 5000) {
    return ReadUntil([count](const std::string& s) { return s.size() >= count; }, timeoutMs)
        .substr(0, count);
  }
  // Reads until done(all bytes so far) holds; returns everything read.
  std::string ReadUntil(const std::function<bool(const std::string&)>& done, int timeoutMs = 5000);

  void CloseMaster() {  // the other side leaves: the slave hangs up
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  void ReleaseSlave() {
    if (slave_ >= 0) close(slave_);
    slave_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};
