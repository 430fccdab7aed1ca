// The log name template: each date and time code, the codes that expand to
// nothing, and bytes that must pass through untouched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogName.h"

namespace {

std::tm At(int year, int month, int day, int hour = 0, int minute = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = 42;
  return t;
}

struct TemplateCase {
  const char* what;
  std::string tmpl;
  std::tm when;
  std::string expected;
};

TEST(LogNameTest, ExpandsEachCodeAsTheTableSays) {
  const std::vector<TemplateCase> cases = {
      {"default name in 1997", "%Y%M%D.LOG", At(1997, 6, 15), "970615.LOG"},
      {"year minus 1900 keeps three digits", "%Y%M%D.LOG", At(2026, 1, 5), "1260105.LOG"},
      {"year minus 1900 padded to two", "%Y.LOG", At(1905, 12, 31), "05.LOG"},
      {"full year", "%y-%M-%D.LOG", At(2026, 1, 5), "2026-01-05.LOG"},
      {"full year padded to four", "%y.LOG", At(999, 3, 4), "0999.LOG"},
      {"five-digit year", "%y%M%D.LOG", At(10000, 2, 29), "100000229.LOG"},
      {"hour and minute", "HOST%H%I.LOG", At(2026, 1, 5, 21, 7), "HOST2107.LOG"},
      {"midnight", "%H%I", At(2026, 1, 5, 0, 0), "0000"},
      {"double percent", "100%%.LOG", At(2026, 1, 5), "100.LOG"},
      {"unknown letter", "A%mB", At(2026, 1, 5), "AB"},
      {"codes are case-sensitive", "%d%h%i", At(2026, 1, 5, 9, 9), ""},
      {"trailing percent", "LOG%", At(2026, 1, 5), "LOG"},
      {"percent before a code letter byte of its own", "%%Y", At(2026, 1, 5), "Y"},
      {"no codes", "plain.log", At(2026, 1, 5), "plain.log"},
      {"empty template", "", At(2026, 1, 5), ""},
      {"every code once", "%y%Y%M%D%H%I", At(2001, 9, 8, 7, 6), "200110109080706"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandLogTemplate(c.tmpl, c.when), c.expected) << c.what;
  }
}

TEST(LogNameTest, KeepsShiftJisBytesAndControlBytes) {
  // A name in Shift-JIS double-byte characters: their second bytes (0x8D,
  // 0x4F) are above "%" and must come through as they stand.
  const std::string sjis = "\x83\x8D\x83\x4F";
  const std::vector<TemplateCase> cases = {
      {"name in Shift-JIS", sjis + "%M%D.LOG", At(2026, 1, 5), sjis + "0105.LOG"},
      {"code between double-byte characters", "\x93\xfa%D\x95\x74", At(2026, 1, 5),
       "\x93\xfa"
       "05\x95\x74"},
      {"high bytes after percent are dropped",
       "A%\x83"
       "B",
       At(2026, 1, 5), "AB"},
      {"NUL byte is copied", std::string("A\0B", 3), At(2026, 1, 5), std::string("A\0B", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandLogTemplate(c.tmpl, c.when), c.expected) << c.what;
  }
}

TEST(LogNameTest, LocalTimeNowIsTheClockInLocalTime) {
  const std::time_t before = std::time(nullptr);
  std::tm now = LocalTimeNow();
  const std::time_t after = std::time(nullptr);
  const std::time_t back = std::mktime(&now);
  EXPECT_GE(back, before);
  EXPECT_LE(back, after);
}

}  // namespace
