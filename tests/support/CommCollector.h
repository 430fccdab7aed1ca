#pragma once
// Collects what a TComm's watcher delivers (received bytes, line events) so
// that a test can wait for it with a deadline. Installed before Open.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "Comm.h"

class CommCollector {
 public:
  explicit CommCollector(TComm& comm) {
    comm.OnCommReceive = [this](TComm* sender, uint16_t size) {
      std::string chunk(size, '\0');
      chunk.resize(static_cast<size_t>(std::max(sender->Read(chunk.data(), size), 0)));
      std::lock_guard lock(mutex_);
      bytes_ += chunk;
      order_ += 'R';
      changed_.notify_all();
    };
    comm.OnCommEvent = [this](TComm*, TCommEventMask e) {
      std::lock_guard lock(mutex_);
      events_.push_back(e);
      order_ += 'E';
      changed_.notify_all();
    };
  }

  // Everything received, once at least n bytes are there or the time is up.
  std::string WaitBytes(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return bytes_.size() >= n; });
    return bytes_;
  }
  bool WaitEvents(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return events_.size() >= n; });
  }
  std::string Bytes() { return WaitBytes(0); }
  std::vector<TCommEventMask> Events() { return Locked(events_); }
  std::string Order() { return Locked(order_); }  // R for bytes, E for an event, as they came

 private:
  template <class T>
  T Locked(const T& value) {
    std::lock_guard lock(mutex_);
    return value;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::string bytes_, order_;
  std::vector<TCommEventMask> events_;
};
