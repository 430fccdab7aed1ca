// The ZMODEM sender: each file of the batch announced with ZFILE and streamed
// as 1024-byte subpackets that the receiver does not acknowledge; its ZRPOS
// moves the file back after damage, or forward at the start when it resumes
// a partial file.
//
// Runs on the transfer worker only. The receive ring is read with the frame
// layer's read-ahead off, so the engine's own ring calls see every byte the
// frame layer has not decoded.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "KelComm.h"
#include "Names.h"
#include "Protocols.h"
#include "Zmodem.h"

namespace {

// What a reply read returns when no header settled it.
constexpr int kNoReply = 0;
// ZSendFileData's result for a file the receiver has taken.
constexpr int kFileTaken = 0;

constexpr int kInvitations = 4;
constexpr int kHeadersPerInvitation = 8;
constexpr int kSyncTries = 8;
constexpr int kRposLimit = 10;
// A ZRINIT after ZFILE followed by this much quiet means the receiver lost
// the ZFILE: it is sent again, at most kFileInfoRepeats times.
constexpr int kLostFileInfoQuietMs = 1000;
constexpr int kFileInfoRepeats = 4;
// The file is read this many 128-byte records at a time.
constexpr int kAheadRecords = 128;
// The most line time the stream keeps queued in the device: what the
// receiver has to skip after a damaged subpacket before the resent data
// reaches it.
constexpr int kQueuedAheadMs = 300;
// Where a purge cannot take it back, all of it is skipped: a shorter lead.
constexpr int kUnpurgeableAheadMs = 100;

// A ZRPOS back to where the one before pointed means the first subpacket
// there was damaged again: the line is too noisy for its length. Each such
// repeat halves the subpackets, down to kShortestSubpacket; every
// kLongerAfter bytes streamed with no ZRPOS double them again.
constexpr int kShortestSubpacket = 128;
constexpr int32_t kLongerAfter = 16 * kBlockSize;

// The file read ahead of the subpackets: one system call per many of them,
// and the end of the file known from the reads themselves.
struct TFileAhead {
  std::vector<uint8_t> Data = std::vector<uint8_t>((kAheadRecords + kBlockSize / 128) * 128);
  size_t Pos = 0;
  size_t Len = 0;
  bool Eof = false;  // the last read came short: the file ends at Len
  void Forget() { Pos = Len = 0, Eof = false; }
  bool AtFileEnd() const { return Eof && Pos == Len; }
};

// The working values of one transfer, shared by the routines below.
struct TZSendState {
  explicit TZSendState(TKelEngine& engine) : E(engine), Z(engine) {}
  TKelEngine& E;
  TZFrame Z;
  int32_t SendPos = 0;       // file offset of the next byte to send
  int32_t FileSize = 0;      // as opened: no ZRPOS may point past it
  int32_t FurthestRpos = 0;  // the furthest position a ZRPOS asked for
  bool Error = false;
  bool Declined = false;    // the receiver skipped (ZSKIP) or refused (ZNAK) the file
  bool LastWasEnd = false;  // the last subpacket ended with ZCRCE
  int SubpacketLength = kBlockSize;
  int32_t LastRpos = -1;  // where the last ZRPOS during the data pointed
  int32_t LongerAt = 0;   // the send position that lengthens the subpackets
  TFileAhead Ahead;       // follows the file's position
};

void SendHex(TZSendState& S, uint8_t type, int32_t value = 0) {
  ZSendHexHeader(S.Z, ZStoreHeader(type, value));
}

void SendBin(TZSendState& S, uint8_t type, int32_t value = 0) {
  ZSendBinHeader(S.Z, ZStoreHeader(type, value));
}

// Moves the file to a position the receiver asked for. A position outside
// the file counts as a failed seek: data from there would be nothing the
// file holds.
bool SeekTo(TZSendState& S, int32_t position) {
  bool ok = position >= 0 && position <= S.FileSize;
  S.Ahead.Forget();
  if (ok) S.E.SeekFile(position, ok);
  if (ok) S.SendPos = position;
  return ok;
}

// ---- Invitation -------------------------------------------------------------

int ZWaitReceiverInit(TZSendState& S) {
  int result = kNoReply;
  bool bad = false;
  for (int tries = kHeadersPerInvitation; tries > 0 && result == kNoReply; --tries) {
    ZHeader header{};
    int32_t value = 0;
    ZGetHeader(S.Z, header, value, bad);
    switch (header[0]) {
      case ZRQINIT:
        break;
      case ZRINIT:
        result = ZRINIT;
        S.E.Check.CheckMode = (header[ZF0] & CANFC32) ? kCheckCrc32 : kCheckCrc16;
        // A receiver that asks for it drops control bytes that come plain.
        S.Z.EscapeControls = (header[ZF0] & ESCCTL) != 0;
        break;
      case ZCHALLENGE:
        SendHex(S, ZACK, S.SendPos);
        break;
      case HeaderTimeout:
      case HeaderCancelled:
        result = header[0];
        break;
      case ZCOMMAND:
        SendHex(S, ZRQINIT);
        break;
      default:
        SendHex(S, ZNAK);
    }
    if (bad || !S.E.LineReady()) break;
  }
  S.Error = result != ZRINIT || bad;
  return result;
}

// "rz" CR starts the receiving program on a host that needs it; ZRQINIT
// asks a running one for its ZRINIT.
bool InviteReceiver(TZSendState& S) {
  int result = kNoReply;
  for (int tries = kInvitations; tries > 0; --tries) {
    SendCommandText(S.Z, "rz\r");
    SendHex(S, ZRQINIT);
    result = ZWaitReceiverInit(S);
    if (result == HeaderCancelled || !S.Error || !S.E.LineReady() || S.E.Cancelled()) break;
  }
  return result == ZRINIT && !S.Error;
}

// ---- File information -------------------------------------------------------

void ZMakeFileInfo(TZSendState& S) {
  TKelEngine& E = S.E;
  E.ClearHeader();
  std::string text = FileInfoText(E);
  if (text.size() > kZFileInfoSize) text.resize(kZFileInfoSize);
  // A receiver reads the name up to its 0x00: a name that fills the whole
  // block keeps its last byte as that end.
  if (text.find('\0') == std::string::npos) text.back() = '\0';
  std::copy(text.begin(), text.end(), E.Block.begin());
}

void SendFileInfo(TZSendState& S) {
  SendBin(S, ZFILE, int32_t{ZCRESUM} << 24);
  ZSendData(S.Z, S.E.Block.data(), kZFileInfoSize, ZCRCW);
}

// The complemented check value of the file's first N - 1 bytes, or of the
// whole file when N is 0 (or out of range).
int32_t ZFileCheck(TZSendState& S, int32_t N) {
  TKelEngine& E = S.E;
  E.Check.CheckReset();
  bool ok = false;
  S.Ahead.Forget();
  E.SeekFile(0, ok);
  int64_t left = N > 0 ? int64_t{N} - 1 : int64_t{S.FileSize};
  uint8_t buffer[kBlockSize];
  while (left > 0) {
    const int32_t got = E.ReadRecords(buffer, kBlockSize / 128);
    if (got == 0) break;
    const int64_t take = std::min<int64_t>(got, left);
    E.Check.CheckBlock(buffer, static_cast<size_t>(take));
    left -= take;
  }
  E.SeekFile(0, ok);
  if (E.Check.CheckMode == kCheckCrc16)
    return ~static_cast<int32_t>(static_cast<int16_t>(E.Check.Crc16Value));
  return static_cast<int32_t>(~E.Check.Crc32Value);
}

// ---- Data -------------------------------------------------------------------

// The byte NextByte would take; only while RxPending holds.
uint8_t PeekByte(TKelEngine& E) {
  int32_t tail = E.RxTail();
  if (tail > kRxRingSize - 1) tail = 0;
  return E.RxRingAt(tail);
}

// True when a reply begins in the ring. Bytes that cannot begin one (the XON
// that follows a hex header, noise) are dropped: stopping the stream for
// them would leave both sides waiting for a header that never comes.
bool ReplyWaiting(TKelEngine& E) {
  while (E.RxPending()) {
    const uint8_t b = PeekByte(E);
    if (b == ZPAD || b == ZDLE) return true;
    E.NextByte();
  }
  return false;
}

// The receiver's reply during or after the data: ZRINIT, ZACK, ZSKIP, ZRPOS
// (the file already moved) or HeaderCancelled; kNoReply with Error set
// otherwise. A header that timed out or arrived damaged costs two tries: the
// receiver repeats a reply it got no answer to.
int ZGetSyncReply(TZSendState& S) {
  if (S.Error) return kNoReply;
  for (int tries = kSyncTries; tries > 0 && S.E.LineReady();) {
    ZHeader header{};
    int32_t value = 0;
    bool bad = false;
    ZGetHeader(S.Z, header, value, bad);
    tries -= bad ? 2 : 1;
    if (bad && !S.E.Cancelled()) continue;
    switch (header[0]) {
      case ZRPOS:
        if (SeekTo(S, value)) return ZRPOS;
        SendHex(S, ZFERR);
        S.Error = true;
        return kNoReply;
      case ZRINIT:
      case ZACK:
      case ZSKIP:
      case HeaderCancelled:
        return header[0];
      case ZABORT:
      case ZFIN:
      case HeaderTimeout:
        S.Error = true;
        return kNoReply;
      default:
        SendBin(S, ZNAK);
        ++S.E.Comm.Status.ErrorCount;
    }
  }
  S.Error = true;
  return kNoReply;
}

// The reply that interrupted the stream or followed ZEOF. Returns ZRPOS or
// ZACK to go on, ZRINIT when the receiver has the file, ZSKIP when it skipped
// it; anything else sets Error. Ten ZRPOS in a row give up, unless one of
// them reached further into the file than any before: on a noisy line every
// reply may be a ZRPOS while the file still makes progress.
int AwaitReply(TZSendState& S, int& rposLeft) {
  const int reply = ZGetSyncReply(S);
  if (reply == ZRPOS) {
    // What still waits in the device is data the receiver will skip.
    S.E.Comm.PurgeOutput();
    if (S.SendPos == S.LastRpos)
      S.SubpacketLength = std::max(kShortestSubpacket, S.SubpacketLength / 2);
    S.LastRpos = S.SendPos;
    S.LongerAt = S.SendPos + kLongerAfter;
    if (S.SendPos > S.FurthestRpos) {
      S.FurthestRpos = S.SendPos;
      rposLeft = kRposLimit;
    }
    if (--rposLeft == 0) S.Error = true;
    if (!ZFlushRingKeepingCancel(S.Z)) S.Error = true;
  } else if (reply != HeaderCancelled) {
    rposLeft = kRposLimit;
  }
  if (reply != ZRPOS && reply != ZACK && reply != ZRINIT && reply != ZSKIP) S.Error = true;
  return reply;
}

// The next subpacket's bytes, up to its length, from the read-ahead; count
// is their number. A refill comes before the last 1024 bytes are handed out,
// so a subpacket that ends the file is known as such.
const uint8_t* NextBlock(TZSendState& S, int& count) {
  TFileAhead& A = S.Ahead;
  if (A.Len - A.Pos <= kBlockSize && !A.Eof) {
    std::copy(A.Data.begin() + static_cast<ptrdiff_t>(A.Pos),
              A.Data.begin() + static_cast<ptrdiff_t>(A.Len), A.Data.begin());
    A.Len -= A.Pos;
    A.Pos = 0;
    const int records = static_cast<int>((A.Data.size() - A.Len) / 128);
    const int32_t got = S.E.ReadRecords(A.Data.data() + A.Len, records);
    A.Len += static_cast<size_t>(got);
    A.Eof = got < records * 128;
  }
  if (S.SendPos >= S.LongerAt && S.SubpacketLength < kBlockSize) {
    S.SubpacketLength *= 2;
    S.LongerAt = S.SendPos + kLongerAfter;
  }
  count = static_cast<int>(std::min<size_t>(static_cast<size_t>(S.SubpacketLength), A.Len - A.Pos));
  const uint8_t* block = A.Data.data() + A.Pos;
  A.Pos += static_cast<size_t>(count);
  return block;
}

// Subpackets from the send position on until the file ends (ZCRCE) or a
// reply interrupts the stream (the last one then ended with ZCRCG).
void StreamSubpackets(TZSendState& S) {
  TKelEngine& E = S.E;
  uint8_t frameEnd = ZCRCG;
  S.Z.Coalesce = true;
  do {
    int count = 0;
    const uint8_t* block = NextBlock(S, count);
    E.Comm.Status.TranSize += count;  // a short last subpacket counts what it carries
    S.SendPos += count;
    frameEnd = S.Ahead.AtFileEnd() ? ZCRCE : ZCRCG;
    ZSendData(S.Z, block, static_cast<uint16_t>(count), frameEnd);
  } while (frameEnd == ZCRCG && !ReplyWaiting(E) && E.LineReady() && !E.Cancelled());
  S.Z.Coalesce = false;
  // A reply in the middle of the stream is a ZRPOS, or a receiver that
  // wants no more: what still waits to be written would only be skipped.
  if (frameEnd == ZCRCG && ReplyWaiting(E))
    S.Z.Outgoing.clear();
  else
    ZFlushOutput(S.Z);
  S.LastWasEnd = frameEnd == ZCRCE;
}

// Streams the file from the send position; the receiver's ZRPOS moves it.
// kFileTaken once the receiver's ZRINIT follows ZEOF, ZSKIP when it skipped
// the file; Error set on failure, the user's cancel and the loss of the line.
int ZSendFileData(TZSendState& S) {
  TKelEngine& E = S.E;
  // A receiver that cancels right after its ZRPOS must still be heard.
  if (!ZFlushRingKeepingCancel(S.Z)) S.Error = true;
  int rposLeft = kRposLimit;
  S.FurthestRpos = S.SendPos;
  // A file of the batch before says nothing of this one's positions.
  S.LastRpos = -1;
  S.LongerAt = S.SendPos + kLongerAfter;
  S.Z.AheadLimit = E.LineBytesIn(E.Comm.PurgeReachesQueue() ? kQueuedAheadMs : kUnpurgeableAheadMs);
  S.Z.Interrupted = ReplyWaiting;
  S.LastWasEnd = false;
  while (!S.Error) {
    int reply = kNoReply;
    if (S.LastWasEnd || ReplyWaiting(E)) {
      reply = AwaitReply(S, rposLeft);
      if (reply == ZRINIT) return kFileTaken;
      if (reply == ZSKIP) return ZSKIP;
      if (S.Error) break;
    }
    if (reply == ZRPOS)
      ZSendBinHeaderAfterCut(S.Z, ZStoreHeader(ZDATA, S.SendPos));
    else
      SendBin(S, ZDATA, S.SendPos);
    StreamSubpackets(S);
    if (S.LastWasEnd) SendBin(S, ZEOF, S.SendPos);
    if (!E.LineReady() || E.Cancelled()) S.Error = true;
  }
  return kNoReply;
}

// ---- Answers to ZFILE -------------------------------------------------------

// After a ZRINIT: true when the ZFILE was sent again because the receiver
// went quiet (it lost it); false when more is on its way (a repeated ZRINIT).
bool RepeatFileInfoIfLost(TZSendState& S, int& repeatsLeft) {
  if (S.E.WaitArrival(kLostFileInfoQuietMs) || repeatsLeft == 0) return false;
  --repeatsLeft;
  SendFileInfo(S);
  return true;
}

void ZAfterFileInfo(TZSendState& S) {
  TKelEngine& E = S.E;
  int repeatsLeft = kFileInfoRepeats;
  bool goOn = !S.Error;
  while (goOn) {
    ZHeader header{};
    int32_t value = 0;
    ZGetHeader(S.Z, header, value, S.Error);
    switch (header[0]) {
      case ZSKIP:
        S.Declined = true;
        return;
      case ZABORT:
      case ZFIN:
      case HeaderTimeout:
      case HeaderCancelled:
        S.Error = true;
        break;
      case ZRPOS:
        if (SeekTo(S, value)) {
          S.Declined = ZSendFileData(S) == ZSKIP;
          return;
        }
        S.Error = true;
        SendHex(S, ZFERR);
        break;
      case ZCRC:
        SendHex(S, ZCRC, ZFileCheck(S, value));
        break;
      case ZRINIT:
        RepeatFileInfoIfLost(S, repeatsLeft);
        break;
      case ZNAK:
        S.Declined = true;
        break;
    }
    goOn =
        (header[0] == ZRINIT || header[0] == ZCRC) && !S.Error && E.LineReady() && !E.Cancelled();
  }
}

// ---- The end ----------------------------------------------------------------

bool ZSendFinish(TZSendState& S) {
  S.E.Check.CheckMode = kCheckCrc16;
  SendBin(S, ZFIN);
  ZHeader header{};
  int32_t value = 0;
  bool bad = false;
  ZGetHeader(S.Z, header, value, bad);
  return header[0] == ZFIN && !bad;
}

// A cancelled transfer on a dead line gives the line a while to come back.
void WaitForLineAfterCancel(TKelEngine& E) { E.WaitForLine(E.PatienceMs()); }

// Invitation (for the batch's first file; the receiver's ZRINIT after a file
// asks for the next), ZFILE and the data; false when the transfer failed,
// the receiver's ZSKIP or ZNAK included: it did not take the file.
bool SendOneFile(TZSendState& S, bool invite) {
  if (invite && !InviteReceiver(S)) return false;
  S.Error = S.Declined = false;
  S.SendPos = 0;
  S.Ahead.Forget();
  ZMakeFileInfo(S);
  SendFileInfo(S);
  ZAfterFileInfo(S);
  if (S.Error) ZCancel(S.Z);
  return !S.Error && !S.Declined;
}

// The file that Status names; a file that cannot be opened cancels the
// session.
bool SendStatusFile(TZSendState& S, bool invite) {
  TKelEngine& E = S.E;
  const std::string path = E.Comm.Status.FilePath.get();
  if (!E.OpenForRead(path)) {
    ZCancel(S.Z);
    E.FlushRing();
    E.Delay(1000);
    return false;
  }
  S.FileSize = FileSizeOf(path);
  const bool good = SendOneFile(S, invite);
  E.CloseFile();
  return good;
}

}  // namespace

void ZSendFile(TKelEngine& E, std::atomic<uint8_t>& TranResult) {
  TZSendState S(E);
  E.FlushRing();
  E.Check.CheckMode = kCheckCrc16;
  bool good = SendStatusFile(S, true);
  while (good && E.Comm.NextUpload()) good = SendStatusFile(S, false);
  WaitForLineAfterCancel(E);
  // A receiver that declined the file still gets the end exchange.
  bool finished = false;
  if (good || S.Declined) {
    finished = ZSendFinish(S);
    SendCommandText(S.Z, "OO");
  }
  TranResult = good && finished ? 1 : 0;
  // After "OO" the receiver has nothing more to say, and what the host
  // prints next (its prompt) belongs on the screen, not in the ring. Only a
  // transfer that ended without that exchange waits for the line to settle.
  if (!finished) E.Delay(1000);
}
