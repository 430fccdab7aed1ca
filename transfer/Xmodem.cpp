// XMODEM with an 8-bit sum, with CRC-16, and with 1024-byte blocks.

#include "KelComm.h"
#include "Protocols.h"

namespace {

int ChunksOf(uint8_t variant) {
  if (variant == 0 || variant == 1) return 1;
  return variant == 2 ? 8 : 0;
}

}  // namespace

void XmodemSend(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult) {
  X.Streaming = X.GMode;
  const int chunks = ChunksOf(X.XVariant);
  if (chunks == 0 || !E.OpenForRead(E.Comm.Status.FilePath.get())) {
    TranResult = 0;
    return;
  }
  TranResult = 1;
  int blockNo = 0;
  int result = kBlockGood;
  E.Check.CheckMode = kCheckSum;
  uint8_t start = 0;
  if (E.WaitReply(start, 60) == 0) start = CAN;
  if (start == 'C') E.Check.CheckMode = kCheckCrc16;
  bool more = true;
  do {
    if (result == kBlockGood && (more = NextFileBlock(E, X, chunks))) ++blockNo;
    if (start != CAN && E.LineReady() && more) result = SendBlock(E, X, chunks, blockNo);
    if (!more) result = kBlockEnd;
  } while (start != CAN && result == kBlockGood && E.LineReady() && !E.Cancelled());
  TranResult = result == kBlockEnd;
  if (TranResult) SendEnd(E, X, TranResult);
  if (E.LineReady() && start != CAN && !TranResult)
    E.SendData(CancelSeq.data(), static_cast<int>(CancelSeq.size()));
  E.CloseFile();
}

namespace {

// Writes a new block to the file; false when the file took fewer bytes.
bool StoreBlock(TKelEngine& E, int Chunks) {
  const int length = Chunks * 128;
  const int written = E.WriteBytes(E.Block.data(), length);
  E.Comm.Status.TranSize += written;
  return written == length;
}

}  // namespace

void XmodemReceive(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult) {
  X.Streaming = X.GMode;
  int chunks = ChunksOf(X.XVariant);
  if (chunks == 0) {
    TranResult = 0;
    return;
  }
  E.Check.CheckMode = X.XVariant == 0 ? kCheckSum : kCheckCrc16;
  X.AgainByte = NAK;
  E.FlushRing();
  const bool created = E.CreateForWrite(E.Comm.Status.FilePath.get());
  int state = created ? kBlockGood : kBlockFatal;
  const uint8_t startByte = E.Check.CheckMode == kCheckCrc16 ? 'C' : NAK;
  if (E.LineReady() && state == kBlockGood && !E.SendInvite(startByte)) state = kBlockFatal;
  int expected = 1;
  while (E.LineReady() && state != kBlockEnd && state != kBlockFatal) {
    int number = expected;
    state = RecvBlock(E, X, chunks, number);
    if (state == kBlockGood && number == (expected & 0xFF)) {
      ++expected;
      if (!StoreBlock(E, chunks)) state = kBlockFatal;
    }
    if (state == kBlockFatal) E.FlushRing();
    if (state == kBlockGood && !E.SendInvite(ACK)) state = kBlockFatal;
  }
  if (state == kBlockFatal) E.SendData(CancelSeq.data(), static_cast<int>(CancelSeq.size()));
  if (state == kBlockEnd) E.SendByte(ACK);
  E.CloseFile();
  TranResult = created && state == kBlockEnd;
}
