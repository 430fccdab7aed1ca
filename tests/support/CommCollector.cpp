#include "CommCollector.h"

CommCollector::CommCollector(TComm& comm) {
  comm.OnCommReceive = [this](TComm* sender, uint16_t size) {
    std::string chunk(size, '\0');
    int got = sender->Read(chunk.data(), size);
    chunk.resize(got);
    std::lock_guard lock(mutex_);
    bytes_ += chunk;
    sizes_.push_back(size);
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
  WaitFor([&] { return bytes_.size() >= n; }, timeout);
  return Bytes();
}

bool CommCollector::WaitEvents(size_t n, std::chrono::milliseconds timeout) {
  return WaitFor([&] { return events_.size() >= n; }, timeout);
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

std::vector<uint16_t> CommCollector::ReceiveSizes() {
  std::lock_guard lock(mutex_);
  return sizes_;
}
