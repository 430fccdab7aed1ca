#pragma once
// ZMODEM frames as a peer puts them on the line, built here bit by bit and
// independently of the program's frame layer, so that a test compares the
// program's bytes with a second opinion rather than with itself.

#include <cstdint>
#include <string>

#include "Reference.h"

namespace zwire {

// The escaping rule; last is the byte that went on the line before.
inline std::string Escape(const std::string& data, unsigned char& last) {
  std::string out;
  for (unsigned char b : data) {
    const unsigned char low = b & 0x7F;
    const bool escape = low == 0x10 || low == 0x11 || low == 0x13 || low == 0x18 ||
                        (low == 0x0D && (last & 0x7F) == 0x40);
    if (escape) {
      out += '\x18';
      b ^= 0x40;
    }
    out += static_cast<char>(b);
    last = b;
  }
  return out;
}

inline std::string Escape(const std::string& data) {
  unsigned char last = 0;
  return Escape(data, last);
}

// Type and value as the five header bytes, value least significant first.
inline std::string Header(int type, uint32_t value) {
  std::string h(1, static_cast<char>(type));
  for (int shift = 0; shift < 32; shift += 8) h += static_cast<char>((value >> shift) & 0xFF);
  return h;
}

inline std::string Hex(const std::string& bytes, bool upper = false) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0x0F];
  }
  return out;
}

inline std::string Crc16Bytes(const std::string& data) {
  const uint16_t crc = Crc16Of(data);
  return {static_cast<char>(crc >> 8), static_cast<char>(crc & 0xFF)};
}

inline std::string Crc32Bytes(const std::string& data) {
  const uint32_t crc = Crc32Of(data);
  std::string out;
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((crc >> shift) & 0xFF);
  return out;
}

inline std::string HexHeader(int type, uint32_t value, bool upper = false) {
  const std::string h = Header(type, value);
  return "**\x18"
         "B" +
         Hex(h + Crc16Bytes(h), upper) + "\r\n";
}

inline std::string BinHeader(int type, uint32_t value, bool crc32) {
  const std::string h = Header(type, value);
  return std::string(crc32 ? "*\x18"
                             "C"
                           : "*\x18"
                             "A") +
         Escape(h + (crc32 ? Crc32Bytes(h) : Crc16Bytes(h)));
}

// One subpacket; the frame end goes unescaped and leaves last alone.
inline std::string Subpacket(const std::string& data, char frameEnd, bool crc32) {
  unsigned char last = 0;
  std::string out = Escape(data, last);
  out += '\x18';
  out += frameEnd;
  const std::string checked = data + frameEnd;
  out += Escape(crc32 ? Crc32Bytes(checked) : Crc16Bytes(checked), last);
  return out;
}

}  // namespace zwire
