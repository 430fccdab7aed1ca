#include "DemoPort.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int kFarEnd = 1;
// While bytes are held up (the KelTerm end reads none), look again this often.
constexpr auto kHeldUpRecheck = std::chrono::milliseconds(100);

}  // namespace

DemoPort::DemoPort(std::shared_ptr<VirtualLine> line, int lineSpeed)
    : line_(std::move(line)), lineSpeed_(lineSpeed) {
  comm_.OnCommReceive = [this](TComm* sender, uint16_t size) { Received(sender, size); };
  comm_.OnCommEvent = [this](TComm*, TCommEventMask) { LineChanged(); };
  comm_.SetEventMask({evDsr, evRlsd});
  comm_.SetDevicePath("virtual:" + line_->name() + "/" + std::to_string(kFarEnd));
  comm_.Open();
  // Opening raised our DTR, which the cable hands over as the carrier too;
  // a modem shows no carrier until it has connected.
  SetCarrier(false);
}

// A transfer cancelled after the call ended waits for a line that the closed
// KelTerm end will not bring back; closing our end too lets its worker go at
// once instead of after the protocol's patience.
DemoPort::~DemoPort() {
  if (comm_.TranMode.load() != 0) comm_.RequestCancel();
  comm_.Close();
}

void DemoPort::Received(TComm* sender, uint16_t size) {
  Chunk chunk{Clock::now(), std::string(size, '\0')};
  chunk.bytes.resize(static_cast<size_t>(std::max(sender->Read(chunk.bytes.data(), size), 0)));
  if (chunk.bytes.empty()) return;
  {
    std::lock_guard lock(mutex_);
    inbox_.push_back(std::move(chunk));
  }
  wake_.notify_all();
}

void DemoPort::LineChanged() {
  {
    std::lock_guard lock(mutex_);
    lineChanged_ = true;
  }
  wake_.notify_all();
}

void DemoPort::WaitUntil(Clock::time_point until) {
  std::unique_lock lock(mutex_);
  const auto ready = [this] { return stop_ || lineChanged_ || !inbox_.empty(); };
  if (until == Clock::time_point::max())
    wake_.wait(lock, ready);
  else
    wake_.wait_until(lock, until, ready);
  lineChanged_ = false;
}

std::vector<DemoPort::Chunk> DemoPort::TakeInput() {
  std::lock_guard lock(mutex_);
  return std::exchange(inbox_, {});
}

void DemoPort::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
}

bool DemoPort::Stopping() {
  std::lock_guard lock(mutex_);
  return stop_;
}

bool DemoPort::KelTermDtr() { return (line_->end(kFarEnd).ModemStatus() & MS_DSR_ON) != 0; }

void DemoPort::SetCarrier(bool on) { line_->end(kFarEnd).SetFarRlsd(on); }

void DemoPort::Send(std::string_view bytes) {
  if (!bytes.empty()) line_->end(kFarEnd).Write(bytes);
}

DemoPort::Clock::duration DemoPort::UntilSent() {
  const size_t pending = line_->end(kFarEnd).Pending();
  if (pending == 0) return Clock::duration::zero();
  if (lineSpeed_ <= 0) return kHeldUpRecheck;
  // Ten bit times a byte, and a millisecond for the last one to land.
  const auto time = std::chrono::microseconds(pending * 10'000'000ULL / lineSpeed_ + 1000);
  return std::min<Clock::duration>(time, kHeldUpRecheck);
}
