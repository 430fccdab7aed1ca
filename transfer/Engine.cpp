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
      room_.wait(lock);
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
    delivered_ += run;
  }
  if (done > 0) lastArrival_ = Clock::now();
  if (CountLocked() == 0) return;
  rxPending_ = true;
  Comm.ExpectInput(wakeAt_ > 1 ? wakeAt_ - CountLocked() : 0);
  if (CountLocked() < wakeAt_) return;
  ++wakeSeq_;
  // Notified after the unlock, so the worker does not wake into a held lock.
  lock.unlock();
  wake_.notify_all();
}

void TKelEngine::Publish() {
  if (CountLocked() == 0) return;
  rxPending_ = true;
  if (CountLocked() >= wakeAt_) NotifyWorker();
}

void TKelEngine::NotifyWorker() {
  ++wakeSeq_;
  wake_.notify_all();
}

// The ring is empty when a transfer starts, so the lines as the device shows
// them now are the lines at its tail, even where the watcher has yet to
// report a change that came just before.
void TKelEngine::BeginFeed() {
  const uint32_t modem = (Comm.LineReady() ? MS_CTS_ON : 0u) | (Comm.CarrierOn() ? MS_RLSD_ON : 0u);
  std::lock_guard lock(ringMutex_);
  if (marks_.empty() && consumed_ == delivered_) lineAtTail_ = lineNow_ = modem;
  carrierHeld_ = (lineAtTail_.load() & MS_RLSD_ON) != 0;
  finishing_ = false;
}

void TKelEngine::EndFeed() {
  std::lock_guard lock(ringMutex_);
  finishing_ = true;
  NotifyWorker();
  room_.notify_all();
}

void TKelEngine::Wake() {
  std::lock_guard lock(ringMutex_);
  NotifyWorker();
  room_.notify_all();
}

// A change at the very position the worker has reached holds at once; one
// behind unread bytes waits in marks_ until they are taken. Two changes with
// no byte between them make one mark.
void TKelEngine::LineChanged(uint32_t modem) {
  std::lock_guard lock(ringMutex_);
  lineNow_ = modem;
  if (consumed_ == delivered_) {
    lineAtTail_ = modem;
  } else if (!marks_.empty() && marks_.back().at == delivered_) {
    marks_.back().modem = modem;
  } else {
    marks_.push_back({delivered_, modem});
  }
  NotifyWorker();
}

void TKelEngine::Consumed(uint64_t count) {
  consumed_ += count;
  while (!marks_.empty() && marks_.front().at <= consumed_) {
    lineAtTail_ = marks_.front().modem;
    marks_.pop_front();
  }
}

bool TKelEngine::LossAheadLocked() const {
  return std::any_of(marks_.begin(), marks_.end(),
                     [&](const LineMark& m) { return !Ready(m.modem); });
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
  if (taken > 0) {
    Consumed(static_cast<uint64_t>(taken));
    room_.notify_all();
  }
  return taken;
}

void TKelEngine::FlushRing() {
  std::lock_guard lock(ringMutex_);
  Consumed(delivered_ - consumed_);
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
  const auto woken = [&] { return wakeSeq_ != seq; };
  if (until == Clock::time_point::max())
    wake_.wait(lock, woken);
  else
    wake_.wait_until(lock, until, woken);
}

// ---- Line -------------------------------------------------------------------

// CTS matters only where it gates the output: a line without it (three
// wires, flow control none or XON/XOFF) is ready with CTS off.
bool TKelEngine::Ready(uint32_t modem) const {
  return ((modem & MS_CTS_ON) || !Comm.OutputFollowsCts()) &&
         (!carrierHeld_.load() || (modem & MS_RLSD_ON));
}

bool TKelEngine::LineReady() const { return Ready(lineAtTail_.load()); }

bool TKelEngine::Cancelled() const { return Comm.CancelFlag.load() != 0; }

bool TKelEngine::Stopped() const { return Cancelled() || !LineReady(); }

// Nothing goes out on a line known to be gone, even while the bytes that came
// before its loss are still being read.
bool TKelEngine::SendAllowed() const { return LineReady() && Ready(lineNow_.load()); }

// A closed port brings no line back: its close (DoClosing) ends the wait.
void TKelEngine::WaitForLine(int ms) {
  WaitUntil(Clock::now() + std::chrono::milliseconds(ms),
            [&] { return LineReady() || !Cancelled() || !Comm.IsOpen(); });
}

// The yields here wait for nothing: they only let the watcher and the peer
// run between writes.
void TKelEngine::SendData(const uint8_t* buffer, int count) {
  if (SendAllowed() && count > 0) {
    std::this_thread::yield();
    Comm.Write(buffer, count);
  }
  std::this_thread::yield();
}

void TKelEngine::SendByte(uint8_t b) {
  if (SendAllowed()) Comm.Write(&b, 1);
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

bool TKelEngine::WaitForData() { return WaitArrival(PatienceMs()); }

int TKelEngine::PatienceMs() const { return Comm.Times.PatienceMs; }

size_t TKelEngine::LineBytesIn(int ms) const {
  return static_cast<size_t>(std::max(Comm.EffectiveBaudRate(), 0)) *
         static_cast<size_t>(std::max(ms, 0)) / 10'000;
}

bool TKelEngine::WaitArrival(int ms) {
  WaitUntil(Clock::now() + std::chrono::milliseconds(ms), [&] { return RxPending() || Stopped(); });
  return RxPending();
}

// Silence is measured from the last arrival, which the producer notes, so
// the wait needs no wake-up per hand-over from the line.
bool TKelEngine::WaitForCount(int count, int silenceMs) {
  const auto silence = std::chrono::milliseconds(silenceMs);
  const auto start = Clock::now();
  std::unique_lock lock(ringMutex_);
  wakeAt_ = std::min<int32_t>(count, kRxRingCapacity);
  Comm.ExpectInput(wakeAt_ > 1 ? wakeAt_ - CountLocked() : 0);
  for (;;) {
    if (CountLocked() >= wakeAt_ || Cancelled() || !LineReady() || LossAheadLocked() || finishing_)
      break;
    const auto deadline = std::max(start, lastArrival_) + silence;
    if (Clock::now() >= deadline) break;
    wake_.wait_until(lock, deadline);
  }
  wakeAt_ = 1;
  Comm.ExpectInput(0);
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
  return WaitReplyUntil(B, Clock::now() + std::chrono::milliseconds(PatienceMs()) * tens);
}

uint8_t TKelEngine::WaitReplyUntil(uint8_t& B, Clock::time_point deadline) {
  B = 0;
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
    if (WaitArrival(PatienceMs()) || Stopped()) break;
  }
  return RxPending() && LineReady();
}

uint8_t TKelEngine::RecvByte(bool& failed) {
  if (Stopped() || !WaitData()) {
    failed = true;
    return 0;
  }
  const uint8_t b = NextByte();
  Check.CheckByte(b);
  return b;
}

bool TKelEngine::DrainLine(int cancelRun) {
  const auto limit = Clock::now() + std::chrono::milliseconds(PatienceMs());
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
