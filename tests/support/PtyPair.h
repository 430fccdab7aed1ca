#pragma once
// A pseudo-terminal pair standing in for a serial cable. The test holds the
// master end as "the other side"; the code under test opens slavePath() as its
// device. Both ends start raw, so bytes pass unchanged.
//
// The pair keeps a descriptor of its own on the slave (without reading from
// it), so the line survives the device being closed and opened again: with
// no slave open the master would read EIO. ReleaseSlave() gives it up.
//
// The master descriptor is non-blocking; the helpers below wait in poll()
// with a deadline. Closing the master is how the other side leaves: the
// slave then sees a hang-up. Not thread-safe: one thread per direction at
// most (one writes while another reads), and CloseMaster() from neither.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class PtyPair {
 public:
  PtyPair();  // check ok(): openpty can fail when the system runs out of ptys
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }

  // Writes all of bytes to the master, waiting for room; false on an error
  // or when timeoutMs passed before everything was taken.
  bool WriteAll(std::string_view bytes, int timeoutMs = 5000);
  // Reads from the master until count bytes have come or timeoutMs passed
  // (or the slave side has gone); returns what came, at most count bytes.
  std::string Read(size_t count, int timeoutMs = 5000);
  // Reads from the master until done(all bytes so far) is true or timeoutMs
  // passed; returns everything read.
  std::string ReadUntil(const std::function<bool(const std::string&)>& done, int timeoutMs = 5000);

  // The other side leaves: the slave hangs up.
  void CloseMaster();
  void ReleaseSlave();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};
