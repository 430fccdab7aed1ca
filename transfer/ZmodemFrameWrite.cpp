// The sending half of the ZMODEM frame layer: headers, subpackets, escaping,
// the abort sequence and command text.
//
// Each header and each subpacket is assembled in the frame's Outgoing buffer
// and handed to the port in one write: the bytes on the line are the same as
// if they went one by one, but a 1024-byte subpacket costs one system call
// instead of a dozen, and the peer never sees a header torn in two.

#include <algorithm>
#include <thread>

#include "KelComm.h"
#include "Zmodem.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool NeedsEscape(uint8_t b, uint8_t lastSent, bool allControls) {
  if (allControls && (b & 0x60) == 0) return true;
  switch (b & 0x7F) {
    case 0x10:
    case XON:
    case XOFF:
    case ZDLE:
      return true;
    case CR:
      // "@" CR is the escape of some networks' command mode.
      return (lastSent & 0x7F) == 0x40;
    default:
      return false;
  }
}

// Appends b as it goes on the line and remembers what went last.
void PutEscaped(TZFrame& Z, uint8_t b) {
  if (NeedsEscape(b, Z.LastSent, Z.EscapeControls)) {
    Z.Outgoing.push_back(ZDLE);
    b ^= 0x40;
  }
  Z.Outgoing.push_back(b);
  Z.LastSent = b;
}

void PutEscapedRun(TZFrame& Z, const uint8_t* buffer, int length) {
  for (int i = 0; i < length; ++i) PutEscaped(Z, buffer[i]);
}

void PutHexDigits(TZFrame& Z, uint8_t b) {
  Z.Outgoing.push_back(static_cast<uint8_t>(kHexDigits[b >> 4]));
  Z.Outgoing.push_back(static_cast<uint8_t>(kHexDigits[b & 0x0F]));
}

// The check of CheckMode, escaped: CRC-16 high byte first, or the complement
// of the CRC-32 least significant byte first.
void PutCheck(TZFrame& Z) {
  TKelEngine& E = Z.E;
  if (E.CheckMode == kCheckCrc16) {
    const uint32_t crc = E.CheckValue();
    PutEscaped(Z, static_cast<uint8_t>(crc >> 8));
    PutEscaped(Z, static_cast<uint8_t>(crc));
    return;
  }
  const uint32_t crc = ~E.CheckValue();
  for (int shift = 0; shift < 32; shift += 8) PutEscaped(Z, static_cast<uint8_t>(crc >> shift));
}

// Like SendData: dropped while the line is not ready. A port whose output
// queue is smaller than the frame takes it in pieces.
void Flush(TZFrame& Z) {
  if (!Z.Outgoing.empty() && Z.E.LineReady()) {
    const size_t piece = std::max<size_t>(Z.E.Comm.OutQueueSize(), 1);
    for (size_t at = 0; at < Z.Outgoing.size(); at += piece) {
      const size_t n = std::min(piece, Z.Outgoing.size() - at);
      Z.E.Comm.Write(Z.Outgoing.data() + at, static_cast<int>(n));
    }
  }
  Z.Outgoing.clear();
}

}  // namespace

ZHeader ZStoreHeader(uint8_t type, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  return {type, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
}

int32_t ZHeaderValue(const ZHeader& header) {
  const uint32_t v = uint32_t{header[ZP0]} | uint32_t{header[ZP1]} << 8 |
                     uint32_t{header[ZP2]} << 16 | uint32_t{header[ZP3]} << 24;
  return static_cast<int32_t>(v);
}

void ZSendHexHeader(TZFrame& Z, const ZHeader& header) {
  TKelEngine& E = Z.E;
  const uint8_t savedMode = E.CheckMode;
  E.CheckMode = kCheckCrc16;
  Z.Outgoing.clear();
  Z.Outgoing.insert(Z.Outgoing.end(), {ZPAD, ZPAD, ZDLE, ZHEX});
  E.CheckReset();
  E.CheckBlock(header.data(), header.size());
  for (uint8_t b : header) PutHexDigits(Z, b);
  const uint32_t crc = E.CheckValue();
  PutHexDigits(Z, static_cast<uint8_t>(crc >> 8));
  PutHexDigits(Z, static_cast<uint8_t>(crc));
  Z.Outgoing.push_back(CR);
  Z.Outgoing.push_back(0x0A);
  Flush(Z);
  E.CheckMode = savedMode;
}

void ZSendBinHeader(TZFrame& Z, const ZHeader& header) {
  TKelEngine& E = Z.E;
  Z.Outgoing.clear();
  Z.Outgoing.insert(Z.Outgoing.end(), {ZPAD, ZDLE, E.CheckMode == kCheckCrc16 ? ZBIN : ZBIN32});
  E.CheckReset();
  E.CheckBlock(header.data(), header.size());
  PutEscapedRun(Z, header.data(), static_cast<int>(header.size()));
  PutCheck(Z);
  Flush(Z);
}

void ZSendData(TZFrame& Z, const uint8_t* buffer, uint16_t length, uint8_t frameEnd) {
  TKelEngine& E = Z.E;
  Z.Outgoing.clear();
  Z.Outgoing.reserve(2 * size_t{length} + 16);
  E.CheckReset();
  E.CheckBlock(buffer, length);
  PutEscapedRun(Z, buffer, length);
  // The frame end goes unescaped and leaves LastSent alone.
  Z.Outgoing.push_back(ZDLE);
  Z.Outgoing.push_back(frameEnd);
  E.CheckByte(frameEnd);
  PutCheck(Z);
  Flush(Z);
  std::this_thread::yield();
  if (frameEnd == ZCRCW) {
    E.SendByte(XON);
    E.Delay(250);
  }
}

void ZSendEscaped(TZFrame& Z, uint8_t b) {
  Z.Outgoing.clear();
  PutEscaped(Z, b);
  for (uint8_t out : Z.Outgoing) Z.E.SendByte(out);
  Z.Outgoing.clear();
}

void ZSendEscapedBlock(TZFrame& Z, const uint8_t* buffer, int length) {
  Z.Outgoing.clear();
  Z.Outgoing.reserve(2 * static_cast<size_t>(std::max(length, 0)));
  PutEscapedRun(Z, buffer, length);
  Flush(Z);
}

void ZPutHex(TZFrame& Z, uint8_t b) {
  Z.E.SendByte(static_cast<uint8_t>(kHexDigits[b >> 4]));
  Z.E.SendByte(static_cast<uint8_t>(kHexDigits[b & 0x0F]));
}

void ZCancel(TZFrame& Z) {
  ZFlushRing(Z);
  for (int i = 0; i < 8; ++i) {
    Z.E.SendByte(CAN);
    Z.E.Delay(100);
  }
  for (int i = 0; i < 8; ++i) Z.E.SendByte(BS);
}

void SendCommandText(TZFrame& Z, std::string_view text) {
  for (char c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (b == 0xDD) continue;
    if (b == 0xDE)
      Z.E.Delay(2000);
    else
      Z.E.SendByte(b);
  }
}
