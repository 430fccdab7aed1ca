#include "Check.h"

namespace {

constexpr std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (unsigned n = 0; n < 256; ++n) {
    unsigned crc = n << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    table[n] = static_cast<uint16_t>(crc);
  }
  return table;
}

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t crc = n;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    table[n] = crc;
  }
  return table;
}

}  // namespace

const std::array<uint16_t, 256> Crc16Table = MakeCrc16Table();
const std::array<uint32_t, 256> Crc32Table = MakeCrc32Table();

void TKelCheck::CheckReset() {
  switch (CheckMode) {
    case kCheckCrc16:
      Crc16Value = 0;
      break;
    case kCheckCrc32:
      Crc32Value = 0xFFFFFFFFu;
      break;
    default:
      SumValue = 0;
  }
}

void TKelCheck::CheckByte(uint8_t b) {
  switch (CheckMode) {
    case kCheckCrc16:
      Crc16Value = static_cast<uint16_t>((Crc16Value << 8) ^ Crc16Table[(Crc16Value >> 8) ^ b]);
      break;
    case kCheckCrc32:
      Crc32Value = Crc32Table[(Crc32Value ^ b) & 0xFF] ^ (Crc32Value >> 8);
      break;
    default:
      SumValue = static_cast<uint8_t>(SumValue + b);
  }
}

void TKelCheck::CheckBlock(const uint8_t* buffer, size_t length) {
  for (size_t i = 0; i < length; ++i) CheckByte(buffer[i]);
}

uint32_t TKelCheck::CheckValue() const {
  return CheckMode == kCheckCrc32 ? Crc32Value : Crc16Value;
}

uint32_t TKelCheck::CheckGood() const { return CheckMode == kCheckCrc32 ? 0xDEBB20E3u : 0; }
