#pragma once
// Collects what a TComm's watcher delivers (received bytes, line events) so a
// test can wait for it with a deadline.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "Comm.h"

class CommCollector {
 public:
  // Installs receive and event handlers on comm (before Open).
  explicit CommCollector(TComm& comm);

  // Waits until at least n bytes have been received; returns what arrived.
  std::string WaitBytes(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Waits until at least n line events have arrived.
  bool WaitEvents(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5));

  std::string Bytes();
  std::vector<TCommEventMask> Events();
  // The kinds of notification in order of arrival: 'R' receive, 'E' event.
  std::string Order();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string bytes_;
  std::string order_;
  std::vector<TCommEventMask> events_;
};
