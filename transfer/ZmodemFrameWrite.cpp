// The sending half of the ZMODEM frame layer: headers, subpackets, escaping,
// the abort sequence and command text.
//
// Each header and each subpacket is assembled in the frame's Outgoing buffer
// and handed to the port in one write: the bytes on the line are the same as
// if they went one by one, but a 1024-byte subpacket costs one system call
// instead of a dozen, and the peer never sees a header torn in two.

#include <algorithm>
#include <array>

#include "KelComm.h"
#include "Zmodem.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// How each byte goes on the line: as it is, escaped, or (CR) escaped only
// after "@", the escape of some networks' command mode.
enum EscapeRule : uint8_t { kPlain, kEscape, kEscapeAfterAt };

constexpr std::array<uint8_t, 256> MakeEscapeRules(bool allControls) {
  std::array<uint8_t, 256> rules{};
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned low = b & 0x7F;
    if ((allControls && (b & 0x60) == 0) || low == 0x10 || low == XON || low == XOFF || low == ZDLE)
      rules[b] = kEscape;
    else if (low == CR)
      rules[b] = kEscapeAfterAt;
  }
  return rules;
}

constexpr std::array<uint8_t, 256> kRules = MakeEscapeRules(false);
constexpr std::array<uint8_t, 256> kRulesAllControls = MakeEscapeRules(true);

// CRC-32 tables for eight bytes at a time: table k gives the check of a byte
// followed by k zero bytes.
using Crc32Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Crc32Tables MakeCrc32Tables() {
  Crc32Tables t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t crc = n;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    t[0][n] = crc;
  }
  for (int k = 1; k < 8; ++k)
    for (uint32_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
  return t;
}

constexpr Crc32Tables kCrc32 = MakeCrc32Tables();

uint32_t LoadLittle32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t Crc32Run(uint32_t crc, const uint8_t* p, size_t n) {
  for (; n >= 8; p += 8, n -= 8) {
    const uint32_t a = crc ^ LoadLittle32(p);
    const uint32_t b = LoadLittle32(p + 4);
    crc = kCrc32[7][a & 0xFF] ^ kCrc32[6][(a >> 8) & 0xFF] ^ kCrc32[5][(a >> 16) & 0xFF] ^
          kCrc32[4][a >> 24] ^ kCrc32[3][b & 0xFF] ^ kCrc32[2][(b >> 8) & 0xFF] ^
          kCrc32[1][(b >> 16) & 0xFF] ^ kCrc32[0][b >> 24];
  }
  for (; n > 0; ++p, --n) crc = kCrc32[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint16_t Crc16Run(uint16_t crc, const uint8_t* p, size_t n) {
  for (; n > 0; ++p, --n) crc = static_cast<uint16_t>((crc << 8) ^ Crc16Table[(crc >> 8) ^ *p]);
  return crc;
}

// Appends a run as it goes on the line and remembers what went last.
void PutEscapedRun(TZFrame& Z, const uint8_t* buffer, int length) {
  const std::array<uint8_t, 256>& rules = Z.EscapeControls ? kRulesAllControls : kRules;
  const size_t start = Z.Outgoing.size();
  Z.Outgoing.resize(start + 2 * static_cast<size_t>(std::max(length, 0)));
  uint8_t* out = Z.Outgoing.data() + start;
  uint8_t last = Z.LastSent;
  for (int i = 0; i < length; ++i) {
    uint8_t b = buffer[i];
    const uint8_t rule = rules[b];
    if (rule == kEscape || (rule == kEscapeAfterAt && (last & 0x7F) == 0x40)) {
      *out++ = ZDLE;
      b ^= 0x40;
    }
    *out++ = b;
    last = b;
  }
  Z.LastSent = last;
  Z.Outgoing.resize(static_cast<size_t>(out - Z.Outgoing.data()));
}

void PutEscaped(TZFrame& Z, uint8_t b) { PutEscapedRun(Z, &b, 1); }

void PutHexDigits(TZFrame& Z, uint8_t b) {
  Z.Outgoing.push_back(static_cast<uint8_t>(kHexDigits[b >> 4]));
  Z.Outgoing.push_back(static_cast<uint8_t>(kHexDigits[b & 0x0F]));
}

// The check of CheckMode, escaped: CRC-16 high byte first, or the complement
// of the CRC-32 least significant byte first.
void PutCheck(TZFrame& Z) {
  TKelEngine& E = Z.E;
  if (E.Check.CheckMode == kCheckCrc16) {
    const uint32_t crc = E.Check.CheckValue();
    PutEscaped(Z, static_cast<uint8_t>(crc >> 8));
    PutEscaped(Z, static_cast<uint8_t>(crc));
    return;
  }
  const uint32_t crc = ~E.Check.CheckValue();
  for (int shift = 0; shift < 32; shift += 8) PutEscaped(Z, static_cast<uint8_t>(crc >> shift));
}

// Like SendData: dropped while the line is not ready. A port whose output
// queue is smaller than the frame takes it in pieces.
// The most one port write takes: the port's queue, or less under AheadLimit.
size_t WriteLimit(const TZFrame& Z) {
  const size_t queue = Z.E.Comm.OutQueueSize();
  return std::max<size_t>(Z.AheadLimit > 0 ? std::min(Z.AheadLimit, queue) : queue, 1);
}

// A subpacket that a reply may interrupt goes in pieces this small: a write
// into a full device lasts about a piece's line time.
constexpr size_t kInterruptiblePiece = 256;

void Flush(TZFrame& Z, bool interruptible = false) {
  if (!Z.Outgoing.empty() && Z.E.LineReady()) {
    const bool pieces = interruptible && Z.Interrupted != nullptr;
    const size_t piece = pieces ? std::min(kInterruptiblePiece, WriteLimit(Z)) : WriteLimit(Z);
    for (size_t at = 0; at < Z.Outgoing.size(); at += piece) {
      if (pieces && at > 0 && Z.Interrupted(Z.E)) break;
      const size_t n = std::min(piece, Z.Outgoing.size() - at);
      Z.E.Comm.WriteWithin(Z.Outgoing.data() + at, static_cast<int>(n), WriteLimit(Z));
    }
  }
  Z.Outgoing.clear();
}

// A coalesced stream waits while the longest subpacket could still join it
// in one port write. Under AheadLimit each subpacket goes on its own: a write
// that waits for room then ends within one subpacket's line time, and the
// stream hears a reply that soon.
bool RoomForAnother(TZFrame& Z) {
  constexpr size_t kLongest = 2 * kZMaxData + 16;
  if (Z.AheadLimit > 0) return false;
  return Z.Outgoing.size() + kLongest <= WriteLimit(Z);
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
  const uint8_t savedMode = E.Check.CheckMode;
  E.Check.CheckMode = kCheckCrc16;
  Z.Outgoing.insert(Z.Outgoing.end(), {ZPAD, ZPAD, ZDLE, ZHEX});
  E.Check.CheckReset();
  E.Check.CheckBlock(header.data(), header.size());
  for (uint8_t b : header) PutHexDigits(Z, b);
  const uint32_t crc = E.Check.CheckValue();
  PutHexDigits(Z, static_cast<uint8_t>(crc >> 8));
  PutHexDigits(Z, static_cast<uint8_t>(crc));
  Z.Outgoing.push_back(CR);
  Z.Outgoing.push_back(0x0A);
  Flush(Z);
  E.Check.CheckMode = savedMode;
}

void ZSendBinHeader(TZFrame& Z, const ZHeader& header) {
  TKelEngine& E = Z.E;
  Z.Outgoing.insert(Z.Outgoing.end(),
                    {ZPAD, ZDLE, E.Check.CheckMode == kCheckCrc16 ? ZBIN : ZBIN32});
  E.Check.CheckReset();
  E.Check.CheckBlock(header.data(), header.size());
  PutEscapedRun(Z, header.data(), static_cast<int>(header.size()));
  PutCheck(Z);
  Flush(Z);
}

void ZSendBinHeaderAfterCut(TZFrame& Z, const ZHeader& header) {
  Z.Outgoing.push_back(ZPAD);
  ZSendBinHeader(Z, header);
}

// Headers and subpackets join what a coalesced stream left waiting; the
// byte-wise sends below write it out first.
void ZSendData(TZFrame& Z, const uint8_t* buffer, uint16_t length, uint8_t frameEnd) {
  TKelEngine& E = Z.E;
  Z.Outgoing.reserve(Z.Outgoing.size() + 2 * size_t{length} + 16);
  E.Check.CheckReset();
  ZCheckRun(E, buffer, length);
  PutEscapedRun(Z, buffer, length);
  // The frame end goes unescaped and leaves LastSent alone.
  Z.Outgoing.push_back(ZDLE);
  Z.Outgoing.push_back(frameEnd);
  E.Check.CheckByte(frameEnd);
  PutCheck(Z);
  if (Z.Coalesce && frameEnd == ZCRCG && RoomForAnother(Z)) return;
  Flush(Z, Z.Coalesce && frameEnd == ZCRCG);
  if (frameEnd == ZCRCW) {
    E.SendByte(XON);
    E.Delay(250);
  }
}

void ZSendEscaped(TZFrame& Z, uint8_t b) {
  Flush(Z);
  PutEscaped(Z, b);
  for (uint8_t out : Z.Outgoing) Z.E.SendByte(out);
  Z.Outgoing.clear();
}

void ZSendEscapedBlock(TZFrame& Z, const uint8_t* buffer, int length) {
  PutEscapedRun(Z, buffer, length);
  Flush(Z);
}

void ZFlushOutput(TZFrame& Z) { Flush(Z); }

void ZCheckRun(TKelEngine& E, const uint8_t* buffer, size_t length) {
  if (E.Check.CheckMode == kCheckCrc32)
    E.Check.Crc32Value = Crc32Run(E.Check.Crc32Value, buffer, length);
  else if (E.Check.CheckMode == kCheckCrc16)
    E.Check.Crc16Value = Crc16Run(E.Check.Crc16Value, buffer, length);
  else
    E.Check.CheckBlock(buffer, length);
}

void ZPutHex(TZFrame& Z, uint8_t b) {
  Flush(Z);
  Z.E.SendByte(static_cast<uint8_t>(kHexDigits[b >> 4]));
  Z.E.SendByte(static_cast<uint8_t>(kHexDigits[b & 0x0F]));
}

void ZCancel(TZFrame& Z) {
  Flush(Z);
  ZFlushRing(Z);
  for (int i = 0; i < 8; ++i) {
    Z.E.SendByte(CAN);
    Z.E.Delay(100);
  }
  for (int i = 0; i < 8; ++i) Z.E.SendByte(BS);
}

void SendCommandText(TZFrame& Z, std::string_view text) {
  Flush(Z);
  for (char c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (b == 0xDD) continue;
    if (b == 0xDE)
      Z.E.Delay(2000);
    else
      Z.E.SendByte(b);
  }
}
