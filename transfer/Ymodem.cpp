// YMODEM and its streaming form YMODEM-G: one file per transfer, announced
// in a header block (number 0) with its name, size and date.

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
int SendHeader(TKelEngine& E, uint8_t& start) {
  BuildHeader(E);
  const uint8_t streaming = E.Streaming;
  E.Streaming = 0;
  const int result = SendBlock(E, 1, 0, streaming ? uint8_t{'G'} : ACK);
  E.Streaming = streaming;
  if (result != kBlockGood) return result;
  if (E.LastReply == ACK)
    E.WaitReply(start, 10);
  else
    start = E.LastReply;
  return result;
}

// Closes the batch: a receiver that asks for the next file within 10 s gets
// an empty header. One that doesn't ask is no failure.
void SendBatchEnd(TKelEngine& E) {
  uint8_t start = 0;
  E.WaitReply(start, 1);
  if (start != 'C' && start != 'G') return;
  E.ClearHeader();
  E.Streaming = 0;
  SendBlock(E, 1, 0, ACK, 1);
}

// The header and the data blocks; kBlockEnd when the whole file went out.
int SendBlocks(TKelEngine& E, uint8_t& start) {
  int result = SendHeader(E, start);
  for (int blockNo = 1; result == kBlockGood;) {
    if (start == CAN || !E.LineReady() || E.Cancelled()) break;
    if (!NextFileBlock(E, 8)) return kBlockEnd;
    result = SendBlock(E, 8, blockNo);
    if (result == kBlockGood) ++blockNo;
  }
  return result == kBlockGood ? kBlockFatal : result;
}

}  // namespace

void YmodemSend(TKelEngine& E, std::atomic<uint8_t>& TranResult) {
  TranResult = 1;
  E.CheckMode = kCheckCrc16;
  E.Streaming = E.GMode;
  E.LastReply = 0;
  if (!E.OpenForRead(E.Comm.Status.FilePath.get())) {
    if (E.LineReady()) SendCancel(E);
    E.Delay(1000);
    TranResult = 0;
    E.Delay(1000);
    return;
  }
  uint8_t start = 0;
  if (E.WaitReply(start, 60) == 0) start = CAN;
  int result = kBlockFatal;
  if (start == 'G' || start == 'C') {
    E.Streaming = start == 'G';
    result = SendBlocks(E, start);
  }
  TranResult = result == kBlockEnd;
  if (TranResult) SendEnd(E, TranResult);
  E.CloseFile();
  if (TranResult && E.LastReply == ACK) SendBatchEnd(E);
  const bool refused = start == CAN || E.LastReply == CAN;
  if (E.LineReady() && !refused && !TranResult) SendCancel(E);
  E.Delay(1000);
}
