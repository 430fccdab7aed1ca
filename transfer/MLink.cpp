// M-LINK, sending side: one file announced in a one-line text header, then
// its raw bytes. There are no blocks and no check values: the byte count in
// the header is all that frames the data, and the link is trusted for
// integrity. The receiver's single letters drive it: "M" invites the header
// and then accepts it, "A" refuses or aborts, "E" confirms the data.

#include <algorithm>
#include <cstdio>
#include <string>

#include "KelComm.h"
#include "Protocols.h"

namespace {

constexpr uint8_t kInvite = 'M';  // also the acceptance of the header
constexpr uint8_t kAbort = 'A';
constexpr uint8_t kDone = 'E';

constexpr int kGood = 0;
constexpr int kNoFile = 8;
constexpr int kFailed = 9;

constexpr int kRecordsPerRead = 8;  // 1024 bytes per file read
constexpr int kPieceSize = 128;     // the most handed to the line at once
constexpr int kPiecesPerRead = kBlockSize / kPieceSize;
constexpr int kMaxAttempt = 10;  // attempts go on while the counter is at most this
constexpr int kSettleMs = 1000;

std::string HeaderDate(const std::string& path) {
  std::tm t{};
  if (!LocalModTime(path, t)) return "0000/00/00 00:00:00";
  char text[64];
  std::snprintf(text, sizeof text, "%.4d/%.2d/%.2d %.2d:%.2d:%.2d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

// The one-line header: name, size and local modification time, then CR.
// Returns the size it announced, which is what the data must then hold.
int32_t MLinkSendHeader(TKelEngine& E) {
  const std::string path = E.Comm.Status.FilePath.get();
  const int32_t size = FileSizeOf(path);
  std::string header = E.Comm.Status.SendName.get();
  header += ' ';
  header += std::to_string(size);
  header += ' ';
  header += HeaderDate(path);
  header += static_cast<char>(CR);
  E.SendData(reinterpret_cast<const uint8_t*>(header.data()), static_cast<int>(header.size()));
  return size;
}

// Sends what the last file read put into Block, in pieces of at most 128
// bytes, never more than the announced size still allows.
void SendPieces(TKelEngine& E, int64_t& remaining) {
  int offset = 0;
  for (int piece = 0; piece < kPiecesPerRead && remaining > 0; ++piece) {
    const int length = static_cast<int>(std::min<int64_t>(kPieceSize, remaining));
    E.SendData(E.Block.data() + offset, length);
    E.Comm.Status.TranSize += length;
    remaining -= length;
    offset += length;
  }
}

// The data after the receiver's acceptance, with the abort check after each
// file read but the last. A file that has shrunk since the header fails the attempt
// rather than pad the stream with stale bytes.
int SendFileData(TKelEngine& E, int64_t remaining) {
  int error = kGood;
  while (E.LineReady() && remaining > 0 && error == kGood && !E.Cancelled()) {
    const int32_t got = E.ReadRecords(E.Block.data(), kRecordsPerRead);
    if (got < std::min<int64_t>(remaining, kBlockSize)) return kFailed;
    SendPieces(E, remaining);
    // After the last piece the receiver's next byte is its verdict, which
    // the wait for "E" reads: taken here, an early "E" would be lost.
    if (remaining > 0 && E.RxPending()) {
      const uint8_t b = E.NextByte();
      if (b == kAbort || b == ESC) error = kFailed;
    }
    if (E.Cancelled()) error = kFailed;
  }
  return remaining > 0 ? kFailed : error;
}

// One attempt from the wait for the invitation to the receiver's "E".
// Success needs the "E": a transfer cut short by the line or a cancel has
// not delivered the file.
int Attempt(TKelEngine& E) {
  const std::string path = E.Comm.Status.FilePath.get();
  // A file that is gone may come back: the attempt is repeated like any
  // other failure.
  if (!E.OpenForRead(path)) return kNoFile;
  uint8_t b = 0;
  E.WaitReply(b, 60);
  int error = (!E.LineReady() || b != kInvite || E.Cancelled()) ? kFailed : kGood;
  if (error == kGood) {
    const int32_t size = MLinkSendHeader(E);
    E.WaitReply(b, 10);
    error = b == kInvite ? SendFileData(E, size) : kFailed;
  }
  if (error == kGood) {
    if (E.LineReady() && !E.Cancelled()) {
      E.WaitReply(b, 10);
      if (b != kDone || E.Cancelled()) error = kFailed;
    } else {
      error = kFailed;
    }
  }
  E.CloseFile();
  return error;
}

}  // namespace

void MLinkSend(TKelEngine& E, std::atomic<uint8_t>& TranResult) {
  TranResult = 1;
  int attempts = 0;
  int error = kGood;
  do {
    ++attempts;
    error = Attempt(E);
    TranResult = error == kGood;
    if (error != kGood) {
      E.Delay(E.PatienceMs());
      if (E.LineReady()) E.SendByte(CR);
      E.Delay(kSettleMs);
    }
  } while (attempts <= kMaxAttempt && !E.Cancelled() && error != kGood && E.LineReady());
  E.SendByte(CR);
  uint8_t b = 0;
  E.WaitReply(b, 60);
  E.Delay(kSettleMs);
}
