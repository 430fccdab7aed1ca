// The received-text model: how bytes are cut into lines, what is logged, and
// that the packed storage gives back every line as it was stored.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TextBuffer.h"

namespace {

struct Fed {
  std::vector<std::string> finished;  // lines 1.. (line 0 is the empty first line)
  std::string current;
  std::vector<std::string> logged;
};

Fed Feed(const std::vector<std::string>& notifications) {
  TTextBuffer buffer;
  buffer.AddLine("");  // line 0
  Fed fed;
  for (const std::string& n : notifications)
    buffer.Receive(reinterpret_cast<const uint8_t*>(n.data()), n.size(),
                   [&](std::string_view line) { fed.logged.emplace_back(line); });
  for (size_t i = 1; i + 1 < buffer.Count(); ++i) fed.finished.emplace_back(buffer.Line(i));
  fed.current = std::string(buffer.CurrentLine());
  EXPECT_EQ(buffer.Line(0), "");
  EXPECT_EQ(buffer.Line(buffer.Count() - 1), fed.current);
  return fed;
}

struct CutCase {
  const char* name;
  std::vector<std::string> notifications;
  std::vector<std::string> finished;
  std::string current;
};

TEST(TextBufferCutting, LinesEndOnlyAtCarriageReturns) {
  const CutCase cases[] = {
      {"CR LF in one notification", {"abc\r\ndef"}, {"abc"}, "def"},
      {"line across notifications", {"ab", "c\r"}, {"abc"}, ""},
      {"bare LF is dropped", {"a\nb\r"}, {"ab"}, ""},
      {"BS removes one byte each", {"abc\b\bd\r"}, {"ad"}, ""},
      {"BS in the next notification", {"abc", "\bx\r"}, {"abx"}, ""},
      {"BS never reaches the line before", {"x\r", "\b\by"}, {"x"}, "y"},
      {"BS on an empty line", {"\b"}, {}, ""},
      {"escape shows as text", {"\x1b[2J"}, {}, "[2J"},
      {"BS after a double-byte character leaves its first byte", {"\x93\xfa\b"}, {}, "\x93"},
      {"127 and 255 are kept", {"\x7f\xff\r"}, {"\x7f\xff"}, ""},
      {"CR CR gives an empty line", {"a\r\r"}, {"a", ""}, ""},
  };
  for (const CutCase& c : cases) {
    Fed fed = Feed(c.notifications);
    EXPECT_EQ(fed.finished, c.finished) << c.name;
    EXPECT_EQ(fed.current, c.current) << c.name;
    EXPECT_EQ(fed.logged, c.finished) << c.name << ": each finished line logged once, whole";
  }
}

TEST(TextBufferCutting, ControlBytesOtherThanCrAndBsAreDropped) {
  std::string all;
  for (int b = 0; b < 32; ++b)
    if (b != 8 && b != 13) all.push_back(static_cast<char>(b));
  Fed fed = Feed({all + "A"});
  EXPECT_EQ(fed.current, "A");
}

TEST(TextBufferCutting, LongNotificationWithoutCrLosesNothing) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text.push_back(static_cast<char>('!' + i % 90));
  Fed fed = Feed({text});
  EXPECT_EQ(fed.current, text);
  fed = Feed({text + "\r"});
  ASSERT_EQ(fed.logged.size(), 1u);
  EXPECT_EQ(fed.logged[0], text);
}

TEST(TextBufferStorage, EveryLineComesBackAcrossStorageBlocks) {
  // Lines of random lengths (empty ones and one larger than a storage block
  // among them) must read back exactly, and finished lines never change.
  std::mt19937 rng(7);
  TTextBuffer buffer;
  buffer.AddLine("");
  std::vector<std::string> expected{""};
  std::string stream;
  for (int i = 0; i < 60000; ++i) {
    size_t len = i == 30000 ? (3u << 20) : rng() % 120;
    std::string line(len, '\0');
    for (char& c : line) c = static_cast<char>(32 + rng() % 224);
    expected.push_back(line);
    stream += line + "\r";
  }
  const std::string firstLine = expected[1];
  for (size_t off = 0; off < stream.size(); off += 4096)
    buffer.Receive(reinterpret_cast<const uint8_t*>(stream.data()) + off,
                   std::min<size_t>(4096, stream.size() - off), nullptr);
  ASSERT_EQ(buffer.Count(), expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(buffer.Line(i), expected[i]) << i;
  EXPECT_EQ(buffer.Line(1), firstLine);
  EXPECT_EQ(buffer.CurrentLine(), "");
}

TEST(TextBufferStorage, LongSessionCostsLittleMoreThanItsBytes) {
  TTextBuffer buffer;
  std::string line(78, 'x');
  line += "\r\n";
  size_t received = 0;
  for (int i = 0; i < 200000; ++i) {
    buffer.Receive(reinterpret_cast<const uint8_t*>(line.data()), line.size(), nullptr);
    received += line.size();
  }
  EXPECT_LE(static_cast<double>(buffer.MemoryUsed()) / received, 1.25);
}

TEST(TextBufferStorage, ClearLeavesOneEmptyCurrentLine) {
  TTextBuffer buffer;
  buffer.AddLine("one");
  buffer.AddLine("two");
  buffer.Clear();
  EXPECT_EQ(buffer.Count(), 1u);
  EXPECT_EQ(buffer.CurrentLine(), "");
  buffer.AddLine("\x01x\x1f");
  EXPECT_EQ(buffer.Line(0), "x") << "no stored byte below 32";
}

}  // namespace
