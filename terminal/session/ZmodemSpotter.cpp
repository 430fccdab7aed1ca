#include "ZmodemSpotter.h"

#include "Check.h"

namespace {

constexpr uint8_t kZdle = 0x18;
constexpr uint8_t kZrqinit = 0;
constexpr uint8_t kZrinit = 1;
// "**", ZDLE, 'B', then five bytes (type, four of flags or position) and the
// CRC-16's two, each as two hex digits (of either case).
constexpr size_t kLeadLength = 4;
constexpr size_t kHeaderLength = kLeadLength + 2 * 7;

int HexValue(uint8_t b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  return -1;
}

bool IsText(uint8_t b) { return b >= 0x20 && b < 0x7F; }

}  // namespace

TZmodemOffer TZmodemSpotter::Feed(const uint8_t* Data, size_t Size) {
  TZmodemOffer offer = TZmodemOffer::None;
  for (size_t i = 0; i < Size; ++i)
    if (const TZmodemOffer found = Step(Data[i]); found != TZmodemOffer::None) offer = found;
  return offer;
}

TZmodemOffer TZmodemSpotter::Step(uint8_t b) {
  const size_t at = matched_.size();
  const bool fits = at < 2    ? b == '*'
                    : at == 2 ? b == kZdle
                    : at == 3 ? b == 'B'
                              : HexValue(b) >= 0;
  if (fits) {
    matched_ += static_cast<char>(b);
    return matched_.size() == kHeaderLength ? Complete() : TZmodemOffer::None;
  }
  // A third '*' still leaves two before a ZDLE to come.
  matched_ = b == '*' ? std::string(at == 2 ? "**" : "*") : std::string();
  if (b != '*' && IsText(b)) spent_ = false;
  return TZmodemOffer::None;
}

TZmodemOffer TZmodemSpotter::Complete() {
  uint8_t header[7];
  for (size_t k = 0; k < 7; ++k)
    header[k] = static_cast<uint8_t>(HexValue(matched_[kLeadLength + 2 * k]) << 4 |
                                     HexValue(matched_[kLeadLength + 2 * k + 1]));
  matched_.clear();
  uint16_t crc = 0;  // over the five bytes and the check: 0 when they agree
  for (uint8_t b : header) crc = static_cast<uint16_t>(crc << 8) ^ Crc16Table[(crc >> 8) ^ b];
  if (crc != 0 || spent_) return TZmodemOffer::None;
  if (header[0] != kZrqinit && header[0] != kZrinit) return TZmodemOffer::None;
  spent_ = true;
  return header[0] == kZrqinit ? TZmodemOffer::Download : TZmodemOffer::Upload;
}
