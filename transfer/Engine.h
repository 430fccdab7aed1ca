#pragma once
// The engine state of one transfer component and the primitives the
// protocols are built on: the receive ring, byte I/O gated by the line, timed
// waits, and the local file of the running transfer.
//
// Threading. The ring is where the port's watcher (producer: TranReceive and
// LineChanged) meets the transfer worker (consumer: everything else); it is
// guarded by one mutex. The producer never overwrites a byte: when the ring
// is full it waits until the worker takes bytes, the transfer ends (EndFeed)
// or cancels, or the port closes; only then are the bytes dropped.
//
// The line travels with the bytes: a change the watcher reports is marked at
// the ring's head, and the worker believes it only once it has taken every
// byte before the mark. So a peer that sends its last reply and hangs up is
// heard to the end, and a loss in the middle of the data still stops every
// wait. The worker's waits sleep on a condition variable until what they
// wait for happens: bytes entering the ring, a line change, Wake (the cancel
// request) or EndFeed; they never poll. All the other members belong to the
// worker.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Check.h"

class TComm;
class TKELCOMM;

// Control bytes of the XMODEM family.
constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t BS = 0x08;
constexpr uint8_t CR = 0x0D;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t CAN = 0x18;
constexpr uint8_t SUB = 0x1A;
constexpr uint8_t ESC = 0x1B;

// Eight CAN, then eight BS that rub them out on a terminal that shows them.
extern const std::array<uint8_t, 16> CancelSeq;

constexpr int32_t kRxRingSize = 50000;
// One slot stays free so that equal indexes always mean an empty ring.
constexpr int32_t kRxRingCapacity = kRxRingSize - 1;
constexpr int kBlockSize = 1024;

class TKelEngine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TKelEngine(TKELCOMM& comm);
  ~TKelEngine();
  TKelEngine(const TKelEngine&) = delete;
  TKelEngine& operator=(const TKelEngine&) = delete;

  // ---- Receive ring, producer side (the watcher) ----
  // The OnCommReceive handler during a transfer: reads the announced bytes
  // and appends them to the ring.
  void TranReceive(TComm* Sender, uint16_t Size);
  // Appends bytes, waiting for room rather than overwriting.
  void Deliver(const uint8_t* bytes, size_t count);
  // BeginFeed before TranReceive is installed; EndFeed before it is removed,
  // so that a producer waiting for room lets go of the receive lock.
  // BeginFeed also notes whether the line has a carrier to lose.
  void BeginFeed();
  void EndFeed();
  // Ends the worker's current sleep and a producer's wait for room (a
  // cancel request, the port closing).
  void Wake();
  // The port's lines changed (MS_* bits, 0 once closed), after every byte
  // delivered so far.
  void LineChanged(uint32_t modem);

  // ---- Receive ring, consumer side (the worker) ----
  uint8_t NextByte();  // the next waiting byte; 0 when none waits
  uint8_t GetByte();   // waits while nothing waits and the line is ready
  int TakeBytes(uint8_t* buffer, int max);
  void FlushRing();
  bool RxPending() const;
  // The ring as it stands, for inspection.
  int32_t RxHead() const;
  int32_t RxTail() const;
  int32_t RxCount() const;
  uint8_t RxRingAt(int32_t index) const;

  // ---- Line ----
  // CTS, and the carrier too when the transfer began with one: a line whose
  // carrier drops (a modem that hung up, a pty whose peer died) would
  // otherwise keep CTS and leave the transfer to its ten-second time-outs.
  // A line that never had a carrier (no RLSD wired) is judged by CTS alone.
  // This is the line as it stood when the next byte to take arrived: a loss
  // counts once the bytes before it have been taken.
  bool LineReady() const;
  // Waits up to ms for the line to be ready again after a cancel, while the
  // port is open.
  void WaitForLine(int ms);
  bool Cancelled() const;
  void SendData(const uint8_t* buffer, int count);
  void SendByte(uint8_t b);
  void SendText(std::string_view text);

  // ---- Waits ----
  void Delay(int ms);  // ends early on a cancel or the loss of the line
  bool WaitData();     // up to 1 s for a byte
  bool WaitForData();  // up to the patience (10 s) for a byte
  // The long wait of this transfer (TTranTimes::PatienceMs).
  int PatienceMs() const;
  // The bytes the line carries in ms at the port's speed, ten bits a byte.
  size_t LineBytesIn(int ms) const;
  // Waits for one of the reply bytes (ACK CR NAK CAN ESC A C E G M) for up
  // to tens x the patience (10 s), taking the bytes that come; B is the last byte taken, or
  // 0 when none came. Returns B.
  uint8_t WaitReply(uint8_t& B, int tens);
  // The same wait, up to a deadline.
  uint8_t WaitReplyUntil(uint8_t& B, Clock::time_point deadline);
  // Sends C until the peer answers (up to 10 times, the patience apart); true when
  // bytes are waiting and the line is ready.
  bool SendInvite(uint8_t C);
  // One byte within 1 s, fed to the check value; sets failed (never clears).
  uint8_t RecvByte(bool& failed);
  // Discards input until the line has been quiet for 1 s. Also ends on the
  // user's cancel, a lost line, or after the patience (10 s) of bytes
  // without a pause (a
  // peer that never stops must not hold the transfer). With cancelRun > 0,
  // that many CANs in a row are the peer's cancel: the drain ends at once
  // and returns false.
  bool DrainLine(int cancelRun = 0);
  // Waits up to ms for bytes to arrive; ends early on cancel or line loss.
  bool WaitArrival(int ms);
  // Waits until count bytes are in the ring, or none has arrived for
  // silenceMs, or the transfer stops; true when any byte is there. The
  // producer wakes the worker only once the count is reached, so a block
  // costs one wake-up rather than one per hand-over from the line.
  bool WaitForCount(int count, int silenceMs);

  void ResetStatus();

  // ---- The transfer's file (TranFile) ----
  bool OpenForRead(const std::string& path);
  bool CreateForWrite(const std::string& path);
  void CloseFile();
  bool FileOpen() const { return fd_ >= 0; }
  bool AtEnd();
  // Reads n records of 128 bytes; returns the number of bytes read.
  int32_t ReadRecords(uint8_t* buffer, int n);
  void SeekFile(int64_t position, bool& ok);
  // Writes count bytes; returns how many the file took (fewer on disk full).
  int WriteBytes(const uint8_t* buffer, int count);
  void PadBlock(int used);
  void ClearHeader();

  // ---- The block buffer and the check values (the worker's) ----
  std::array<uint8_t, kBlockSize + 4> Block{};
  TKelCheck Check;

  TKELCOMM& Comm;

 private:
  template <typename Done>
  bool WaitUntil(Clock::time_point deadline, Done done) {
    for (;;) {
      const uint64_t seq = WakeSeq();
      if (done()) return true;
      if (Clock::now() >= deadline) return false;
      SleepAfter(seq, deadline);
    }
  }
  uint64_t WakeSeq() const;
  void SleepAfter(uint64_t seq, Clock::time_point until);
  // Under ringMutex_:
  void Publish();
  void NotifyWorker();
  int32_t CountLocked() const;
  void Consumed(uint64_t count);
  bool LossAheadLocked() const;
  bool Ready(uint32_t modem) const;
  bool Stopped() const;
  bool SendAllowed() const;

  // A line change and the number of bytes delivered before it.
  struct LineMark {
    uint64_t at;
    uint32_t modem;
  };

  mutable std::mutex ringMutex_;
  std::condition_variable wake_;  // the worker's sleep
  std::condition_variable room_;  // the producer's wait for room
  std::array<uint8_t, kRxRingSize> RxRing{};
  int32_t rxHead_ = 0;  // next byte to write; wraps lazily
  int32_t rxTail_ = 0;  // next byte to read; wraps lazily
  bool rxPending_ = false;
  bool finishing_ = false;
  uint64_t wakeSeq_ = 0;
  int32_t wakeAt_ = 1;          // bytes in the ring that wake the worker
  std::vector<uint8_t> inbox_;  // the watcher's read buffer
  Clock::time_point lastArrival_{};
  uint64_t delivered_ = 0;      // bytes that entered the ring, ever
  uint64_t consumed_ = 0;       // bytes taken or flushed, ever
  std::deque<LineMark> marks_;  // changes the worker has not reached yet
  // The lines as they stood when the next byte to take arrived, and as the
  // watcher last reported them; written under ringMutex_.
  std::atomic<uint32_t> lineAtTail_{0};
  std::atomic<uint32_t> lineNow_{0};
  std::atomic<bool> carrierHeld_{false};  // the carrier was on at BeginFeed

  int fd_ = -1;
};

// Size of the file at path; 0 when it doesn't exist, isn't a regular file,
// or has 2^31 bytes or more (sizes travel as 32-bit values). Other errors
// (permission) raise std::system_error.
int32_t FileSizeOf(const std::string& path);
// "0" and, in octal, the seconds from 1970/01/01 to the start of the given
// local date.
std::string UnixDateText(const std::tm& local);
// The local last-modification time of path; false when it can't be read.
bool LocalModTime(const std::string& path, std::tm& local);
