// The ">" marks of quoted text, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "Quoting.h"

namespace {

struct QuoteCase {
  const char* name;
  std::string text;
  std::string quoted;
};

class QuoteTextTest : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteTextTest, MarksEveryLineButNoneAfterAFinalLineFeed) {
  EXPECT_EQ(QuoteText(GetParam().text), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QuoteTextTest,
    ::testing::Values(
        QuoteCase{"FourLines", "A\r\nB\r\nC\r\nD", ">A\r\n>B\r\n>C\r\n>D"},
        QuoteCase{"FinalLineFeed", "A\r\nB\r\n", ">A\r\n>B\r\n"}, QuoteCase{"Empty", "", ">"},
        QuoteCase{"OnlyLineFeed", "\n", ">\n"},
        QuoteCase{"EmptyLineBetween", "a\n\nb", ">a\n>\n>b"},
        QuoteCase{"CrAloneIsNoLineBreak", "a\rb\r", ">a\rb\r"},
        QuoteCase{"TwoFinalLineFeeds", "a\n\n", ">a\n>\n"},
        QuoteCase{"ShiftJisTrailBytesUntouched", "\x93\xfa\n\x96\x7b", ">\x93\xfa\n>\x96\x7b"},
        QuoteCase{"NulBytesKept", std::string("a\0\nb", 4), std::string(">a\0\n>b", 6)}),
    [](const ::testing::TestParamInfo<QuoteCase>& info) { return info.param.name; });

}  // namespace
