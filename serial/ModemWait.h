#pragma once
// Waits for the modem lines of a termios device to change. The driver's
// TIOCMIWAIT blocks inside the ioctl and can't be part of a poll(), so a
// small thread of its own sits in it; after each change of CTS, DSR, RING or
// carrier it raises a flag and makes an eventfd readable for poll().
//
// The thread is ended by a signal whose handler does nothing and is
// installed without SA_RESTART, so the ioctl returns EINTR. A signal that
// lands just before the ioctl is entered would be missed; it is sent again
// until the thread has confirmed that it left.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class ModemWait {
 public:
  // Starts waiting on fd, which must stay open until Stop() has returned.
  explicit ModemWait(int fd);
  ~ModemWait();
  ModemWait(const ModemWait&) = delete;
  ModemWait& operator=(const ModemWait&) = delete;

  // Readable after each change; drain it with Drain().
  int EventFd() const { return eventFd_; }
  void Drain();
  // True once per reported change (or once the waiting has ended, so that
  // the lines are looked at then).
  bool TakeChange() { return changed_.exchange(false); }
  // False once the driver refused to wait or the line failed: changes are
  // then seen only by looking at the lines.
  bool Watching() const { return watching_; }
  // Returns once the thread has left; safe to call more than once.
  void Stop();

 private:
  void Run();
  void Raise();

  const int fd_;
  const int eventFd_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> changed_{false};
  std::atomic<bool> watching_{true};
  std::mutex mutex_;  // guards left_ and the join
  std::condition_variable leftCv_;
  bool left_ = false;
  std::thread thread_;
};
