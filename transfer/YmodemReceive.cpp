// The receiving side of YMODEM and YMODEM-G. Whatever name the sender
// announces only goes to RecvName; the file is written to the path the user
// chose.

#include <algorithm>
#include <cstring>

#include "KelComm.h"
#include "Protocols.h"

namespace {

constexpr int64_t kLargestSize = INT32_MAX;
constexpr int kNoFile = 3;  // an empty header: the sender has nothing to send

struct Reception {
  uint8_t startByte = 'C';
  int expected = 0;        // index of the next block; 0 is the header
  int64_t remaining = 0;   // bytes the announced size still allows
  bool sized = true;       // the header gave a size
  bool namedFile = false;  // the header named a file
};

// Name up to the first NUL, then the decimal size; the rest is ignored. A
// long name comes in a 1024-byte header: the whole block counts, or its
// size would be lost and the file's data with it.
void TakeHeader(TKelEngine& E, Reception& r, int Chunks) {
  const auto* begin = reinterpret_cast<const char*>(E.Block.data());
  const size_t length = static_cast<size_t>(Chunks) * 128;
  const size_t nameLength = strnlen(begin, length);
  E.Comm.Status.RecvName.set(std::string(begin, nameLength));
  r.namedFile = nameLength > 0;
  int64_t size = 0;
  size_t i = nameLength + 1;
  for (; i < length && begin[i] >= '0' && begin[i] <= '9'; ++i)
    size = std::min(size * 10 + (begin[i] - '0'), kLargestSize);
  // The size is optional: without one every block is kept whole, as with
  // XMODEM, rather than nothing at all.
  const bool sized = i > nameLength + 1;
  E.Comm.Status.FileSize = sized ? static_cast<int32_t>(size) : kUnknownFileSize;
  r.remaining = sized ? size : INT64_MAX;
  r.sized = sized;
}

// Writes what the announced size leaves of a data block; false on a short
// write.
bool TakeData(TKelEngine& E, Reception& r, int Chunks) {
  const int length = static_cast<int>(std::min<int64_t>(Chunks * 128, r.remaining));
  if (length <= 0) return true;
  const int written = E.WriteBytes(E.Block.data(), length);
  E.Comm.Status.TranSize += written;
  r.remaining -= length;
  return written == length;
}

// A good block: stored when new, then answered. Returns the new state.
int Accept(TKelEngine& E, const TXState& X, Reception& r, int Chunks, int number) {
  const bool header = r.expected == 0 || (r.expected == 1 && number == 0);
  if (number == (r.expected & 0xFF)) {
    if (r.expected == 0)
      TakeHeader(E, r, Chunks);
    else if (!TakeData(E, r, Chunks))
      return kBlockFatal;
    ++r.expected;
  }
  if (header) {
    if (!X.Streaming || !r.namedFile) E.SendByte(ACK);
    // An empty header ends an empty batch: no file is coming.
    if (!r.namedFile) return kNoFile;
    return E.SendInvite(r.startByte) ? kBlockGood : kBlockFatal;
  }
  if (X.Streaming) return kBlockGood;
  return E.SendInvite(ACK) ? kBlockGood : kBlockFatal;
}

// After the EOT: the sender may close the batch with an empty header, which
// is acknowledged; a header naming a further file is refused. A sender that
// doesn't take part is no failure.
void ReceiveBatchEnd(TKelEngine& E, TXState& X, const Reception& r) {
  for (int round = 0; round < 3; ++round) {
    E.SendByte(r.startByte);
    if (!E.WaitArrival(E.PatienceMs())) return;
    int chunks = 1;
    int number = 0;
    X.AgainByte = NAK;
    const int result = RecvBlock(E, X, chunks, number);
    if (result == kBlockEnd) {
      E.SendByte(ACK);  // our ACK of the EOT went astray
      continue;
    }
    if (result != kBlockGood || number != 0) return;
    if (E.Block[0] == 0)
      E.SendByte(ACK);
    else
      E.SendData(CancelSeq.data(), static_cast<int>(CancelSeq.size()));
    return;
  }
}

}  // namespace

void YmodemReceive(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult) {
  E.Check.CheckMode = kCheckCrc16;
  int chunks = 8;
  X.Streaming = X.GMode;
  E.SendText(" ");
  const bool created = E.CreateForWrite(E.Comm.Status.FilePath.get());
  E.FlushRing();
  Reception r;
  r.startByte = X.Streaming ? 'G' : 'C';
  int state = created ? kBlockGood : kBlockFatal;
  if (E.LineReady() && state == kBlockGood && !E.SendInvite(r.startByte)) state = kBlockFatal;
  while (E.LineReady() && state == kBlockGood) {
    int number = r.expected;
    X.AgainByte = r.expected == 0 ? r.startByte : NAK;
    state = RecvBlock(E, X, chunks, number);
    if (state == kBlockGood) state = Accept(E, X, r, chunks, number);
    if (state == kBlockFatal) E.FlushRing();
  }
  if (state == kBlockFatal) E.SendData(CancelSeq.data(), static_cast<int>(CancelSeq.size()));
  if (state == kBlockEnd) E.SendByte(ACK);
  E.CloseFile();
  // A file is received when the sender ended it with EOT after all the bytes
  // it announced; losing the line or the sender before is a failure.
  TranResult = created && state == kBlockEnd && (r.remaining == 0 || !r.sized) && r.namedFile;
  if (state == kBlockEnd) ReceiveBatchEnd(E, X, r);
}
