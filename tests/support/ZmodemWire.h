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
    out += static_cast<char>(last = b);
  }
  return out;
}

inline std::string Le32(uint32_t value) {
  std::string out;
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
  return out;
}

// The CRC of data: CRC-32 low byte first, or CRC-16 high byte first.
inline std::string CrcBytes(const std::string& data, bool crc32) {
  const uint16_t crc = Crc16Of(data);
  return crc32 ? Le32(Crc32Of(data))
               : std::string{static_cast<char>(crc >> 8), static_cast<char>(crc)};
}

inline std::string HexHeader(int type, uint32_t value) {
  const std::string h = static_cast<char>(type) + Le32(value), digits = "0123456789abcdef";
  std::string out = std::string("**\x18") + 'B';
  for (unsigned char b : h + CrcBytes(h, false)) out += {digits[b >> 4], digits[b & 0x0F]};
  return out + "\r\n";
}

inline std::string BinHeader(int type, uint32_t value, bool crc32) {
  const std::string h = static_cast<char>(type) + Le32(value);
  return std::string("*\x18") + (crc32 ? 'C' : 'A') + Escape(h + CrcBytes(h, crc32));
}

// One subpacket: the frame end goes unescaped; the check's escaping follows
// on from the data's last byte (an escaped byte never reads as '@').
inline std::string Subpacket(const std::string& data, char frameEnd, bool crc32) {
  return Escape(data) + '\x18' + frameEnd +
         Escape(CrcBytes(data + frameEnd, crc32),
                data.empty() ? 0 : static_cast<unsigned char>(data.back()));
}

}  // namespace zwire
