// The reading half of the ZMODEM frame layer: escaped bytes, hex and binary
// header bodies, the header hunt and data subpackets.
//
// Every byte is waited for up to 10 s (less when the user cancels or the
// line goes). With ReadAhead the bytes are taken from the ring in bulk and
// decoded from the frame's own buffer, so a subpacket costs a few ring locks
// instead of one per byte.

#include <algorithm>
#include <chrono>

#include "KelComm.h"
#include "Zmodem.h"

namespace {

using Clock = std::chrono::steady_clock;

// With read-ahead the worker sleeps until a good share of a subpacket is
// there or the line pauses, rather than waking at every hand-over from the
// line; a reply still ends the sleep within the pause.
constexpr int kWakeBytes = 1024;
constexpr int kPauseMs = 5;

// Waits for bytes: up to the patience (10 s), or less while a hunt has its
// own limits. False when none came.
bool WaitMore(TZFrame& Z) {
  TKelEngine& E = Z.E;
  if (Z.ReadAhead && E.WaitForCount(kWakeBytes, kPauseMs)) return true;
  if (Z.HuntUntil == Clock::time_point::max()) return E.WaitForData();
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(Z.HuntUntil - Clock::now()).count();
  const int64_t wait = std::min<int64_t>({left, Z.HuntQuietMs, E.PatienceMs()});
  return wait > 0 && E.WaitArrival(static_cast<int>(wait));
}

// The next received byte, waiting for it; false when none came.
bool TakeByte(TZFrame& Z, uint8_t& b) {
  if (Z.AheadPos < Z.AheadLen) {
    b = Z.Ahead[Z.AheadPos++];
    return true;
  }
  TKelEngine& E = Z.E;
  for (int round = 0; round < 2; ++round) {
    if (Z.ReadAhead) {
      Z.AheadPos = 0;
      Z.AheadLen = E.TakeBytes(Z.Ahead.data(), static_cast<int>(Z.Ahead.size()));
      if (Z.AheadLen > 0) {
        b = Z.Ahead[Z.AheadPos++];
        return true;
      }
    } else if (E.TakeBytes(&b, 1) == 1) {
      return true;
    }
    if (round == 0 && !WaitMore(Z)) return false;
  }
  return false;
}

// A sender escapes XON and XOFF in both halves, so a bare one is flow
// control from the line (or the XON a peer puts after a hex header) and not
// part of the frame.
bool IsFlowControl(uint8_t b) { return (b & 0x7F) == XON || (b & 0x7F) == XOFF; }

// The value of one hex digit of either case; -1 for any other byte.
int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads count check bytes into the running check; false (bad) on anything
// that is not a data byte. A ZDLE CAN among them cancels the frame.
bool ReadCheckBytes(TZFrame& Z, int count, uint8_t* frameEnd) {
  for (int i = 0; i < count; ++i) {
    const uint16_t v = ZReadByte(Z);
    if (v == ZGotCan && frameEnd != nullptr) {
      *frameEnd = ZFrameCancelled;
      return true;
    }
    if (v > 0xFF) return false;
    Z.E.Check.CheckByte(static_cast<uint8_t>(v));
  }
  return true;
}

int CheckLength(const TKelEngine& E) { return E.Check.CheckMode == kCheckCrc16 ? 2 : 4; }

// Copies plain bytes straight out of the read-ahead buffer up to the next
// ZDLE or flow-control byte, or until the subpacket is full.
void CopyPlainRun(TZFrame& Z, uint8_t* buffer, uint16_t& count) {
  const uint8_t* from = Z.Ahead.data() + Z.AheadPos;
  const uint8_t* end = Z.Ahead.data() + Z.AheadLen;
  const uint8_t* stop = std::find_if(from, std::min(end, from + (kZMaxData - count)),
                                     [](uint8_t b) { return b == ZDLE || IsFlowControl(b); });
  std::copy(from, stop, buffer + count);
  count = static_cast<uint16_t>(count + (stop - from));
  Z.AheadPos += static_cast<int>(stop - from);
}

// After "*" ZDLE: the form byte and the header body. Returns the form, CAN
// for the peer's cancel, or 0 when the hunt goes on.
uint8_t ReadHeaderBody(TZFrame& Z, ZHeader& header, bool& bad) {
  uint8_t form = 0;
  const bool came = TakeByte(Z, form);
  if (!came && Z.E.Cancelled()) {
    bad = true;  // the user's cancel, not the peer's
    return CAN;
  }
  if (!came || form == ZDLE) {
    header[0] = HeaderCancelled;
    return CAN;
  }
  switch (form) {
    case ZBIN:
      ZGetBinHeader(Z, header, bad);
      return ZBIN;
    case ZHEX:
      ZGetHexHeader(Z, header, bad);
      return ZHEX;
    case ZBIN32:
      Z.E.Check.CheckMode = kCheckCrc32;
      ZGetBinHeader(Z, header, bad);
      return ZBIN32;
    default:
      return 0;
  }
}

}  // namespace

bool ZPending(TZFrame& Z) { return Z.AheadPos < Z.AheadLen || Z.E.RxPending(); }

bool ZWaitByte(TZFrame& Z) { return Z.AheadPos < Z.AheadLen || Z.E.WaitForData(); }

void ZFlushRing(TZFrame& Z) {
  Z.AheadPos = Z.AheadLen = 0;
  Z.E.FlushRing();
}

// CANs in a row that make a cancel while the line is being cleared: every
// cancel sequence sends eight or more, and damaged data rarely holds five.
constexpr int kCancelRun = 5;

bool ZFlushRingKeepingCancel(TZFrame& Z) {
  Z.AheadPos = Z.AheadLen = 0;
  uint8_t scrap[256];
  int cans = 0;
  bool cancel = false;
  int taken = 0;
  for (int total = 0; total < kRxRingCapacity; total += taken) {
    taken = Z.E.TakeBytes(scrap, sizeof scrap);
    if (taken <= 0) break;
    for (int i = 0; i < taken; ++i) {
      cans = scrap[i] == CAN ? cans + 1 : 0;
      cancel = cancel || cans >= kCancelRun;
    }
  }
  return !cancel;
}

// A sender's cancel (a run of CANs) that arrives while the line is being
// cleared is handed on to the next header hunt, which ends the transfer;
// otherwise the receiver would sit out its header time-outs.
void ZDrainLine(TZFrame& Z) {
  Z.AheadPos = Z.AheadLen = 0;
  if (Z.E.DrainLine(kCancelRun)) return;
  Z.Ahead[0] = Z.Ahead[1] = CAN;
  Z.AheadLen = 2;
}

namespace {

// After ZDLE ZDLE: the sender cancels with a run of CANs, while a single
// damaged byte can make that pair in the middle of data. Only a run of
// kCancelRun ends the transfer; a shorter one is damage.
bool CancelRunFollows(TZFrame& Z) {
  for (int cans = 2; cans < kCancelRun; ++cans) {
    uint8_t b = 0;
    if (!TakeByte(Z, b) || b != CAN) return false;
  }
  return true;
}

}  // namespace

uint16_t ZReadByte(TZFrame& Z) {
  uint8_t b = 0;
  do {
    if (!TakeByte(Z, b)) return ZGotError;
  } while (IsFlowControl(b));
  if (b != ZDLE) return b;
  uint8_t c = 0;
  do {
    if (!TakeByte(Z, c)) return ZGotError;
  } while (IsFlowControl(c));
  switch (c) {
    case ZDLE:
      return CancelRunFollows(Z) ? ZGotCan : ZGotError;
    case ZCRCE:
    case ZCRCG:
    case ZCRCQ:
    case ZCRCW:
      return ZGotFrameEnd + c;
    case ZRUB0:
      return 0x7F;
    case ZRUB1:
      return 0xFF;
    default:
      return (c & 0x60) == 0x40 ? c ^ 0x40 : ZGotError;
  }
}

// A missing second digit is a time-out like a missing first one.
uint8_t ZGetHexByte(TZFrame& Z, bool& bad) {
  if (bad) return 0;
  uint8_t c = 0;
  int high = -1;
  int low = -1;
  if (TakeByte(Z, c)) high = HexValue(c);
  if (high >= 0 && TakeByte(Z, c)) low = HexValue(c);
  if (high < 0 || low < 0) {
    bad = true;
    return 0;
  }
  return static_cast<uint8_t>(high << 4 | low);
}

void ZGetHexHeader(TZFrame& Z, ZHeader& header, bool& bad) {
  TKelEngine& E = Z.E;
  E.Check.CheckReset();
  for (uint8_t& b : header) b = ZGetHexByte(Z, bad);
  E.Check.CheckBlock(header.data(), header.size());
  for (int i = 0; i < 2; ++i) E.Check.CheckByte(ZGetHexByte(Z, bad));
  if (E.Check.CheckValue() != E.Check.CheckGood()) bad = true;
  // The CR and LF (one of them perhaps with its high bit set) that close it.
  uint8_t scrap = 0;
  for (int i = 0; i < 2 && !bad; ++i) TakeByte(Z, scrap);
}

void ZGetBinHeader(TZFrame& Z, ZHeader& header, bool& bad) {
  TKelEngine& E = Z.E;
  E.Check.CheckReset();
  for (uint8_t& b : header) {
    const uint16_t v = ZReadByte(Z);
    if (v > 0xFF) {
      bad = true;
      return;
    }
    b = static_cast<uint8_t>(v);
    E.Check.CheckByte(b);
  }
  if (!ReadCheckBytes(Z, CheckLength(E), nullptr) || E.Check.CheckValue() != E.Check.CheckGood())
    bad = true;
}

uint8_t ZGetHeader(TZFrame& Z, ZHeader& header, int32_t& value, bool& bad) {
  TKelEngine& E = Z.E;
  bad = false;
  const uint8_t savedMode = E.Check.CheckMode;
  E.Check.CheckMode = kCheckCrc16;
  const auto giveUp =
      std::min(Z.HuntUntil, Clock::now() + std::chrono::milliseconds(E.PatienceMs()));
  bool star = false;
  int cans = 2;
  uint8_t form = 0;
  for (;;) {
    uint8_t c = 0;
    if (E.Cancelled() || Clock::now() >= giveUp || !TakeByte(Z, c)) {
      bad = true;
      break;
    }
    if (c == ZPAD) {
      star = true;
      cans = 2;
    } else if (c == ZDLE && star) {
      form = ReadHeaderBody(Z, header, bad);
      if (form != 0) break;
      star = false;
    } else if (c == ZDLE) {
      if (--cans == 0) {
        header[0] = HeaderCancelled;
        form = CAN;
        break;
      }
    } else {
      star = false;
      cans = 2;
    }
  }
  E.Check.CheckMode = savedMode;
  if (bad) {
    header[0] = HeaderTimeout;
    return 0;
  }
  if (form != CAN) value = ZHeaderValue(header);
  return form;
}

void ZReceiveData(TZFrame& Z, uint8_t* buffer, uint16_t& count, uint8_t& frameEnd, bool& bad) {
  TKelEngine& E = Z.E;
  E.Check.CheckReset();
  std::fill_n(buffer, kZFileInfoSize, uint8_t{0});
  count = 0;
  frameEnd = 0;
  if (bad) return;
  for (;;) {
    if (count < kZMaxData && Z.AheadPos < Z.AheadLen) CopyPlainRun(Z, buffer, count);
    const uint16_t v = ZReadByte(Z);
    if (v <= 0xFF) {
      if (count >= kZMaxData) {
        bad = true;
        break;
      }
      buffer[count++] = static_cast<uint8_t>(v);
      continue;
    }
    if (v == ZGotCan) {
      frameEnd = ZFrameCancelled;
      break;
    }
    if (v < ZGotFrameEnd + ZCRCE || v > ZGotFrameEnd + ZCRCW) {
      bad = true;
      break;
    }
    frameEnd = static_cast<uint8_t>(v - ZGotFrameEnd);
    ZCheckRun(E, buffer, count);
    E.Check.CheckByte(frameEnd);
    if (!ReadCheckBytes(Z, CheckLength(E), &frameEnd)) bad = true;
    if (frameEnd != ZFrameCancelled && E.Check.CheckValue() != E.Check.CheckGood()) bad = true;
    break;
  }
  Z.RxCount = count;
  Z.RxFrameEnd = frameEnd;
}
