// Check values, the header date and the name conversions, as bytes.

#include <gtest/gtest.h>

#include <string>

#include "Check.h"
#include "Engine.h"
#include "Names.h"

namespace {

uint32_t Feed(TKelCheck& check, const std::string& s) {
  check.CheckReset();
  check.CheckBlock(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  return check.CheckValue();
}

TEST(Check, TablesBeginWithTheWellKnownEntries) {
  const uint16_t crc16[] = {0x0000, 0x1021, 0x2042, 0x3063};
  const uint32_t crc32[] = {0x00000000, 0x77073096, 0xEE0E612C};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Crc16Table[i], crc16[i]) << i;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Crc32Table[i], crc32[i]) << i;
  EXPECT_EQ(Crc16Table[255], 0x1EF0);
  EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
}

TEST(Check, StandardCheckStrings) {
  TKelCheck check;
  check.CheckMode = kCheckCrc16;
  EXPECT_EQ(Feed(check, "123456789"), 0x31C3u);
  check.CheckMode = kCheckCrc32;
  EXPECT_EQ(~Feed(check, "123456789"), 0xCBF43926u);
  check.CheckMode = kCheckSum;
  Feed(check, "123456789");
  EXPECT_EQ(check.SumValue,
            static_cast<uint8_t>(0x31 + 0x32 + 0x33 + 0x34 + 0x35 + 0x36 + 0x37 + 0x38 + 0x39));
}

struct GoodCase {
  const char* name;
  uint8_t mode;
  std::string block;
};

class CheckGoodAfterOwnCheck : public ::testing::TestWithParam<GoodCase> {};

TEST_P(CheckGoodAfterOwnCheck, RegisterLandsOnTheGoodValue) {
  const GoodCase& c = GetParam();
  TKelCheck check;
  check.CheckMode = c.mode;
  const uint32_t value = Feed(check, c.block);
  std::string tail;
  if (c.mode == kCheckCrc16) {
    tail = {static_cast<char>(value >> 8), static_cast<char>(value)};
  } else {
    const uint32_t inverted = ~value;  // low byte first
    for (int i = 0; i < 4; ++i) tail += static_cast<char>(inverted >> (8 * i));
  }
  check.CheckBlock(reinterpret_cast<const uint8_t*>(tail.data()), tail.size());
  EXPECT_EQ(check.CheckValue(), check.CheckGood());
  EXPECT_EQ(check.CheckGood(), c.mode == kCheckCrc16 ? 0u : 0xDEBB20E3u);
  // One flipped bit anywhere is caught.
  std::string damaged = c.block + tail;
  damaged[damaged.size() / 2] ^= 0x10;
  Feed(check, damaged);
  EXPECT_NE(check.CheckValue(), check.CheckGood());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CheckGoodAfterOwnCheck,
    ::testing::Values(GoodCase{"crc16_128", kCheckCrc16, std::string(128, 'x')},
                      GoodCase{"crc16_text", kCheckCrc16, "123456789"},
                      GoodCase{"crc32_1024", kCheckCrc32, std::string(1024, '\x5A')},
                      GoodCase{"crc32_text", kCheckCrc32, "123456789"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Check, ResetPutsEachRegisterToItsStart) {
  TKelCheck check;
  for (uint8_t mode : {kCheckSum, kCheckCrc16, kCheckCrc32}) {
    check.CheckMode = mode;
    Feed(check, "abc");
    check.CheckReset();
    const uint32_t start = mode == kCheckSum     ? check.SumValue
                           : mode == kCheckCrc16 ? check.Crc16Value
                                                 : check.Crc32Value;
    EXPECT_EQ(start, mode == kCheckCrc32 ? 0xFFFFFFFFu : 0u) << int{mode};
  }
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
