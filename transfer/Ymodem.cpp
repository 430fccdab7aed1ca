// YMODEM and its streaming form YMODEM-G: each file of the batch announced
// in a header block (number 0) with its name, size and date; an empty
// header ends the batch.

#include <cstring>

#include "KelComm.h"
#include "Names.h"
#include "Protocols.h"

namespace {

constexpr size_t kHeaderTextMax = 80;

void SendCancel(TKelEngine& E) { E.SendData(CancelSeq.data(), static_cast<int>(CancelSeq.size())); }

}  // namespace

std::string FileInfoText(TKelEngine& E) {
  const std::string path = E.Comm.Status.FilePath.get();
  std::string text = E.Comm.Status.SendName.get();
  text += '\0';
  text += std::to_string(FileSizeOf(path));
  text += ' ';
  std::tm local{};
  if (LocalModTime(path, local)) text += UnixDateText(local);
  LowerSingleByteLetters(text);
  return text;
}

void BuildHeader(TKelEngine& E) {
  E.ClearHeader();
  std::string text = FileInfoText(E);
  if (text.size() > kHeaderTextMax) text.resize(kHeaderTextMax);
  std::memcpy(E.Block.data(), text.data(), text.size());
}

namespace {

// The header block; its acknowledgement is followed by the receiver's next
// start byte. A streaming receiver may answer with that start byte alone.
int SendHeader(TKelEngine& E, TXState& X, uint8_t& start) {
  BuildHeader(E);
  const uint8_t streaming = X.Streaming;
  X.Streaming = 0;
  const int result = SendBlock(E, X, 1, 0, streaming ? uint8_t{'G'} : ACK);
  X.Streaming = streaming;
  if (result != kBlockGood) return result;
  if (X.LastReply == ACK)
    E.WaitReply(start, 10);
  else
    start = X.LastReply;
  return result;
}

// Closes the batch: a receiver that asks for the next file gets an empty
// header. The file is delivered already, so nothing the receiver does here
// is a failure, and the whole exchange is over within a third of the
// patience (3 s): a streaming receiver need not acknowledge the empty header
// and is not waited for; any other is sent it again only on a NAK.
void SendBatchEnd(TKelEngine& E) {
  const auto until = TKelEngine::Clock::now() + std::chrono::milliseconds(E.PatienceMs() / 3);
  uint8_t reply = 0;
  E.WaitReplyUntil(reply, until);
  if (reply != 'C' && reply != 'G') return;
  const bool streaming = reply == 'G';
  E.ClearHeader();
  do {
    SendFrame(E, 1, 0);
    if (!streaming) E.WaitReplyUntil(reply, until);
  } while (!streaming && reply == NAK && TKelEngine::Clock::now() < until);
}

// The header and the data blocks; kBlockEnd when the whole file went out.
int SendBlocks(TKelEngine& E, TXState& X, uint8_t& start) {
  int result = SendHeader(E, X, start);
  for (int blockNo = 1; result == kBlockGood;) {
    if (start == CAN || !E.LineReady() || E.Cancelled()) break;
    if (!NextFileBlock(E, X, 8)) return kBlockEnd;
    result = SendBlock(E, X, 8, blockNo);
    if (result == kBlockGood) ++blockNo;
  }
  return result == kBlockGood ? kBlockFatal : result;
}

// One file of the batch, from the receiver's start byte to its EOT's
// acknowledgement; the first waits for the receiver longer than the others,
// whose start byte follows that acknowledgement at once.
void SendStatusFile(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult, uint8_t& start,
                    int startWait) {
  if (E.WaitReply(start, startWait) == 0) start = CAN;
  int result = kBlockFatal;
  if (start == 'G' || start == 'C') {
    X.Streaming = start == 'G';
    result = SendBlocks(E, X, start);
  }
  TranResult = result == kBlockEnd;
  if (TranResult) SendEnd(E, X, TranResult);
  E.CloseFile();
}

}  // namespace

void YmodemSend(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult) {
  TranResult = 1;
  E.Check.CheckMode = kCheckCrc16;
  X.Streaming = X.GMode;
  uint8_t start = 0;
  for (int startWait = 60;; startWait = 10) {
    if (!E.OpenForRead(E.Comm.Status.FilePath.get())) {
      if (E.LineReady()) SendCancel(E);
      E.Delay(1000);
      TranResult = 0;
      E.Delay(1000);
      return;
    }
    SendStatusFile(E, X, TranResult, start, startWait);
    if (!TranResult || X.LastReply != ACK || !E.Comm.NextUpload()) break;
  }
  if (TranResult && X.LastReply == ACK) SendBatchEnd(E);
  const bool refused = start == CAN || X.LastReply == CAN;
  if (E.LineReady() && !refused && !TranResult) SendCancel(E);
  E.Delay(1000);
}
