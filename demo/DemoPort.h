#pragma once
// The far end of the demo line as the modem and the host see it. End 1 is
// open as a TKELCOMM, so that the host can run the transfer engine on it;
// text goes out through the line's end directly, which never blocks, so the
// demo thread stays free to notice a stop or a dropped DTR.
//
// Threading. The component's watcher runs the receive and event handlers;
// they hand bytes and wake-ups to the demo thread under `mutex_` and
// `wake_`, the one place where the two threads meet. Stop may be called from
// any thread. Everything else belongs to the demo thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "KelComm.h"
#include "VirtualLine.h"

class DemoPort {
 public:
  using Clock = std::chrono::steady_clock;
  // Bytes from the KelTerm end, stamped with the time they were taken in.
  struct Chunk {
    Clock::time_point at;
    std::string bytes;
  };

  // Opens end 1 of line; lineSpeed is the line's pace (0: unpaced).
  DemoPort(std::shared_ptr<VirtualLine> line, int lineSpeed);
  // Cancels a running transfer, closes the port and waits for the worker.
  ~DemoPort();
  DemoPort(const DemoPort&) = delete;
  DemoPort& operator=(const DemoPort&) = delete;

  // Sleeps until bytes arrive, the KelTerm end's DTR may have changed, Stop
  // was called, or `until` passed.
  void WaitUntil(Clock::time_point until);
  std::vector<Chunk> TakeInput();
  void Stop();
  bool Stopping();

  // The KelTerm end's DTR, as our DSR shows it.
  bool KelTermDtr();
  // The carrier (RLSD) the KelTerm end sees.
  void SetCarrier(bool on);
  void Send(std::string_view bytes);
  // How long what has been sent still needs to reach the KelTerm end: zero
  // once it has all arrived, otherwise an estimate to sleep on.
  Clock::duration UntilSent();

  TKELCOMM& Comm() { return comm_; }

 private:
  void Received(TComm* sender, uint16_t size);
  void LineChanged();

  std::shared_ptr<VirtualLine> line_;
  const int lineSpeed_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Chunk> inbox_;  // guarded by mutex_
  bool lineChanged_ = false;  // guarded by mutex_
  bool stop_ = false;         // guarded by mutex_
  TKELCOMM comm_;             // last: its threads call into the members above
};
