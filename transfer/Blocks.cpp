// One block on the line, sent and acknowledged or received and checked; the
// XMODEM and YMODEM routines share them.

#include <thread>

#include "KelComm.h"
#include "Protocols.h"

void SendFrame(TKelEngine& E, int Chunks, int BlockNo) {
  const auto number = static_cast<uint8_t>(BlockNo & 0xFF);
  E.SendByte(Chunks == 1 ? SOH : STX);
  E.SendByte(number);
  E.SendByte(static_cast<uint8_t>(255 - number));
  E.Check.CheckReset();
  for (int i = 0; i < Chunks; ++i) {
    const uint8_t* part = E.Block.data() + i * 128;
    E.SendData(part, 128);
    E.Check.CheckBlock(part, 128);
  }
  if (E.Check.CheckMode == kCheckCrc16) {
    E.SendByte(static_cast<uint8_t>(E.Check.Crc16Value >> 8));
    E.SendByte(static_cast<uint8_t>(E.Check.Crc16Value & 0xFF));
  } else {
    E.SendByte(E.Check.SumValue);
  }
}

namespace {

// A streaming sender doesn't wait: it reads a reply only when one is there.
uint8_t StreamingReply(TKelEngine& E) {
  std::this_thread::yield();
  return E.RxPending() ? E.GetByte() : ACK;
}

}  // namespace

int SendBlock(TKelEngine& E, TXState& X, int Chunks, int BlockNo, uint8_t alsoAck) {
  uint8_t reply = 0;
  int attempt = 0;
  for (;;) {
    ++attempt;
    SendFrame(E, Chunks, BlockNo);
    if (X.Streaming)
      reply = StreamingReply(E);
    else
      E.WaitReply(reply, 10);
    // A receiver that keeps refusing may be counting a sum we don't send.
    if (attempt == 5) E.Check.CheckMode = kCheckCrc16;
    const bool acknowledged = reply == ACK || reply == alsoAck;
    if (acknowledged || reply == CAN || attempt >= 10 || !E.LineReady() || E.Cancelled()) break;
  }
  X.LastReply = reply;
  return reply == ACK || reply == alsoAck ? kBlockGood : kBlockFatal;
}

namespace {

// The block's body and check bytes, taken as they arrive; false when the
// line was quiet for more than a second.
bool CollectBody(TKelEngine& E, int need) {
  int got = 0;
  while (got < need) {
    const int n = E.TakeBytes(E.Block.data() + got, need - got);
    got += n;
    if (n == 0 && !E.WaitForCount(need - got, 1000)) return false;
  }
  return true;
}

bool CheckBytesMatch(TKelEngine& E, int Chunks) {
  const int length = Chunks * 128;
  E.Check.CheckReset();
  E.Check.CheckBlock(E.Block.data(), static_cast<size_t>(length));
  if (E.Check.CheckMode == kCheckCrc16)
    return E.Block[length] == (E.Check.Crc16Value >> 8) &&
           E.Block[length + 1] == (E.Check.Crc16Value & 0xFF);
  return E.Block[length] == E.Check.SumValue;
}

// One reading of a block: good, EOT, fatal, or damaged (failed set when the
// line must be drained first).
int ReadBlockOnce(TKelEngine& E, int& Chunks, int& BlockNo, bool& failed) {
  const int expected = BlockNo;
  const uint8_t header = E.RecvByte(failed);
  if (failed) return kBlockGood;
  if (header == EOT) return kBlockEnd;
  if (header == CAN) {
    // One CAN may be line noise or another protocol's header; a cancel is
    // two in a row.
    if (E.RecvByte(failed) == CAN && !failed) return kBlockFatal;
    failed = true;
    return kBlockGood;
  }
  if (header != SOH && header != STX) {
    failed = true;
    return kBlockGood;
  }
  Chunks = header == SOH ? 1 : 8;
  if (!E.LineReady()) return kBlockFatal;
  BlockNo = E.RecvByte(failed);
  const uint8_t complement = E.RecvByte(failed);
  if (failed || BlockNo + complement != 255) {
    failed = true;
    return kBlockGood;
  }
  const int need = Chunks * 128 + (E.Check.CheckMode == kCheckCrc16 ? 2 : 1);
  if (!CollectBody(E, need)) {
    failed = true;
    return kBlockGood;
  }
  int result = CheckBytesMatch(E, Chunks) ? kBlockGood : kBlockAgain;
  if (BlockNo != (expected & 0xFF) && BlockNo != ((expected - 1) & 0xFF)) result = kBlockFatal;
  return result;
}

}  // namespace

int RecvBlock(TKelEngine& E, TXState& X, int& Chunks, int& BlockNo) {
  const int expected = BlockNo;
  int result = kBlockGood;
  for (int attempt = 1;; ++attempt) {
    bool failed = false;
    BlockNo = expected;
    result = ReadBlockOnce(E, Chunks, BlockNo, failed);
    // Damage is fatal while streaming: draining first would only delay the
    // cancel while the sender keeps going. Before a YMODEM header nothing
    // has been streamed yet, and noise there is answered with the start byte.
    const bool beforeHeader = X.AgainByte != NAK;
    const bool answer = !X.Streaming || beforeHeader;
    if (failed) {
      if (answer) E.DrainLine();
      result = kBlockAgain;
    }
    if (result == kBlockAgain) {
      if (!answer || !E.LineReady())
        result = kBlockFatal;
      else if (!E.SendInvite(X.AgainByte))
        result = kBlockFatal;
    }
    if (attempt > 6) E.Check.CheckMode = kCheckCrc16;
    // Once cancelled, waits and drains return at once and leave waiting
    // bytes where they are: asking again would go round for ever.
    if (result == kBlockAgain && E.Cancelled()) return kBlockFatal;
    if (result != kBlockAgain || !E.LineReady()) return result;
  }
}

bool NextFileBlock(TKelEngine& E, TXState& X, int Chunks) {
  if (E.AtEnd()) return false;
  X.BlockCount = E.ReadRecords(E.Block.data(), Chunks);
  // The file's bytes only: the padding of a short last block is no progress.
  E.Comm.Status.TranSize += X.BlockCount;
  if (X.BlockCount == 0 && E.AtEnd()) return false;
  E.PadBlock(X.BlockCount);
  return true;
}

// The file counts as delivered only once the receiver has acknowledged the
// EOT: one that refuses it to the end, cancels, goes silent or loses the line
// first has not said that it has the whole file.
void SendEnd(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult) {
  uint8_t reply = 0;
  for (int sends = 0; sends < 11; ++sends) {
    E.SendByte(EOT);
    E.WaitReply(reply, 60);
    if (reply == ACK || reply == CAN || !E.LineReady() || E.Cancelled()) break;
  }
  X.LastReply = reply;
  if (reply != ACK) TranResult = 0;
}
