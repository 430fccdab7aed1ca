// The terminal's text rules: lines, keys, quoting, the pace of queued text,
// log names, the back-scroll selection, Shift-JIS and peers' names shown.
#include <gtest/gtest.h>

#include "KeyBytes.h"
#include "LogName.h"
#include "Names.h"
#include "Selection.h"
#include "SendQueue.h"
#include "ShiftJisText.h"
#include "TextBuffer.h"
#include "ZmodemSpotter.h"
#include "ZmodemWire.h"

namespace {

std::vector<std::string> Lines(const TTextBuffer& b) {
  std::vector<std::string> out;
  for (size_t i = 0; i < b.Count(); ++i) out.emplace_back(b.Line(i));
  return out;
}

TEST(TextBuffer, CutsAtCrDropsControlsAndBackspacesWithinTheLine) {
  struct Row {
    std::vector<std::string> chunks;
    std::vector<std::string> lines, logged;
  } rows[] = {
      {{"ab\r\ncd"}, {"ab", "cd"}, {"ab"}},
      {{"a", "b\r", "\nc"}, {"ab", "c"}, {"ab"}},
      {{"x\x07y\x1b[2Jz\t\r"}, {"xy[2Jz", ""}, {"xy[2Jz"}},
      {{"ab\r", "\b\bc\bd"}, {"ab", "d"}, {"ab"}},
      {{"\x82\xa0\x82", "\xa2\r"}, {"\x82\xa0\x82\xa2", ""}, {"\x82\xa0\x82\xa2"}},
      {{"\r\r"}, {"", "", ""}, {"", ""}},
  };
  for (const Row& r : rows) {
    TTextBuffer buffer;
    std::vector<std::string> logged;
    for (const std::string& c : r.chunks)
      buffer.Receive(reinterpret_cast<const uint8_t*>(c.data()), c.size(),
                     [&](std::string_view line) { logged.emplace_back(line); });
    EXPECT_EQ(Lines(buffer), r.lines) << r.chunks[0];
    EXPECT_EQ(logged, r.logged) << r.chunks[0];
  }
}

TEST(KeyBytes, KeysTypeTheBytesATerminalKeyboardGives) {
  struct Row {
    TKeyStroke key;
    std::string bytes;
  } rows[] = {
      {{'A', false, false, "a"}, "a"},
      {{kKeyReturn, false, false, "\r"}, "\r"},
      {{kKeyBackspace, false, false, "\b"}, "\b"},
      {{kKeyEscape, false, false, "\x1b"}, "\x1b"},
      {{kKeyDelete, false, false, "\x7f"}, ""},
      {{'C', true, false, "\x03"}, "\x03"},
      {{'@', true, false, ""}, std::string(1, '\0')},
      {{'[', true, false, ""}, "\x1b"},
      {{kKeyYen, true, false, ""}, "\x1c"},
      {{kKeyReturn, true, false, ""}, "\n"},
      {{kKeyBackspace, true, false, ""}, "\x7f"},
      {{'1', true, false, "1"}, ""},
      {{'X', false, true, "x"}, ""},
      {{kKeyOther, false, false, "\xe3\x81\x82"}, "\x82\xa0"},
      {{kKeyOther, false, false, "\xf0\x9f\x98\x80"}, "?"},
  };
  for (const Row& r : rows) EXPECT_EQ(KeyBytes(r.key), r.bytes) << r.key.Key << " " << r.key.Text;
}

// Whatever line ends the clipboard holds, the host gets CR LF.
TEST(Quoting, PasteEndsLinesWithCrLfAndMarksEveryLineButNoneAfterTheLast) {
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"", "", ">"},
      {"A\r\nB\r\nC\r\nD", "A\r\nB\r\nC\r\nD", ">A\r\n>B\r\n>C\r\n>D"},
      {"A\nB\n", "A\r\nB\r\n", ">A\r\n>B\r\n"},
      {"A\rB\r\r\n\nC", "A\r\nB\r\n\r\n\r\nC", ">A\r\n>B\r\n>\r\n>\r\n>C"},
  };
  for (const auto& [text, plain, quoted] : rows) {
    EXPECT_EQ(PasteBytes(text, false), plain) << text;
    EXPECT_EQ(PasteBytes(text, true), quoted) << text;
  }
}

TEST(SendQueue, PasteLeavesFirstInChunksAndAQueueKeeps32000BytesAfterAChunk) {
  struct Row {
    size_t paste, keys;
    std::vector<size_t> chunks;  // sizes, 'k' marks a keys chunk by its size + 1000000
  } rows[] = {
      {1300, 0, {512, 512, 276}},
      {40000, 0, std::vector<size_t>(63, 512)},
      {600, 3, {512, 88, 1000003}},
  };
  rows[1].chunks.push_back(32512 - 63 * 512);
  for (Row& r : rows) {
    std::string paste(r.paste, 'p'), keys(r.keys, 'k');
    std::vector<size_t> got;
    for (std::string c; !(c = TakeSendChunk(paste, keys)).empty();)
      got.push_back(c[0] == 'k' ? c.size() + 1000000 : c.size());
    EXPECT_EQ(got, r.chunks) << r.paste;
  }
  std::string queue = "abcdef";
  ChunkSent(queue, 6, 2);
  EXPECT_EQ(queue, "cdef");  // what the port did not take goes first next time
}

TEST(LogName, ExpandsEachCodeAndCopiesOtherBytes) {
  std::tm t{};  // 2026/01/05 21:07
  t.tm_year = 126;
  t.tm_mday = 5;
  t.tm_hour = 21;
  t.tm_min = 7;
  const std::pair<std::string, std::string> rows[] = {
      {"%Y%M%D.LOG", "1260105.LOG"},
      {"%y-%M-%D.LOG", "2026-01-05.LOG"},
      {"HOST%H%I.LOG", "HOST2107.LOG"},
      {"100%%.LOG", "100.LOG"},
      {"A%mB", "AB"},
      {"LOG%", "LOG"},
      {"\x95\x5c-%D", "\x95\x5c-05"},
  };
  for (const auto& [tmpl, name] : rows) EXPECT_EQ(ExpandLogTemplate(tmpl, t), name) << tmpl;
  t.tm_year = 97;
  EXPECT_EQ(ExpandLogTemplate("%Y", t), "97");
}

TEST(Selection, CopiesOrderedEndsWithCrLfAndStartsOutOfSightAtTheTop) {
  TTextBuffer buffer;
  for (const char* line : {"", "zero one", "second", "third line"}) buffer.AddLine(line);
  struct Row {
    int32_t al, ac, cl, cc, top;
    std::string bytes;
  } rows[] = {
      {1, 5, 1, 2, 0, "ro o"},
      {3, 2, 1, 5, 0, "one\r\nsecond\r\nthi\r\n"},
      {1, 5, 3, 2, 2, "second\r\nthi\r\n"},
      {2, 0, 9, 50, 0, "second\r\nthird line\r\n\r\n"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(SelectedBytes(buffer, OrderSelEnds(r.al, r.ac, r.cl, r.cc, r.top)), r.bytes)
        << r.al << "," << r.ac << " " << r.cl << "," << r.cc;
}

TEST(ShiftJis, LackingCharactersEncodeAsQuestionMarksAndBadBytesDecodeAsReplacements) {
  const std::pair<std::string, std::string> encode[] = {
      {"abc", "abc"},
      {"\xe8\xa1\xa8", "\x95\x5c"},   // second byte 0x5C
      {"\xc2\xa5~", "\x5c~"},         // the yen sign is 0x5C
      {"a\xf0\x9f\x98\x80z", "a?z"},  // no Shift-JIS form
      {"\xe2\x82\xac\xff", "??"},     // euro sign, malformed UTF-8
  };
  for (const auto& [utf8, sjis] : encode) EXPECT_EQ(ShiftJisFromUtf8(utf8), sjis) << utf8;
  const std::pair<std::string, std::string> decode[] = {
      {"\x82\xa0z", "\xe3\x81\x82z"},
      {"\x82", "\xef\xbf\xbd"},                      // lead byte at the end
      {"\x82\rZ", "\xef\xbf\xbd\rZ"},                // no trail: the next byte stands
      {"\x85\x40\xa0", "\xef\xbf\xbd\xef\xbf\xbd"},  // unassigned pair, unused byte
  };
  for (const auto& [sjis, utf8] : decode) EXPECT_EQ(Utf8FromShiftJis(sjis), utf8) << sjis;
  EXPECT_EQ(PathFromShiftJis("\x95\x5c.LOG"), "\xe8\xa1\xa8.LOG");
  EXPECT_EQ(PathFromShiftJis("\x85\x40.LOG"), "\x85\x40.LOG");  // kept as it stands
  const std::pair<std::string, std::string> shown[] = {
      {"a\x1b]0;OWNED\x07\x1b[2J\rb", "a\\x1b]0;OWNED\\x07\\x1b[2J\\x0db"},
      {"\x9b;2J\x7f\x85", "\\x9b;2J\\x7f\\x85"},  // lone C1 bytes
      {"\x83\x9b\x95\x5c", "\x83\x9b\x95\x5c"},   // pairs with C1 and "\" second bytes
  };
  for (const auto& [name, visible] : shown) EXPECT_EQ(VisibleName(name), visible) << visible;
}

// A byte per notification: every split point at once. 'D' offers a download.
TEST(ZmodemSpotter, OffersTheHostsOpeningHeaderOnceUntilTextComesBetween) {
  const std::string zrqinit = zwire::HexHeader(0, 0) + "\x11", zrinit = zwire::HexHeader(1, 0x23);
  const std::pair<std::string, std::string> rows[] = {
      {"rz waiting to receive.*" + zrinit, "U"},
      {zwire::HexHeader(8, 0) + zwire::HexHeader(3, 0), ""},  // ZFIN, ZACK
      {zrqinit.substr(0, 3) + "x" + zrqinit.substr(3), ""},
      {zrqinit.substr(0, 9) + "\r" + zrqinit.substr(9), ""},
      {zrqinit.substr(0, 17) + "1\r\n", ""},  // a wrong check
      {zrqinit + zrqinit + "\x18\x18\b\b" + zrqinit + "$ " + zrinit, "DU"},
  };
  for (const auto& [stream, offers] : rows) {
    TZmodemSpotter spotter;
    std::string got;
    for (const char c : stream)
      if (const auto o = spotter.Feed(reinterpret_cast<const uint8_t*>(&c), 1);
          o != TZmodemOffer::None)
        got += o == TZmodemOffer::Download ? 'D' : 'U';
    EXPECT_EQ(got, offers) << stream;
  }
}

}  // namespace
