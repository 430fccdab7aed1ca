#pragma once
// Checks and blocks computed here, independently of the engine's own code,
// so that a test compares the engine with the protocols and not with itself.

#include <cstdint>
#include <string>

inline uint16_t Crc16Of(const std::string& data) {  // XMODEM's: 0x1021, from 0
  uint16_t crc = 0;
  for (unsigned char c : data) {
    crc ^= static_cast<uint16_t>(c << 8);
    for (int i = 0; i < 8; ++i)
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

inline uint32_t Crc32Of(const std::string& data) {  // the common one, as zip's
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int i = 0; i < 8; ++i) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

inline uint8_t SumOf(const std::string& data) {
  unsigned sum = 0;
  for (unsigned char c : data) sum += c;
  return static_cast<uint8_t>(sum);
}

// An XMODEM block as it goes on the line: header (STX for 1024 bytes),
// number, complement, data, check.
inline std::string Frame(int number, const std::string& data, bool crc) {
  const uint16_t c = Crc16Of(data);
  return std::string{data.size() == 1024 ? '\x02' : '\x01', static_cast<char>(number),
                     static_cast<char>(255 - (number & 0xFF))} +
         data +
         (crc ? std::string{static_cast<char>(c >> 8), static_cast<char>(c)}
              : std::string(1, static_cast<char>(SumOf(data))));
}

// Eight CAN, then eight BS.
inline std::string CancelSequence() { return std::string(8, '\x18') + std::string(8, '\x08'); }
