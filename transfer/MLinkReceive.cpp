// M-LINK, receiving side: invite the sender with "M", read its one-line
// header, accept it with "M" and take exactly the announced number of bytes.
// The file goes to the path the user chose; the announced name only goes to
// RecvName. There is no retry on this side.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string>

#include "KelComm.h"
#include "Protocols.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint8_t kInvite = 'M';  // also the acceptance of the header
constexpr uint8_t kAbort = 'A';
constexpr uint8_t kDone = 'E';

constexpr int kGood = 0;
constexpr int kFailed = 9;

constexpr int kMaxInvites = 10;
constexpr auto kSilence = 1000ms;
// A header field longer than this is no header: the peer is sending
// something else, and the field would otherwise grow without end.
constexpr size_t kMaxField = 1024;

struct Reception {
  TKelEngine& E;
  int error = kGood;
  bool timedOut = false;
  bool opened = true;
  int64_t remaining = 0;
  bool complete = false;  // every announced byte was written
};

// True when the wait ended early: bytes came, the line went or a cancel.
bool MLinkWaitStart(TKelEngine& E) {
  E.WaitArrival(E.PatienceMs());
  return E.RxPending() || !E.LineReady() || E.Cancelled();
}

// The next header byte within 1 s; 0 and the time-out flag when none came.
uint8_t MLinkGetByte(Reception& r) {
  if (r.E.WaitArrival(static_cast<int>(kSilence.count()))) return r.E.GetByte();
  r.timedOut = true;
  return 0;
}

// Collects a header field up to and including the byte that ended it. ESC
// and CAN end only the name: there they are the sender's abort.
std::string CollectField(Reception& r, bool name) {
  std::string text;
  for (;;) {
    const uint8_t b = MLinkGetByte(r);
    text += static_cast<char>(b);
    if (b == ' ' || (name && (b == ESC || b == CAN))) break;
    if (r.timedOut || !r.E.LineReady() || r.E.Cancelled() || text.size() > kMaxField) break;
  }
  return text;
}

// Decimal digits only; anything else, or a size beyond 32 bits, reads as 0.
int32_t ParseSize(const std::string& text) {
  // from_chars takes a sign, which no size has.
  if (text.empty() || text[0] < '0' || text[0] > '9') return 0;
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || at != end) return 0;
  return value;
}

// Sends "M" every 10 s (the patience), ten times at most, until the sender answers.
void Invite(Reception& r) {
  TKelEngine& E = r.E;
  E.Delay(E.Comm.Times.StartPauseMs);
  if (E.Cancelled()) {
    r.error = kFailed;  // don't start a sender that nobody waits for
    return;
  }
  E.SendByte(kInvite);
  for (int sent = 1;; ++sent) {
    if (!E.LineReady() || MLinkWaitStart(E)) return;
    if (sent >= kMaxInvites) {
      r.error = kFailed;
      return;
    }
    E.SendByte(kInvite);
  }
}

// Name, size and date. A name that fails gets no reply; anything later that
// fails is refused with "A", and a refused header fails the transfer.
void ReadHeader(Reception& r) {
  TKelEngine& E = r.E;
  std::string name = CollectField(r, true);
  const uint8_t last = static_cast<uint8_t>(name.back());
  name.pop_back();
  E.Comm.Status.RecvName.set(name);
  if (last != ' ' || r.timedOut || !E.LineReady() || E.Cancelled()) {
    r.error = kFailed;
    return;
  }
  std::string sizeText = CollectField(r, false);
  const bool sizeEnded = sizeText.back() == ' ';
  sizeText.pop_back();
  const int32_t size = sizeEnded ? ParseSize(sizeText) : 0;
  E.Comm.Status.FileSize = size;
  r.remaining = size;
  if (size <= 0) r.error = kFailed;
  for (size_t dropped = 0; r.error == kGood; ++dropped) {
    const uint8_t b = MLinkGetByte(r);
    if (b == CR || r.timedOut || !E.LineReady()) break;
    if (E.Cancelled() || dropped > kMaxField) r.error = kFailed;
  }
  if (r.timedOut) r.error = kFailed;
  E.SendByte(r.error == kGood ? kInvite : kAbort);
}

// Fills the first count bytes of Block as the bytes come. Nothing for more
// than a second, the line going, or a cancel ends it with the time-out flag.
void CollectChunk(Reception& r, int count) {
  TKelEngine& E = r.E;
  int filled = 0;
  auto lastArrival = Clock::now();
  while (filled < count) {
    if (E.Cancelled() || !E.LineReady()) break;
    const int taken = E.TakeBytes(E.Block.data() + filled, count - filled);
    if (taken > 0) {
      filled += taken;
      lastArrival = Clock::now();
      continue;
    }
    const auto quiet = Clock::now() - lastArrival;
    if (quiet > kSilence) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(kSilence - quiet) + 1ms;
    E.WaitArrival(static_cast<int>(left.count()));
  }
  if (filled < count) r.timedOut = true;
}

// The data in 1024-byte chunks, one file write per chunk. A chunk cut short
// is not written; the chunks before it stay in the file.
void ReadData(Reception& r) {
  TKelEngine& E = r.E;
  do {
    const int chunk = static_cast<int>(std::min<int64_t>(r.remaining, kBlockSize));
    CollectChunk(r, chunk);
    r.remaining -= chunk;
    if (r.timedOut) {
      r.error = kFailed;
    } else if (E.WriteBytes(E.Block.data(), chunk) == chunk) {
      E.Comm.Status.TranSize += chunk;
    } else {
      r.error = kFailed;  // the disk is full: stop the sender
    }
  } while (E.LineReady() && r.error == kGood && r.remaining > 0);
  r.complete = r.error == kGood && r.remaining == 0;
  if (E.LineReady() && r.error == kFailed) {
    E.SendByte(kAbort);
    E.DrainLine();
  } else {
    E.SendByte(kDone);
  }
}

}  // namespace

void MLinkReceive(TKelEngine& E, std::atomic<uint8_t>& TranResult) {
  Reception r{E};
  E.ClearHeader();
  E.FlushRing();
  if (!E.CreateForWrite(E.Comm.Status.FilePath.get())) {
    r.error = kFailed;
    r.opened = false;
  }
  if (r.error == kGood && E.LineReady()) {
    Invite(r);
    if (E.LineReady() && r.error == kGood) ReadHeader(r);
    if (E.LineReady() && r.error == kGood) ReadData(r);
  }
  E.CloseFile();
  // A line lost before the last byte leaves the error code clear: only a
  // complete file counts.
  TranResult = r.opened && r.error == kGood && r.complete;
  E.SendText("\r");
}
