#include "CommCollector.h"

#include <algorithm>

CommCollector::CommCollector(TComm& comm) {
  comm.OnCommReceive = [this](TComm* sender, uint16_t size) {
    std::string chunk(size, '\0');
    chunk.resize(static_cast<size_t>(std::max(sender->Read(chunk.data(), size), 0)));
    std::lock_guard lock(mutex_);
    bytes_ += chunk;
    order_ += 'R';
    changed_.notify_all();
  };
  comm.OnCommEvent = [this](TComm*, TCommEventMask events) {
    std::lock_guard lock(mutex_);
    events_.push_back(events);
    order_ += 'E';
    changed_.notify_all();
  };
}

std::string CommCollector::WaitBytes(size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return bytes_.size() >= n; });
  return bytes_;
}

bool CommCollector::WaitEvents(size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return events_.size() >= n; });
}

std::string CommCollector::Bytes() {
  std::lock_guard lock(mutex_);
  return bytes_;
}

std::vector<TCommEventMask> CommCollector::Events() {
  std::lock_guard lock(mutex_);
  return events_;
}

std::string CommCollector::Order() {
  std::lock_guard lock(mutex_);
  return order_;
}
