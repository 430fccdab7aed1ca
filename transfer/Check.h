#pragma once
// The check values that guard each block: an 8-bit arithmetic sum, the
// CRC-16 of XMODEM (polynomial 0x1021, MSB first, initial 0, no final
// inversion) and the CRC-32 of IEEE 802.3 (reflected 0xEDB88320, initial
// 0xFFFFFFFF, not inverted here). CheckMode selects the register that
// CheckByte and CheckBlock feed. Used by one thread at a time.

#include <array>
#include <cstddef>
#include <cstdint>

// Entry n is the check value of the single byte n.
extern const std::array<uint16_t, 256> Crc16Table;
extern const std::array<uint32_t, 256> Crc32Table;

constexpr uint8_t kCheckSum = 0;
constexpr uint8_t kCheckCrc16 = 1;
constexpr uint8_t kCheckCrc32 = 2;

class TKelCheck {
 public:
  uint8_t CheckMode = kCheckSum;
  uint8_t SumValue = 0;
  uint16_t Crc16Value = 0;
  uint32_t Crc32Value = 0xFFFFFFFFu;

  void CheckReset();
  void CheckByte(uint8_t b);
  void CheckBlock(const uint8_t* buffer, size_t length);
  // The CRC register of the selected mode; meaningless for the sum.
  uint32_t CheckValue() const;
  // What the register holds after a good block followed by its own check
  // bytes: 0 for CRC-16, 0xDEBB20E3 for CRC-32.
  uint32_t CheckGood() const;
};
