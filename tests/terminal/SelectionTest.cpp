// The back-scroll rules without a window: ordering the ends of a selection,
// the runs and colours of each row, the copied bytes, their decoding, and
// the key table.
#include <gtest/gtest.h>

#include <QString>
#include <string>
#include <vector>

#include "BackScrollView.h"
#include "TextBuffer.h"

namespace {

// Lines 0 to 19: "" then "line01" and so on; line 10 padded with "#".
void FillNumbered(TTextBuffer& b, size_t longLine) {
  for (int i = 0; i < 20; ++i) {
    std::string text = i == 0 ? "" : "line" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    if (i == 10 && longLine > text.size()) text.resize(longLine, '#');
    b.AddLine(text);
  }
  // line 20 is the empty current line
}

bool operator==(const TSelEnds& a, const TSelEnds& b) {
  return a.L1 == b.L1 && a.C1 == b.C1 && a.L2 == b.L2 && a.C2 == b.C2;
}

TEST(SelectionTest, EndsAreOrderedAndAStartOutOfSightBeginsAtTheTop) {
  struct Row {
    const char* name;
    int32_t al, ac, cl, cc, top;
    TSelEnds want;
  };
  const Row rows[] = {
      {"forward", 10, 3, 12, 5, 0, {10, 3, 12, 5}},
      {"backward over lines", 12, 5, 10, 3, 0, {10, 3, 12, 5}},
      {"start above the top", 3, 4, 12, 5, 8, {8, 0, 12, 5}},
      {"start at the top stays", 8, 4, 12, 5, 8, {8, 4, 12, 5}},
      {"end above, start below", 12, 5, 3, 4, 8, {8, 0, 12, 5}},
  };
  for (const Row& r : rows)
    EXPECT_TRUE(OrderSelEnds(r.al, r.ac, r.cl, r.cc, r.top) == r.want) << r.name;
}

TEST(SelectionTest, RowsAreCutIntoNormalAndSelectedRuns) {
  const std::string line = "0123456789";
  const std::string pad84(84, ' ');
  const TSelEnds multi{4, 3, 6, 5};
  const TSelEnds single{5, 2, 5, 4};
  struct Row {
    const char* name;
    int32_t index;
    const TSelEnds* sel;
    std::vector<TBackRun> want;
  };
  const std::vector<Row> rows = {
      {"no selection", 5, nullptr, {{0, line + pad84, false}}},
      {"above the start", 3, &multi, {{0, line + pad84, false}}},
      {"between", 5, &multi, {{0, line + pad84, true}}},
      {"first line", 4, &multi, {{0, "012", false}, {3, "3456789" + pad84, true}}},
      {"last line", 6, &multi, {{0, "012345", true}, {6, "6789" + pad84.substr(0, 84), false}}},
      {"one line",
       5,
       &single,
       {{0, "01", false},
        {2, "23456789" + pad84, true},
        {2, "234", true},
        {5, "56789" + pad84, false}}},
  };
  for (const Row& r : rows) {
    const std::vector<TBackRun> got = BackRowRuns(line, r.index, r.sel);
    ASSERT_EQ(got.size(), r.want.size()) << r.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].Column, r.want[i].Column) << r.name << " run " << i;
      EXPECT_EQ(got[i].Bytes, r.want[i].Bytes.substr(0, 100)) << r.name << " run " << i;
      EXPECT_EQ(got[i].Selected, r.want[i].Selected) << r.name << " run " << i;
    }
  }
}

TEST(SelectionTest, LongRowsShowAHundredColumns) {
  const std::string line(150, 'a');
  const std::vector<TBackRun> plain = BackRowRuns(line, 0, nullptr);
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].Bytes, std::string(100, 'a'));
  const TSelEnds sel{0, 0, 0, 97};
  const std::vector<TBackRun> runs = BackRowRuns(line, 0, &sel);
  ASSERT_EQ(runs.size(), 3u) << "nothing before column 0";
  EXPECT_EQ(runs[1].Bytes, std::string(98, 'a'));
  EXPECT_EQ(runs.back().Column, 98);
  EXPECT_EQ(runs.back().Bytes, "aaa") << "100 - C2 bytes after the end";
}

TEST(SelectionTest, CopiedBytesFollowTheLinesAndTheirLimits) {
  TTextBuffer b;
  FillNumbered(b, 150);
  const std::string line10 = std::string(b.Line(10));
  struct Row {
    const char* name;
    TSelEnds ends;
    std::string want;
  };
  const Row rows[] = {
      {"three lines", {10, 3, 12, 5}, line10.substr(3, 100) + "\r\nline11\r\nline12\r\n"},
      {"one line", {12, 1, 12, 3}, "ine"},
      {"one line past its end", {12, 4, 12, 40}, "12"},
      {"one line, start past its end", {12, 10, 12, 40}, ""},
      {"end below the buffer", {19, 4, 45, 2}, "19\r\n\r\n"},
  };
  for (const Row& r : rows) EXPECT_EQ(SelectedBytes(b, r.ends), r.want) << r.name;
}

TEST(SelectionTest, ASplitDoubleByteCharacterCopiesAsAReplacementCharacter) {
  // "日本" is 93 FA 96 7B; cutting after the third byte leaves a lead byte.
  const std::string bytes =
      "A\x93\xfa\x96\r\n\x7b"
      "B\r\n";
  const QString text = DecodeCopiedText(bytes);
  EXPECT_EQ(text, QString::fromUtf16(u"A日\uFFFD\r\n{B\r\n"));
  EXPECT_EQ(DecodeCopiedText("\xb1\xb2"), QString::fromUtf16(u"ｱｲ"));
}

TEST(SelectionTest, KeyTableMovesShowsAndHides) {
  const int32_t count = 100;  // the end is 99
  const int32_t page = 8;
  struct Row {
    const char* name;
    int key;
    bool shown;
    int32_t pos;
    TBackKeyResult want;
  };
  using P = TPaneChange;
  const Row rows[] = {
      {"escape shown", Qt::Key_Escape, true, 50, {true, P::Hide, 50, true}},
      {"escape hidden", Qt::Key_Escape, false, 50, {false, P::Keep, 0, false}},
      {"up shown", Qt::Key_Up, true, 50, {true, P::Keep, 49, false}},
      {"up hidden", Qt::Key_Up, false, 50, {true, P::Show, 99, false}},
      {"down shown at the end", Qt::Key_Down, true, 99, {true, P::Hide, 99, false}},
      {"down hidden", Qt::Key_Down, false, 50, {true, P::Keep, 51, false}},
      {"page up shown", Qt::Key_PageUp, true, 50, {true, P::Keep, 42, false}},
      {"page up shown near 0", Qt::Key_PageUp, true, 8, {true, P::Keep, 0, false}},
      {"page down near the end", Qt::Key_PageDown, true, 91, {true, P::Keep, 99, false}},
      {"page down hidden", Qt::Key_PageDown, false, 50, {true, P::Keep, 58, false}},
      {"other key", Qt::Key_A, true, 50, {false, P::Keep, 0, false}},
  };
  for (const Row& r : rows) {
    const TBackKeyResult got = BackScrollKey(r.key, r.shown, r.pos, count, page);
    EXPECT_EQ(got.Used, r.want.Used) << r.name;
    if (!got.Used) continue;
    EXPECT_EQ(got.Pane, r.want.Pane) << r.name;
    EXPECT_EQ(got.Position, r.want.Position) << r.name;
    EXPECT_EQ(got.FocusScreen, r.want.FocusScreen) << r.name;
  }
}

}  // namespace
