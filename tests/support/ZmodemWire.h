#pragma once
// ZMODEM frames as a peer puts them on the line, built here bit by bit and
// apart from the program's frame layer, as a second opinion on its bytes.

#include <cstdint>
#include <string>

#include "Reference.h"

namespace zwire {

// The escaping rule; last is the byte that went on the line before.
inline std::string Escape(const std::string& data, unsigned char last = 0) {
  std::string out;
  for (unsigned char b : data) {
    const unsigned char low = b & 0x7F;
    if (low == 0x10 || low == 0x11 || low == 0x13 || low == 0x18 ||
        (low == 0x0D && (last & 0x7F) == 0x40)) {
      out += '\x18';
      b ^= 0x40;
    }
    out += static_cast<char>(b);
    last = b;
  }
  return out;
}

// The bytes of value, least significant first.
inline std::string Le32(uint32_t value) {
  std::string out;
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
  return out;
}

// Type and value as the five header bytes.
inline std::string Header(int type, uint32_t value) {
  return static_cast<char>(type) + Le32(value);
}

inline std::string Hex(const std::string& bytes, bool upper = false) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) out += {digits[b >> 4], digits[b & 0x0F]};
  return out;
}

inline std::string Crc16Bytes(const std::string& data) {
  const uint16_t crc = Crc16Of(data);
  return {static_cast<char>(crc >> 8), static_cast<char>(crc & 0xFF)};
}

inline std::string Crc32Bytes(const std::string& data) { return Le32(Crc32Of(data)); }

inline std::string HexHeader(int type, uint32_t value, bool upper = false) {
  const std::string h = Header(type, value);
  return "**\x18"
         "B" +
         Hex(h + Crc16Bytes(h), upper) + "\r\n";
}

inline std::string BinHeader(int type, uint32_t value, bool crc32) {
  const std::string h = Header(type, value);
  return std::string("*\x18") + (crc32 ? 'C' : 'A') +
         Escape(h + (crc32 ? Crc32Bytes(h) : Crc16Bytes(h)));
}

// One subpacket; the frame end goes unescaped, and the check's escaping
// follows on from the data's last byte. (An escaped byte never reads as
// '@', so the data's own last byte serves.)
inline std::string Subpacket(const std::string& data, char frameEnd, bool crc32) {
  const std::string checked = data + frameEnd;
  return Escape(data) + '\x18' + frameEnd +
         Escape(crc32 ? Crc32Bytes(checked) : Crc16Bytes(checked),
                data.empty() ? 0 : static_cast<unsigned char>(data.back()));
}

}  // namespace zwire
