// Check values, the header date and the name conversions, as bytes.

#include <gtest/gtest.h>

#include <string>

#include "Check.h"
#include "Engine.h"
#include "Files.h"
#include "Names.h"
#include "Reference.h"

namespace {

uint32_t Feed(TKelCheck& check, const std::string& s) {
  check.CheckReset();
  check.CheckBlock(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  return check.CheckValue();
}

// Each register against a bitwise computation, and each CRC landing on its
// good value once the block's own check bytes follow (CRC-16 high byte
// first, CRC-32 inverted and low byte first); one flipped bit is caught.
TEST(Check, AgreesWithAnIndependentComputation) {
  const std::string block = RandomBytes(1024, 1);
  TKelCheck check;
  check.CheckMode = kCheckSum;
  Feed(check, block);
  EXPECT_EQ(check.SumValue, SumOf(block));
  check.CheckMode = kCheckCrc16;
  const uint16_t crc16 = Crc16Of(block);
  EXPECT_EQ(Feed(check, block), crc16);
  const std::string tail16 = {static_cast<char>(crc16 >> 8), static_cast<char>(crc16)};
  EXPECT_EQ(Feed(check, block + tail16), 0u);
  check.CheckMode = kCheckCrc32;
  const uint32_t crc32 = Crc32Of(block);
  EXPECT_EQ(~Feed(check, block), crc32);
  std::string tail32;
  for (int i = 0; i < 4; ++i) tail32 += static_cast<char>(crc32 >> (8 * i));
  EXPECT_EQ(Feed(check, block + tail32), check.CheckGood());
  EXPECT_EQ(check.CheckGood(), 0xDEBB20E3u);
  std::string damaged = block + tail32;
  damaged[500] ^= 0x10;
  EXPECT_NE(Feed(check, damaged), check.CheckGood());
}

struct DateCase {
  int year, month, day, hour, minute;
  const char* text;
};

TEST(UnixDate, DaysSince1970InOctalWithoutTheTimeOfDay) {
  const DateCase cases[] = {
      {1970, 1, 1, 0, 0, "00"},           {1970, 1, 2, 0, 0, "0250600"},
      {1970, 1, 2, 23, 59, "0250600"},    {1970, 1, 3, 12, 0, "0521400"},
      {2000, 3, 1, 8, 30, "07057056600"},  // 951868800 seconds
  };
  for (const DateCase& c : cases) {
    std::tm t{};
    t.tm_year = c.year - 1900;
    t.tm_mon = c.month - 1;
    t.tm_mday = c.day;
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    EXPECT_EQ(UnixDateText(t), c.text) << c.year << "/" << c.month << "/" << c.day;
  }
}

TEST(Names, AnnouncedNameIsTheLastPartInShiftJis) {
  struct {
    std::string path, name;
  } cases[] = {
      {"/home/u/Readme.TXT", "Readme.TXT"},      {"plain.bin", "plain.bin"}, {"/tmp/dir/", ""},
      {"/tmp/\xE8\xA1\xA8.txt", "\x95\x5C.txt"},  // U+8868: second byte 0x5C
      {"/tmp/\xE3\x81\x82", "\x82\xA0"},          // hiragana a
      {"/tmp/\xF0\x9F\x98\x80x", "?x"},           // no Shift-JIS form
  };
  for (const auto& c : cases) EXPECT_EQ(AnnouncedName(c.path), c.name) << c.path;
}

TEST(Names, LowerCasingLeavesSecondBytesAlone) {
  struct {
    std::string in, out;
  } cases[] = {
      {"Readme.TXT", "readme.txt"},
      {"\x83\x41Z", "\x83\x41z"},  // katakana A: 0x41 is its second byte
      {"\x82\x60\x82\x61"
       "AB",
       "\x82\x60\x82\x61"
       "ab"},
      {"\xB1Q", "\xB1q"},  // half-width katakana is a single byte
  };
  for (auto& c : cases) {
    std::string s = c.in;
    LowerSingleByteLetters(s);
    EXPECT_EQ(s, c.out);
  }
}

}  // namespace
