#pragma once
// The ZMODEM frame layer that the receiving and the sending side share: the
// 5-byte headers in their hex and binary forms, the data subpackets, the
// ZDLE escaping, and the abort sequence.
//
// State. Everything one transfer keeps between frames lives in a TZFrame
// that the protocol routine creates on its stack and passes by reference to
// every operation here; the check state (CheckMode and its registers), the
// block buffer and the receive ring are the engine's. Nothing here is static,
// so two components can run transfers at once.
//
// Threading. Only the transfer worker runs this layer. Bytes come in through
// the engine's ring and leave through its SendByte and the component's
// Write.
//
// Reading ahead. A TZFrame may take received bytes out of the ring in bulk
// (ReadAhead, which the receiver switches on for speed). Bytes taken that way
// wait in the frame, not in the ring: a routine that uses ReadAhead tests for
// waiting bytes with ZPending and discards them with ZFlushRing and
// ZDrainLine, never with the engine's RxPending, FlushRing or DrainLine.
// With ReadAhead off (the default) the layer takes exactly the bytes it
// decodes, and the engine's own calls are as good as these.

#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include "Engine.h"

// ---- Frame types ----
constexpr uint8_t ZRQINIT = 0;
constexpr uint8_t ZRINIT = 1;
constexpr uint8_t ZSINIT = 2;
constexpr uint8_t ZACK = 3;
constexpr uint8_t ZFILE = 4;
constexpr uint8_t ZSKIP = 5;
constexpr uint8_t ZNAK = 6;
constexpr uint8_t ZABORT = 7;
constexpr uint8_t ZFIN = 8;
constexpr uint8_t ZRPOS = 9;
constexpr uint8_t ZDATA = 10;
constexpr uint8_t ZEOF = 11;
constexpr uint8_t ZFERR = 12;
constexpr uint8_t ZCRC = 13;
constexpr uint8_t ZCHALLENGE = 14;
constexpr uint8_t ZCOMPL = 15;
constexpr uint8_t ZCAN = 16;
constexpr uint8_t ZFREECNT = 17;
constexpr uint8_t ZCOMMAND = 18;
constexpr uint8_t ZSTDERR = 19;

// What ZGetHeader puts in the type byte when no header came: nothing within
// the time-out, a damaged header, the user's cancel (the same value as a
// received ZCAN, which is treated alike) ...
constexpr uint8_t HeaderTimeout = 16;
// ... or the peer's CAN bytes.
constexpr uint8_t HeaderCancelled = 24;

// ---- Special bytes ----
constexpr uint8_t ZPAD = 0x2A;    // "*": opens every header
constexpr uint8_t ZDLE = 0x18;    // escape lead-in; CAN of the abort sequence
constexpr uint8_t ZBIN = 0x41;    // "A": binary header, CRC-16
constexpr uint8_t ZHEX = 0x42;    // "B": hex header
constexpr uint8_t ZBIN32 = 0x43;  // "C": binary header, CRC-32
constexpr uint8_t ZCRCE = 0x68;   // end of frame, header follows
constexpr uint8_t ZCRCG = 0x69;   // frame goes on, no reply expected
constexpr uint8_t ZCRCQ = 0x6A;   // frame goes on, ZACK expected
constexpr uint8_t ZCRCW = 0x6B;   // end of frame, ZACK expected
constexpr uint8_t ZRUB0 = 0x6C;   // escaped 0x7F
constexpr uint8_t ZRUB1 = 0x6D;   // escaped 0xFF
constexpr uint8_t XON = 0x11;
constexpr uint8_t XOFF = 0x13;

// ---- ZReadByte results beyond a data byte (0 to 255) ----
constexpr uint16_t ZGotFrameEnd = 0x100;  // + ZCRCE .. ZCRCW: 0x168 to 0x16B
constexpr uint16_t ZGotCan = 0x118;       // ZDLE ZDLE
constexpr uint16_t ZGotError = 0xFFFF;    // time-out or a bad escape
// The frame end ZReceiveData reports for a subpacket cut by ZDLE CAN.
constexpr uint8_t ZFrameCancelled = 16;

// ---- Header layout ----
// Bytes 1 to 4 hold a value least significant byte first (ZP0 .. ZP3), or
// four flags, ZF0 last.
constexpr int ZP0 = 1;
constexpr int ZP1 = 2;
constexpr int ZP2 = 3;
constexpr int ZP3 = 4;
constexpr int ZF3 = 1;
constexpr int ZF2 = 2;
constexpr int ZF1 = 3;
constexpr int ZF0 = 4;

// ZRINIT's ZF0: the receiver's abilities.
constexpr uint8_t CANFDX = 0x01;   // full duplex
constexpr uint8_t CANOVIO = 0x02;  // receives while writing the file
constexpr uint8_t CANBRK = 0x04;
constexpr uint8_t CANCRY = 0x08;
constexpr uint8_t CANLZW = 0x10;
constexpr uint8_t CANFC32 = 0x20;  // takes CRC-32 frames
constexpr uint8_t ESCCTL = 0x40;   // wants every control byte escaped
constexpr uint8_t ESC8 = 0x80;
// What this program's receiver offers.
constexpr uint8_t kZRecvFlags = CANFDX | CANOVIO | CANFC32;

// ZFILE's ZF0: how the receiver treats the file.
constexpr uint8_t ZCBIN = 1;
constexpr uint8_t ZCNL = 2;
constexpr uint8_t ZCRESUM = 3;  // the receiver may resume an interrupted file

// ZCOMMAND's ZF0.
constexpr uint8_t ZCACK1 = 1;

// The longest subpacket this program takes, and the size of the file
// information that follows ZFILE.
constexpr int kZMaxData = 1024;
constexpr int kZFileInfoSize = 128;

using ZHeader = std::array<uint8_t, 5>;

// The working values of one ZMODEM transfer, receiving or sending.
struct TZFrame {
  explicit TZFrame(TKelEngine& engine) : E(engine) {}
  TZFrame(const TZFrame&) = delete;
  TZFrame& operator=(const TZFrame&) = delete;

  TKelEngine& E;

  // The last byte the escaping routines put on the line, after escaping: a
  // CR that follows "@" is escaped. 0 at the start of each transfer.
  uint8_t LastSent = 0;

  // The last header read, for routines that keep it here (ZGetHeader fills
  // whatever header and value it is given).
  ZHeader RxHeader{};
  int32_t RxValue = 0;
  // The last subpacket read: its length and frame end.
  uint16_t RxCount = 0;
  uint8_t RxFrameEnd = 0;

  // Take received bytes out of the ring in bulk (see the top of this file).
  bool ReadAhead = false;

  // Escape every control byte (0x00 to 0x1F, 0x80 to 0x9F) as well: a peer
  // that asks for it with ESCCTL drops control bytes that come unescaped.
  bool EscapeControls = false;

  // Escaped bytes on their way out: at most twice the data, plus the frame
  // end and an escaped CRC-32.
  std::vector<uint8_t> Outgoing;

  // Let ZCRCG subpackets wait in Outgoing while another one still fits in
  // the same port write, so a stream costs a system call per few subpackets.
  // The routine that sets it calls ZFlushOutput before it waits for or reads
  // anything; every other send sends what waits first.
  bool Coalesce = false;

  // When not 0, no more than this many bytes wait in the device after a
  // write: what is queued ahead of the line is what a damaged subpacket
  // costs before the sender can react to the receiver's ZRPOS.
  size_t AheadLimit = 0;
  // Asked between the small pieces in which a stream's subpackets are then
  // written: true means the receiver has spoken (a ZRPOS), and the rest of
  // the write is dropped rather than queued ahead of the data it asks for.
  bool (*Interrupted)(TKelEngine&) = nullptr;

  // While set, reads give up at HuntUntil, and after HuntQuietMs without a
  // byte: a receiver waiting for the sender to come back after damage.
  std::chrono::steady_clock::time_point HuntUntil = std::chrono::steady_clock::time_point::max();
  int HuntQuietMs = 0;

  // Bytes taken ahead from the ring, not yet decoded.
  std::array<uint8_t, 4096> Ahead{};
  int AheadPos = 0;
  int AheadLen = 0;
};

// ---- Headers ----
ZHeader ZStoreHeader(uint8_t type, int32_t value);
int32_t ZHeaderValue(const ZHeader& header);

// ---- Sending ----
// "**" ZDLE "B", the header and its CRC-16 as lowercase hex, CR LF; always
// CRC-16, whatever CheckMode holds; does not touch LastSent.
void ZSendHexHeader(TZFrame& Z, const ZHeader& header);
// "*" ZDLE "A" with CRC-16 when CheckMode is 1, "*" ZDLE "C" with CRC-32
// otherwise; header and check escaped.
void ZSendBinHeader(TZFrame& Z, const ZHeader& header);
// The binary header that answers a ZRPOS. The stream it follows was cut
// short and may end in a ZDLE whose escaped byte never went out; a receiver
// that pairs that ZDLE with the next byte would eat the header's ZPAD and
// skip the header with the rest of the stream. A second ZPAD goes in front
// for it to eat.
void ZSendBinHeaderAfterCut(TZFrame& Z, const ZHeader& header);
// One subpacket: the data escaped, ZDLE and the frame end, the check of
// CheckMode escaped; XON and a 250 ms pause after ZCRCW.
void ZSendData(TZFrame& Z, const uint8_t* buffer, uint16_t length, uint8_t frameEnd);
void ZSendEscaped(TZFrame& Z, uint8_t b);
// The block escaped into Outgoing and written in one call.
void ZSendEscapedBlock(TZFrame& Z, const uint8_t* buffer, int length);
void ZPutHex(TZFrame& Z, uint8_t b);
// Writes what Coalesce left waiting.
void ZFlushOutput(TZFrame& Z);

// ---- Checks ----
// Feeds a run of bytes to the check register of CheckMode (CRC-16 or
// CRC-32), as CheckBlock does, at the speed a whole subpacket deserves.
void ZCheckRun(TKelEngine& E, const uint8_t* buffer, size_t length);

// ---- Receiving ----
// True when a received byte waits, in the frame or in the ring.
bool ZPending(TZFrame& Z);
// Waits up to 10 s for a byte (less on cancel or loss of the line).
bool ZWaitByte(TZFrame& Z);
// Discards the bytes waiting in the frame and in the ring.
void ZFlushRing(TZFrame& Z);
// Discards the waiting bytes as ZFlushRing does; false when they held the
// peer's cancel (a run of CANs), which must not be lost with the rest.
bool ZFlushRingKeepingCancel(TZFrame& Z);
// Discards input until the line has been quiet for a second.
void ZDrainLine(TZFrame& Z);

// 0 to 255 a data byte; ZGotFrameEnd + ZCRCE .. ZCRCW a frame end; ZGotCan
// for ZDLE and a run of CANs (five in all); ZGotError for a time-out or a bad
// escape, a shorter run of CANs included.
uint16_t ZReadByte(TZFrame& Z);
// Two hex digits of either case; a bad digit or a time-out sets bad. Reads
// nothing when bad is already set.
uint8_t ZGetHexByte(TZFrame& Z, bool& bad);
// A hex header body after "**" ZDLE "B", with its CR LF.
void ZGetHexHeader(TZFrame& Z, ZHeader& header, bool& bad);
// A binary header body checked under the current CheckMode.
void ZGetBinHeader(TZFrame& Z, ZHeader& header, bool& bad);
// Hunts for the next header. Returns ZBIN, ZHEX or ZBIN32 after a header of
// that form (the caller switches to CRC-32 itself if it wants to), CAN after
// the peer's CAN bytes (type HeaderCancelled), 0 otherwise. Clears bad on
// entry; on a time-out, damage or the user's cancel the type is
// HeaderTimeout, bad is set and value is left alone. CheckMode comes back as
// it went in.
uint8_t ZGetHeader(TZFrame& Z, ZHeader& header, int32_t& value, bool& bad);
// One subpacket of at most 1024 bytes into buffer (which has room for
// kZMaxData). frameEnd is ZCRCE .. ZCRCW, or ZFrameCancelled after ZDLE CAN
// (bad untouched). A damaged or overlong subpacket or a time-out sets bad;
// count is the number of bytes stored either way. Reads nothing when bad is
// already set.
void ZReceiveData(TZFrame& Z, uint8_t* buffer, uint16_t& count, uint8_t& frameEnd, bool& bad);

// ---- Ending and commands ----
// Discards waiting input, then eight CAN 100 ms apart and eight BS.
void ZCancel(TZFrame& Z);
// Sends text byte by byte; 0xDD is skipped and 0xDE pauses for 2 s.
void SendCommandText(TZFrame& Z, std::string_view text);
