#include "Engine.h"

#include <algorithm>
#include <thread>

#include "KelComm.h"

using namespace std::chrono_literals;

const std::array<uint8_t, 16> CancelSeq = {CAN, CAN, CAN, CAN, CAN, CAN, CAN, CAN,
                                           BS,  BS,  BS,  BS,  BS,  BS,  BS,  BS};

TKelEngine::TKelEngine(TKELCOMM& comm) : Comm(comm) {}

TKelEngine::~TKelEngine() { CloseFile(); }

// ---- Receive ring ----------------------------------------------------------

void TKelEngine::TranReceive(TComm* Sender, uint16_t Size) {
  inbox_.resize(Size);
  const int got = Sender->Read(inbox_.data(), Size);
  if (got > 0) Deliver(inbox_.data(), static_cast<size_t>(got));
}

void TKelEngine::Deliver(const uint8_t* bytes, size_t count) {
  std::unique_lock lock(ringMutex_);
  size_t done = 0;
  while (done < count) {
    if (CountLocked() >= kRxRingCapacity) {
      Publish();
      // The bytes have nowhere to go once nobody will take them.
      if (finishing_ || !Comm.IsOpen() || Comm.CancelFlag.load()) return;
      room_.wait_for(lock, kYieldStep);
      continue;
    }
    // In runs up to the ring's end, so the watcher's copy costs a memcpy
    // rather than a test per byte; the head wraps lazily as before.
    if (rxHead_ > kRxRingSize - 1) rxHead_ = 0;
    const size_t run = std::min({count - done, static_cast<size_t>(kRxRingCapacity - CountLocked()),
                                 static_cast<size_t>(kRxRingSize - rxHead_)});
    std::copy_n(bytes + done, run, RxRing.begin() + rxHead_);
    done += run;
    rxHead_ += static_cast<int32_t>(run);
  }
  if (CountLocked() == 0) return;
  rxPending_ = true;
  if (CountLocked() < wakeAt_) return;
  ++wakeSeq_;
  // Notified after the unlock, so the worker does not wake into a held lock.
  lock.unlock();
  wake_.notify_all();
}

void TKelEngine::Publish() {
  if (CountLocked() == 0) return;
  rxPending_ = true;
  if (CountLocked() < wakeAt_) return;
  ++wakeSeq_;
  wake_.notify_all();
}

void TKelEngine::BeginFeed() {
  carrierHeld_ = Comm.CarrierOn();
  std::lock_guard lock(ringMutex_);
  finishing_ = false;
}

void TKelEngine::EndFeed() {
  std::lock_guard lock(ringMutex_);
  finishing_ = true;
  ++wakeSeq_;
  wake_.notify_all();
  room_.notify_all();
}

void TKelEngine::Wake() {
  std::lock_guard lock(ringMutex_);
  ++wakeSeq_;
  wake_.notify_all();
  room_.notify_all();
}

int32_t TKelEngine::CountLocked() const {
  const int32_t head = rxHead_ % kRxRingSize;
  const int32_t tail = rxTail_ % kRxRingSize;
  return (head - tail + kRxRingSize) % kRxRingSize;
}

uint8_t TKelEngine::NextByte() {
  uint8_t b = 0;
  TakeBytes(&b, 1);
  return b;
}

uint8_t TKelEngine::GetByte() {
  WaitUntil(Clock::time_point::max(), [&] { return RxPending() || Stopped(); });
  return NextByte();
}

int TKelEngine::TakeBytes(uint8_t* buffer, int max) {
  std::lock_guard lock(ringMutex_);
  int taken = 0;
  for (int32_t waiting = CountLocked(); taken < max && waiting > 0;) {
    if (rxTail_ > kRxRingSize - 1) rxTail_ = 0;
    const int32_t run = std::min({max - taken, waiting, kRxRingSize - rxTail_});
    std::copy_n(RxRing.begin() + rxTail_, run, buffer + taken);
    taken += run;
    waiting -= run;
    rxTail_ += run;
  }
  rxPending_ = CountLocked() > 0;
  if (taken > 0) room_.notify_all();
  return taken;
}

void TKelEngine::FlushRing() {
  std::lock_guard lock(ringMutex_);
  rxTail_ = rxHead_;
  rxPending_ = false;
  room_.notify_all();
}

bool TKelEngine::RxPending() const {
  std::lock_guard lock(ringMutex_);
  return rxPending_;
}

int32_t TKelEngine::RxHead() const {
  std::lock_guard lock(ringMutex_);
  return rxHead_;
}

int32_t TKelEngine::RxTail() const {
  std::lock_guard lock(ringMutex_);
  return rxTail_;
}

int32_t TKelEngine::RxCount() const {
  std::lock_guard lock(ringMutex_);
  return CountLocked();
}

uint8_t TKelEngine::RxRingAt(int32_t index) const {
  std::lock_guard lock(ringMutex_);
  return RxRing.at(static_cast<size_t>(index));
}

// ---- Sleeping ---------------------------------------------------------------

uint64_t TKelEngine::WakeSeq() const {
  std::lock_guard lock(ringMutex_);
  return wakeSeq_;
}

void TKelEngine::SleepAfter(uint64_t seq, Clock::time_point until) {
  std::unique_lock lock(ringMutex_);
  wake_.wait_until(lock, until, [&] { return wakeSeq_ != seq; });
}

// ---- Line -------------------------------------------------------------------

bool TKelEngine::LineReady() const {
  return Comm.LineReady() && (!carrierHeld_.load() || Comm.CarrierOn());
}

bool TKelEngine::Cancelled() const { return Comm.CancelFlag.load() != 0; }

bool TKelEngine::Stopped() const { return Cancelled() || !LineReady(); }

// The yields here wait for nothing: they only let the watcher and the peer
// run between writes.
void TKelEngine::SendData(const uint8_t* buffer, int count) {
  if (LineReady() && count > 0) {
    std::this_thread::yield();
    Comm.Write(buffer, count);
  }
  std::this_thread::yield();
}

void TKelEngine::SendByte(uint8_t b) {
  if (LineReady()) Comm.Write(&b, 1);
}

void TKelEngine::SendText(std::string_view text) { Comm.WriteString(text); }

// ---- Waits ------------------------------------------------------------------

// A pause on a line that has gone waits for nothing: the protocols' pauses
// let a peer settle or retry, and every send after them is dropped anyway.
void TKelEngine::Delay(int ms) {
  WaitUntil(Clock::now() + std::chrono::milliseconds(ms), [&] { return Stopped(); });
}

bool TKelEngine::WaitData() {
  WaitUntil(Clock::now() + 1000ms, [&] { return RxPending() || Stopped(); });
  return RxPending();
}

bool TKelEngine::WaitForData() {
  WaitUntil(Clock::now() + 10000ms, [&] { return RxPending() || Stopped(); });
  return RxPending();
}

bool TKelEngine::WaitArrival(int ms) {
  WaitUntil(Clock::now() + std::chrono::milliseconds(ms), [&] { return RxPending() || Stopped(); });
  return RxPending();
}

bool TKelEngine::WaitForCount(int count, int silenceMs) {
  const auto silence = std::chrono::milliseconds(silenceMs);
  int32_t seen = 0;
  {
    std::lock_guard lock(ringMutex_);
    seen = CountLocked();
    wakeAt_ = std::min<int32_t>(count, kRxRingCapacity);
  }
  auto deadline = Clock::now() + silence;
  // Without a wake-up per arrival, silence is judged at each polling step.
  WaitUntil(Clock::time_point::max(), [&] {
    if (Stopped()) return true;
    std::lock_guard lock(ringMutex_);
    const int32_t now = CountLocked();
    if (now >= wakeAt_) return true;
    if (now != seen) {
      seen = now;
      deadline = Clock::now() + silence;
    }
    return Clock::now() >= deadline;
  });
  std::lock_guard lock(ringMutex_);
  wakeAt_ = 1;
  return CountLocked() > 0;
}

namespace {

bool IsReplyByte(uint8_t b) {
  switch (b) {
    case ACK:
    case CR:
    case NAK:
    case CAN:
    case ESC:
    case 'A':
    case 'C':
    case 'E':
    case 'G':
    case 'M':
      return true;
    default:
      return false;
  }
}

}  // namespace

// Each 100 ms poll ends as soon as a byte arrives; the whole wait keeps its
// wall-clock length.
uint8_t TKelEngine::WaitReply(uint8_t& B, int tens) {
  B = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(10) * tens;
  for (;;) {
    const auto poll = std::min(deadline, Clock::now() + 100ms);
    WaitUntil(poll, [&] { return RxPending() || Stopped(); });
    if (RxPending()) B = GetByte();
    if (IsReplyByte(B) || Clock::now() >= deadline || Stopped()) return B;
  }
}

bool TKelEngine::SendInvite(uint8_t C) {
  for (int sends = 0; sends < 10; ++sends) {
    SendByte(C);
    for (int i = 0; i < 10; ++i)
      if (WaitData() || Stopped()) break;
    if (RxPending() || Stopped()) break;
  }
  return RxPending() && LineReady();
}

uint8_t TKelEngine::RecvByte(bool& failed) {
  if (Stopped() || !WaitData()) {
    failed = true;
    return 0;
  }
  const uint8_t b = NextByte();
  CheckByte(b);
  return b;
}

bool TKelEngine::DrainLine(int cancelRun) {
  const auto limit = Clock::now() + 10s;
  uint8_t scrap[256];
  int cans = 0;
  while (WaitData() && !Stopped() && Clock::now() < limit) {
    const int taken = TakeBytes(scrap, sizeof scrap);
    for (int i = 0; i < taken; ++i) {
      cans = scrap[i] == CAN ? cans + 1 : 0;
      if (cancelRun > 0 && cans >= cancelRun) return false;
    }
  }
  return true;
}

void TKelEngine::ResetStatus() {
  Comm.CancelFlag = 0;
  Comm.Status.StartTick = GetTickCount();
  Comm.Status.TranSize = 0;
  Comm.Status.ErrorCount = 0;
  Comm.Status.RecvName.clear();
}
