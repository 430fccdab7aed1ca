// Each check register against a computation of its own, and each CRC landing
// on its good value once the block's own check bytes follow (CRC-16 high byte
// first, CRC-32 inverted and low byte first).

#include <gtest/gtest.h>

#include "Check.h"
#include "Files.h"
#include "Reference.h"

TEST(Check, AgreesWithAnIndependentComputation) {
  const std::string block = RandomBytes(1024, 1);
  TKelCheck check;
  const auto feed = [&](uint8_t mode, const std::string& s) {
    check.CheckMode = mode;
    check.CheckReset();
    check.CheckBlock(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    return check.CheckValue();
  };
  feed(kCheckSum, block);
  EXPECT_EQ(check.SumValue, SumOf(block));
  const uint16_t crc16 = Crc16Of(block);
  EXPECT_EQ(feed(kCheckCrc16, block), crc16);
  EXPECT_EQ(feed(kCheckCrc16, block + char(crc16 >> 8) + char(crc16)), 0u);
  const uint32_t crc32 = Crc32Of(block);
  EXPECT_EQ(~feed(kCheckCrc32, block), crc32);
  std::string tail32;
  for (int i = 0; i < 4; ++i) tail32 += static_cast<char>(crc32 >> (8 * i));
  EXPECT_EQ(feed(kCheckCrc32, block + tail32), 0xDEBB20E3u);
}
