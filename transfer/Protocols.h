#pragma once
// The protocol routines the transfer worker runs. Each takes the engine of
// its component and the component's TranResult, which it clears on failure;
// the XMODEM family also takes the working state of its transfer.

#include <atomic>
#include <cstdint>
#include <string>

#include "Engine.h"

// What one XMODEM or YMODEM transfer keeps between its blocks. The worker
// makes a fresh one for each transfer, so nothing carries over to the next.
struct TXState {
  uint8_t GMode = 0;       // YMODEM-G: the receiver asks for streaming
  uint8_t Streaming = 0;   // blocks follow each other without an ACK
  uint8_t XVariant = 0;    // 0 sum and 128 bytes, 1 CRC-16 and 128, 2 CRC-16 and 1024
  int32_t BlockCount = 0;  // bytes of the file in the last block read
  // The byte with which RecvBlock asks for a damaged block again.
  uint8_t AgainByte = NAK;
  // The reply that ended the last SendBlock.
  uint8_t LastReply = 0;
};

void XmodemSend(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult);
void XmodemReceive(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult);
void YmodemSend(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult);
void YmodemReceive(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult);
void ZSendFile(TKelEngine& E, std::atomic<uint8_t>& TranResult);
void ZReceiveFile(TKelEngine& E, std::atomic<uint8_t>& TranResult);
void MLinkSend(TKelEngine& E, std::atomic<uint8_t>& TranResult);
void MLinkReceive(TKelEngine& E, std::atomic<uint8_t>& TranResult);

// Block results.
constexpr int kBlockGood = 0;
constexpr int kBlockEnd = 1;    // EOT
constexpr int kBlockAgain = 2;  // damaged: ask for it again
constexpr int kBlockFatal = 9;

// Puts the first Chunks x 128 bytes of Block on the line as block BlockNo.
void SendFrame(TKelEngine& E, int Chunks, int BlockNo);
// Sends that block and gets it acknowledged: 0, or 9 when it failed. A
// reply equal to alsoAck counts as an acknowledgement too.
int SendBlock(TKelEngine& E, TXState& X, int Chunks, int BlockNo, uint8_t alsoAck = ACK);
// Receives one block into Block: 0 good, 1 EOT, 9 fatal. BlockNo holds the
// expected number on entry and the received one on return; Chunks is set
// from the header byte.
int RecvBlock(TKelEngine& E, TXState& X, int& Chunks, int& BlockNo);
// Fills Block with the YMODEM header of the component's file.
void BuildHeader(TKelEngine& E);
// The file information YMODEM and ZMODEM announce: the name, 0x00, the size
// in decimal, a blank and the date, lower-cased; not yet cut to length.
std::string FileInfoText(TKelEngine& E);
// Reads the next Chunks x 128 bytes of the file into Block, padded with SUB;
// false at the end of the file.
bool NextFileBlock(TKelEngine& E, TXState& X, int Chunks);
// EOT until acknowledged. A cancel from the receiver fails the transfer even
// here: it did not take the file.
void SendEnd(TKelEngine& E, TXState& X, std::atomic<uint8_t>& TranResult);
