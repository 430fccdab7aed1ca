// The receiving side of ZMODEM: one file per transfer, written at the
// positions the data frames carry into the path the user chose. A second
// file offered in the same session is skipped; a remote command is never
// run. Whatever name the sender announces only goes to RecvName.

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "KelComm.h"
#include "Protocols.h"
#include "Zmodem.h"

namespace {

constexpr int kTries = 4;
constexpr int kBadHeaders = 10;
// A sender that keeps offering further files after ours is let go after
// this many offers, or after this many patiences (60 s).
constexpr int kSkipLimit = 100;
constexpr int kSkipPatiences = 6;
// ZRecvInit's results besides a frame type: the sender has ended.
constexpr uint8_t kSenderDone = ZCOMPL;

// Received data is written to the file this much at a time.
constexpr size_t kWriteBehind = 32 * 1024;

// After damage the ZRPOS is repeated when the line has been quiet this long
// (the sender waits for a header it did not get), or when no data from the
// receive position has come within the patience. While the sender's earlier
// data still flows it is not repeated: a sender with much queued (a host's
// sz behind its pty) is heard only once that has drained, and each repeat
// would make it start over once more.
constexpr int kResyncQuietMs = 500;

using Clock = TKelEngine::Clock;
using Millis = std::chrono::milliseconds;

struct TZRecv {
  explicit TZRecv(TKelEngine& engine) : Z(engine), E(engine) {}
  // Data still waiting reaches the file whichever way the transfer ends,
  // an exception included: a partial file keeps what was received.
  ~TZRecv();
  TZRecv(const TZRecv&) = delete;
  TZRecv& operator=(const TZRecv&) = delete;
  TZFrame Z;
  TKelEngine& E;
  int32_t RecvPos = 0;  // bytes of the file received in sequence
  bool Error = false;   // a failure that ends the transfer
  int Tries = kTries;
  int64_t FilePos = -1;  // where the file's next write lands; -1 unknown
  bool Offered = false;  // a file was announced
  // The file is in: further offers are skipped and leave the status alone.
  bool Skipping = false;
  // When the sender's time is up; ZRecvInit gives up on it then.
  TKelEngine::Clock::time_point Until = TKelEngine::Clock::time_point::max();
  // Received data not yet written, which belongs at file position WaitingAt.
  std::vector<uint8_t> Waiting;
  int32_t WaitingAt = 0;
  // Resynchronising after damage, since the last ZRPOS.
  bool Resyncing = false;
  Clock::time_point ResyncSince{};
};

// Writes what waits; a short write is an error.
void WriteWaiting(TZRecv& R, bool& error) {
  if (R.Waiting.empty()) return;
  const int count = static_cast<int>(R.Waiting.size());
  const int32_t position = R.WaitingAt;
  bool ok = true;
  if (R.FilePos != position) R.E.SeekFile(position, ok);
  const int written = ok ? R.E.WriteBytes(R.Waiting.data(), count) : 0;
  R.Waiting.clear();
  R.FilePos = written == count ? position + count : -1;
  if (written == count) return;
  // The count shown stops at what the file holds.
  R.E.Comm.Status.TranSize = position + written;
  error = true;
}

TZRecv::~TZRecv() {
  if (!E.FileOpen()) return;
  bool ignored = false;
  WriteWaiting(*this, ignored);
}

bool Going(const TZRecv& R) {
  return !R.Error && R.E.LineReady() && !R.E.Cancelled() && TKelEngine::Clock::now() < R.Until;
}

void SendHex(TZRecv& R, uint8_t type, int32_t value = 0) {
  ZSendHexHeader(R.Z, ZStoreHeader(type, value));
}

void SendBin(TZRecv& R, uint8_t type, int32_t value) {
  ZSendBinHeader(R.Z, ZStoreHeader(type, value));
}

// One more unexpected header or damaged frame; too many in a row fail.
void LoseOne(TZRecv& R, int& badCount) {
  if (--badCount <= 0) R.Error = true;
}

// Name up to the first NUL; then the size up to the first blank or control
// byte, in decimal. A size that is not a number reads as 0.
void TakeFileInfo(TZRecv& R, uint16_t count) {
  const auto* info = reinterpret_cast<const char*>(R.E.Block.data());
  const size_t limit = std::max<size_t>(count, kZFileInfoSize);
  const size_t nameLength = strnlen(info, limit);
  R.E.Comm.Status.RecvName.set(std::string(info, nameLength));
  int64_t size = 0;
  bool number = true;
  for (size_t i = nameLength + 1; i<limit&& static_cast<uint8_t>(info[i])> 0x20; ++i) {
    if (info[i] < '0' || info[i] > '9') number = false;
    if (number) size = std::min<int64_t>(size * 10 + (info[i] - '0'), INT32_MAX);
  }
  R.E.Comm.Status.FileSize = number ? static_cast<int32_t>(size) : 0;
}

// Reads a subpacket into Block. Returns its frame end; bad is the caller's.
uint8_t ReadSubpacket(TZRecv& R, uint16_t& count, bool& bad) {
  uint8_t frameEnd = 0;
  ZReceiveData(R.Z, R.E.Block.data(), count, frameEnd, bad);
  return frameEnd;
}

enum class Next { Read, Offer, Finish };

// ZSINIT carries the sender's wishes; the only one honoured is escaping
// every control byte, without which such a sender misreads our headers.
Next TakeSenderInit(TZRecv& R, const ZHeader& header) {
  uint16_t count = 0;
  const uint8_t end = ReadSubpacket(R, count, R.Error);
  if (end == ZCRCW && !R.Error) {
    R.Z.EscapeControls = (header[ZF0] & ESCCTL) != 0;
    SendHex(R, ZACK);
  } else {
    SendHex(R, ZNAK);
  }
  return Next::Read;
}

// A damaged file information is refused with ZNAK and the sender may offer
// it again; a sender that gives up instead fails the transfer later, since
// then no data follows the announced file.
Next TakeFileOffer(TZRecv& R, uint8_t& result, int& badCount) {
  R.E.ClearHeader();
  uint16_t count = 0;
  bool bad = false;
  const uint8_t end = ReadSubpacket(R, count, bad);
  result = ZFILE;
  R.Offered = true;
  if (!R.Skipping) TakeFileInfo(R, count);
  if (end == ZCRCW && !bad) return Next::Finish;
  SendHex(R, ZNAK);
  if (bad) LoseOne(R, badCount);
  return Next::Read;
}

// A remote command is acknowledged as done and never run.
Next RefuseCommand(TZRecv& R, uint8_t& result) {
  uint16_t count = 0;
  if (ReadSubpacket(R, count, R.Error) != ZCRCW || R.Error) {
    SendHex(R, ZNAK);
    return Next::Read;
  }
  ZHeader header{};
  int32_t value = 0;
  do {
    SendHex(R, ZCOMPL);
    ZGetHeader(R.Z, header, value, R.Error);
    --R.Tries;
  } while (header[0] != ZFIN && R.Tries > 0 && Going(R));
  result = kSenderDone;
  return Next::Finish;
}

Next OnInitHeader(TZRecv& R, const ZHeader& header, uint8_t& result, int& badCount) {
  switch (header[0]) {
    case ZRQINIT:
      return Next::Offer;
    case ZRINIT:
      return Next::Read;
    case ZSINIT:
      return TakeSenderInit(R, header);
    case ZFILE:
      return TakeFileOffer(R, result, badCount);
    case ZFIN:
    case ZCOMPL:
      result = kSenderDone;
      return Next::Finish;
    case HeaderTimeout:
    case HeaderCancelled:
      result = header[0];
      return Next::Finish;
    case ZCOMMAND:
      return RefuseCommand(R, result);
    default:
      LoseOne(R, badCount);
      return Next::Offer;
  }
}

// Offers ZRINIT and handles headers until a file is announced (ZFILE), the
// sender ends (ZCOMPL), a time-out or cancel (16, 24), or 0.
uint8_t ZRecvInit(TZRecv& R) {
  int badCount = kBadHeaders;
  uint8_t result = 0;
  Next next = Next::Offer;
  do {
    SendHex(R, ZRINIT, int32_t{kZRecvFlags} << 24);
    do {
      ZHeader header{};
      int32_t value = 0;
      if (ZGetHeader(R.Z, header, value, R.Error) == ZBIN32) R.E.Check.CheckMode = kCheckCrc32;
      next = OnInitHeader(R, header, result, badCount);
    } while (next == Next::Read && Going(R));
  } while (next == Next::Offer && Going(R));
  return result;
}

// Queues count bytes for position, behind what waits when they follow it.
void ZWriteBlock(TZRecv& R, const uint8_t* buffer, int count, int32_t position, bool& error) {
  if (!R.Waiting.empty() && position != R.WaitingAt + static_cast<int32_t>(R.Waiting.size()))
    WriteWaiting(R, error);
  if (R.Waiting.empty()) R.WaitingAt = position;
  R.Waiting.insert(R.Waiting.end(), buffer, buffer + count);
  R.E.Comm.Status.TranSize = position + count;
  if (R.Waiting.size() >= kWriteBehind) WriteWaiting(R, error);
}

// Asks for the data again from the last good position at once: "*" stops
// a sender that watches for it, and the ZRPOS that follows (see ZRecvFileData)
// tells it where to go back to. What arrives until then is skipped while
// resynchronising, not drained in silence.
void Interrupt(TZRecv& R, int& badCount) {
  R.E.SendByte(ZPAD);
  R.Resyncing = true;
  LoseOne(R, badCount);
}

Clock::time_point ResyncEnd(const TZRecv& R) { return R.ResyncSince + Millis(R.E.PatienceMs()); }

// The subpackets behind a ZDATA header. True when the run ended as the
// sender meant it to (ZCRCE or ZCRCW), so that a header follows.
bool ReceiveRun(TZRecv& R, int& badCount) {
  for (;;) {
    uint16_t count = 0;
    bool bad = false;
    const uint8_t end = ReadSubpacket(R, count, bad);
    if (bad && R.E.Cancelled()) {
      R.Error = true;
      return false;
    }
    if (bad) {
      Interrupt(R, badCount);
      return false;
    }
    if (end == ZFrameCancelled) {
      R.Error = true;
      return false;
    }
    badCount = kBadHeaders;
    ZWriteBlock(R, R.E.Block.data(), count, R.RecvPos, R.Error);
    if (R.Error) return false;
    R.RecvPos += count;
    if (end == ZCRCQ || end == ZCRCW) SendBin(R, ZACK, R.RecvPos);
    if (end == ZCRCE || end == ZCRCW) return true;
  }
}

enum class DataStep { Again, Next, Done };

// While resynchronising, the header hunt ends at the resync wait, or when
// the line has been quiet for a while.
void HuntHeader(TZRecv& R, ZHeader& header, int32_t& value, bool& bad) {
  if (R.Resyncing) {
    R.Z.HuntUntil = ResyncEnd(R);
    R.Z.HuntQuietMs = kResyncQuietMs;
  }
  ZGetHeader(R.Z, header, value, bad);
  R.Z.HuntUntil = Clock::time_point::max();
}

// What the sender had sent before it heard of the damage: a header damaged
// on the way or cut by the sender's start-over, a ZDATA of an earlier run,
// or its ZEOF. Skipped until the line goes quiet or the patience is up.
bool StaleWhileResyncing(TZRecv& R, const ZHeader& header, int32_t value, bool bad) {
  if (!R.Resyncing || Clock::now() >= ResyncEnd(R)) return false;
  // A hunt that ended with nothing more waiting timed out: the line is quiet.
  if (bad) return ZPending(R.Z) && !R.E.Cancelled() && R.E.LineReady();
  return (header[0] == ZDATA || header[0] == ZEOF) && value != R.RecvPos;
}

DataStep OnDataHeader(TZRecv& R, int& badCount) {
  ZHeader header{};
  int32_t value = 0;
  bool bad = false;
  HuntHeader(R, header, value, bad);
  if (StaleWhileResyncing(R, header, value, bad)) return DataStep::Next;
  if (bad && R.E.Cancelled()) {
    R.Error = true;
    return DataStep::Again;
  }
  if (bad) {
    LoseOne(R, badCount);
    ++R.E.Comm.Status.ErrorCount;
    return DataStep::Again;
  }
  switch (header[0]) {
    case ZFILE: {
      // Our ZRPOS went astray; a sender that keeps offering the file
      // instead of sending it counts against the limit.
      uint16_t count = 0;
      ReadSubpacket(R, count, R.Error);
      LoseOne(R, badCount);
      return DataStep::Again;
    }
    case ZDATA:
      if (value != R.RecvPos) {
        LoseOne(R, badCount);
        return DataStep::Again;
      }
      R.Resyncing = false;
      return ReceiveRun(R, badCount) ? DataStep::Next : DataStep::Again;
    case ZEOF:
      return value == R.RecvPos ? DataStep::Done : DataStep::Again;
    case HeaderCancelled:
      R.Error = true;  // the sender gave up
      return DataStep::Again;
    default:
      Interrupt(R, badCount);
      return DataStep::Again;
  }
}

// ZRPOS goes out with a second ZPAD in front of its binary header. A sender
// whose ZFILE crossed our answer to its ZRQINIT (a second ZRINIT) reads
// that ZRINIT as a lost ZFILE and discards input up to the next ZPAD; with
// the single ZPAD of a binary header it would discard the ZRPOS's too, and
// both sides would sit out a 10 s time-out.
void SendRpos(TZRecv& R) {
  R.ResyncSince = Clock::now();
  R.E.SendByte(ZPAD);
  SendBin(R, ZRPOS, R.RecvPos);
}

// From ZRPOS to ZEOF. True when the file is complete.
bool ZRecvFileData(TZRecv& R) {
  int badCount = kBadHeaders;
  R.RecvPos = 0;
  while (Going(R)) {
    SendRpos(R);
    DataStep step = DataStep::Next;
    while (step == DataStep::Next && Going(R)) step = OnDataHeader(R, badCount);
    if (step == DataStep::Done) {
      WriteWaiting(R, R.Error);
      return !R.Error;
    }
  }
  return false;
}

// Looks for the sender's "O" in what it says next: everything waiting when
// the first byte is there, up to a limit, but nothing after the "OO" (the
// host's prompt belongs to the screen). A ZFIN of the sender's own that
// crossed ours comes first (sz repeats its ZFIN when our ZRINIT reaches it
// instead) and its "OO" may follow in the same burst: it must not be lost
// with the header, or the session stays unfinished while the sender has
// gone.
bool HeardOver(TZRecv& R) {
  constexpr int kLookLimit = 1024;
  if (!ZWaitByte(R.Z)) return false;
  uint8_t b[1] = {0};
  for (int looked = 0; looked < kLookLimit && R.E.TakeBytes(b, 1) == 1; ++looked) {
    if (b[0] != 'O') continue;
    if (ZWaitByte(R.Z)) R.E.TakeBytes(b, 1);
    return true;
  }
  return false;
}

// Answers the sender's end with ZFIN and takes its "OO". Ends after its
// passes even when the sender stays silent or the user cancels. True when
// the session ended with the line still there: the sender's "O" came, or
// the passes ran out on a live line. A host that hangs up once it has its
// "OO" does not spoil a file it delivered.
bool ZRecvFinish(TZRecv& R) {
  ZFlushRing(R.Z);
  for (int pass = 0; pass < kTries && R.E.LineReady() && !R.E.Cancelled(); ++pass) {
    SendHex(R, ZFIN, R.RecvPos);
    if (HeardOver(R)) return true;
  }
  return R.E.LineReady();
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// Step 3: headers until a file is announced or the sender ends; ZRecvInit
// is called again only after a time-out or damage.
uint8_t AwaitFile(TZRecv& R) {
  uint8_t result = 0;
  R.Tries = kTries;
  do {
    result = ZRecvInit(R);
    --R.Tries;
  } while (result != ZFILE && result != kSenderDone && result != HeaderCancelled && R.Tries > 0 &&
           R.Error && R.E.LineReady() && !R.E.Cancelled());
  return result;
}

// Step 5: every further file is skipped until the sender ends. One that
// goes on offering is let go after its limit: ours is in, so the session
// then ends as if the sender had.
void AwaitEnd(TZRecv& R) {
  R.Tries = kTries;
  R.Skipping = true;
  R.Until = TKelEngine::Clock::now() + std::chrono::milliseconds(R.E.PatienceMs()) * kSkipPatiences;
  for (int offers = 0; Going(R);) {
    const uint8_t result = ZRecvInit(R);
    if (result == ZFILE && ++offers >= kSkipLimit) break;
    if (result == ZFILE)
      SendHex(R, ZSKIP);
    else
      --R.Tries;
    if (result == kSenderDone || R.Tries <= 0) break;
  }
}

}  // namespace

void ZReceiveFile(TKelEngine& E, std::atomic<uint8_t>& TranResult) {
  TZRecv R(E);
  R.Z.ReadAhead = true;
  R.Z.LastSent = 0;
  E.Check.CheckMode = kCheckCrc16;
  ZFlushRing(R.Z);
  const std::string path = E.Comm.Status.FilePath.get();
  if (!E.CreateForWrite(path)) {
    TranResult = 0;
    return;
  }
  const uint8_t offer = AwaitFile(R);
  if (!R.Error) {
    // A sender that ends after announcing a file has not delivered it.
    if (offer == ZFILE)
      R.Error = !ZRecvFileData(R);
    else if (offer != kSenderDone || R.Offered)
      R.Error = true;
  }
  if (!R.Error) AwaitEnd(R);
  if (E.Cancelled()) R.Error = true;
  bool ended = false;
  if (!R.Error)
    ended = ZRecvFinish(R);
  else
    ZCancel(R.Z);
  const bool good = !R.Error && FileExists(path) && ended;
  TranResult = good ? 1 : 0;
  bool ignored = false;  // the transfer has failed already, or wrote all
  WriteWaiting(R, ignored);
  E.CloseFile();
  // After the sender's "OO" what follows is the host's text (a prompt) and
  // belongs to the screen; after a failure the line is cleared of the rest
  // of the protocol.
  if (!good) ZDrainLine(R.Z);
}
