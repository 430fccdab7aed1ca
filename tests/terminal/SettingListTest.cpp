#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SettingList.h"

namespace {

using Lines = std::vector<std::string>;

struct SplitCase {
  const char* name;
  std::string bytes;
  Lines lines;
};

TEST(SettingListTest, LinesEndAtCrLfCrOrLf) {
  const std::vector<SplitCase> cases = {
      {"cr only", "a\rb\r", {"a", "b"}},
      {"lf only", "a\nb\n", {"a", "b"}},
      {"mixed", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"last line without end", "a\r\nb", {"a", "b"}},
      {"lf then cr is two ends", "a\n\rb", {"a", "", "b"}},
  };
  for (const auto& c : cases) {
    const TSettingList list = TSettingList::FromBytes(c.bytes);
    Lines expected = c.lines;
    const Lines defaults = {"1", "38400", "ATD", "ATZ", "", "", "", "", "", ""};
    for (size_t i = expected.size(); i < 10; ++i) expected.push_back(defaults[i]);
    EXPECT_EQ(list.Lines, expected) << c.name;
  }
}

TEST(SettingListTest, DefaultsAreTheTenLinesOfANewFile) {
  const TSettingList list = TSettingList::Defaults();
  EXPECT_EQ(list.ToBytes(), "1\r\n38400\r\nATD\r\nATZ\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
  EXPECT_EQ(list.PortNumber(), 1);
  EXPECT_EQ(list.Speed(), 38400);
  EXPECT_EQ(list.EntryCount(), 0);
}

TEST(SettingListTest, ShortFileTakesDefaultsButIsWrittenBackAsRead) {
  struct Case {
    std::string bytes;
    Lines modem;  // lines 0..3 in memory
    std::string saved;
  };
  const std::vector<Case> cases = {
      {"", {"1", "38400", "ATD", "ATZ"}, ""},
      {"2\n9600\n", {"2", "9600", "ATD", "ATZ"}, "2\r\n9600\r\n"},
      {"2\r\n9600\r\nATDT", {"2", "9600", "ATDT", "ATZ"}, "2\r\n9600\r\nATDT\r\n"},
      {"1\r\n2\r\n3\r\n4\r\n5", {"1", "2", "3", "4"}, "1\r\n2\r\n3\r\n4\r\n5\r\n"},
  };
  for (const auto& c : cases) {
    const TSettingList list = TSettingList::FromBytes(c.bytes);
    ASSERT_EQ(list.size(), 10u) << c.bytes;
    EXPECT_EQ(Lines(list.Lines.begin(), list.Lines.begin() + 4), c.modem) << c.bytes;
    EXPECT_EQ(list.ToBytes(), c.saved) << c.bytes;
  }
}

TEST(SettingListTest, EditedCompletionLinesAreWritten) {
  TSettingList list = TSettingList::FromBytes("3\r\n");
  list.Lines[2] = "ATDP";
  EXPECT_EQ(list.ToBytes(), "3\r\n38400\r\nATDP\r\n");
  list.Lines.insert(list.Lines.end(), 10, "x");
  std::string whole = "3\r\n38400\r\nATDP\r\nATZ\r\n";
  for (int i = 0; i < 6; ++i) whole += "\r\n";
  for (int i = 0; i < 10; ++i) whole += "x\r\n";
  EXPECT_EQ(list.ToBytes(), whole);
}

TEST(SettingListTest, PortAndSpeedFallBackWhenUnreadable) {
  const std::vector<std::pair<std::string, int>> ports = {
      {"4", 4}, {"9", 4}, {"0", 1}, {"x", 1}, {" 3 ", 3}, {"2a", 1}, {"99999999999", 1}};
  for (const auto& [text, port] : ports) EXPECT_EQ(ParsePortNumber(text), port) << text;
  const std::vector<std::pair<std::string, int>> speeds = {
      {"9600", 9600}, {"abc", 38400}, {"96OO", 38400}};
  for (const auto& [text, speed] : speeds) EXPECT_EQ(ParseSpeed(text), speed) << text;
}

TEST(SettingListTest, DevicePathsAreLinesFourToSeven) {
  const TSettingList list =
      TSettingList::FromBytes("1\r\n38400\r\nATD\r\nATZ\r\n/dev/a\r\n/dev/b\r\n\r\nvirtual:x\r\n");
  EXPECT_EQ(list.DevicePath(1), "/dev/a");
  EXPECT_EQ(list.DevicePath(2), "/dev/b");
  EXPECT_EQ(list.DevicePath(3), "");
  EXPECT_EQ(list.DevicePath(4), "virtual:x");
  EXPECT_EQ(list.DevicePath(0), "");
  EXPECT_EQ(list.DevicePath(5), "");
}

TEST(SettingListTest, BytesSurviveARoundTrip) {
  std::string longLine(100 * 1024, 'L');
  longLine[5000] = '\xff';
  const std::string odd = "\x82\xa0\x81\xff\x80\xfd\xfe\xa0";  // not all valid Shift-JIS
  std::string bytes = "2\r\n9600\r\n" + longLine + "\r\n" + odd + "\r\n";
  for (int i = 4; i < 25; ++i) bytes += std::string(1, static_cast<char>('a' + i)) + "\r\n";
  const TSettingList list = TSettingList::FromBytes(bytes);
  EXPECT_EQ(list.size(), 25u);
  EXPECT_EQ(list.ToBytes(), bytes);
}

}  // namespace
