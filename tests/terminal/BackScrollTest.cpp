// The back-scroll pane in the window: scroll range and rows, selection with
// the mouse, copying plain and quoted, the keys at the terminal screen, and
// the colours on the pixels.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <thread>

#include "PaintBox.h"
#include "WindowTestSupport.h"

namespace {

constexpr int CH = TKelTerm::kBackRowHeight;

void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(at), QPointF(target->mapTo(target->window(), at)),
                    QPointF(target->mapToGlobal(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

// The pixel point inside the cell (line row, column) of the pane.
QPoint Cell(int row, int column) { return QPoint(column * 8 + 3, row * CH + 5); }

QString Clipboard() { return QGuiApplication::clipboard()->text(); }

class BackScrollTest : public ::testing::Test {
 protected:
  TKelTerm& Open() {
    TKelTerm& w = h.Open();
    w.Timer2->stop();  // the test ticks when it wants to
    return w;
  }
  // An empty buffer with lines 1 to count - 2 from text(i) and an empty
  // current line, and the scroll range brought up to date.
  void Fill(TKelTerm& w, int count, const std::function<std::string(int)>& text) {
    w.ClearBuffer(false);
    {
      std::lock_guard lock(w.TextBuffer.Mutex());
      for (int i = 1; i <= count - 2; ++i) w.TextBuffer.AddLine(text(i));
    }
    w.Timer2Timer();
    w.BackTextDraw();  // as the next paint event would
  }
  static std::string Numbered(int i) {
    return "Ln" + std::to_string(i) + std::string(12, static_cast<char>('a' + i % 26));
  }
  void ShowPane(TKelTerm& w) {
    if (!w.BackScroll->isChecked()) w.BackScrollClick();
    ASSERT_TRUE(WaitUntil([&] { return w.PaintBox2->isVisible(); }));
    ASSERT_EQ(w.PaintBox2->height(), 138);
  }
  void Activate(TKelTerm& w) {
    w.activateWindow();
    QApplication::setActiveWindow(&w);
    w.TextDrawBox->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == w.TextDrawBox; }));
  }
  static std::string Line(TKelTerm& w, int i) {
    std::lock_guard lock(w.TextBuffer.Mutex());
    return std::string(w.TextBuffer.Line(static_cast<size_t>(i)));
  }
  static QImage Pane(TKelTerm& w) {
    return w.PaintBox2->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  // Dark ink in the middle of a cell (away from its edges).
  static bool Ink(const QImage& img, int row, int column) {
    for (int x = column * 8 + 2; x < column * 8 + 6; ++x)
      for (int y = row * CH + 1; y < row * CH + CH - 1; ++y)
        if (qGray(img.pixel(x, y)) < 128) return true;
    return false;
  }
  // Sets a selection as a mouse drag from (line, column) to (line, column) would.
  static void Select(TKelTerm& w, int32_t al, int32_t ac, int32_t cl, int32_t cc) {
    w.SelAnchorLine = al;
    w.SelAnchorCol = ac;
    w.SelCurLine = cl;
    w.SelCurCol = cc;
    w.SelExists = true;
  }
  void Key(TKelTerm& w, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w.TextDrawBox, &press);
  }
  WindowHarness h;
};

TEST_F(BackScrollTest, RangeRunsFromTheRowsToTheLastLineAndTheTopShowsLineOne) {
  TKelTerm& w = Open();
  ShowPane(w);
  Fill(w, 100, [](int i) { return std::string(static_cast<size_t>(i), 'X'); });
  EXPECT_EQ(w.BackTextScrollBar->minimum(), 7);
  EXPECT_EQ(w.BackTextScrollBar->maximum(), 99);
  w.BackTextScrollBar->setValue(0);  // kept at the minimum
  w.BackTextDraw();
  EXPECT_EQ(w.BackTopLine, 1);
  EXPECT_EQ(w.BackBottomLine, 7);
  const QImage img = Pane(w);
  for (int row = 0; row < 7; ++row) {
    // Line row + 1 holds row + 1 letters: its last one is in column row.
    EXPECT_TRUE(Ink(img, row, row)) << "row " << row;
    EXPECT_FALSE(Ink(img, row, row + 1)) << "row " << row;
  }
}

TEST_F(BackScrollTest, FewerLinesThanRowsShowLineZeroAndABlankRowUnderTheLast) {
  TKelTerm& w = Open();
  ShowPane(w);
  Fill(w, 3, [](int) { return std::string("X"); });
  {
    std::lock_guard lock(w.TextBuffer.Mutex());
    w.TextBuffer.Receive(reinterpret_cast<const uint8_t*>("XX"), 2, nullptr);  // current line
  }
  const QImage plain = Pane(w);
  EXPECT_FALSE(Ink(plain, 0, 0)) << "line 0 is empty";
  EXPECT_TRUE(Ink(plain, 1, 0));
  EXPECT_FALSE(Ink(plain, 1, 1));
  EXPECT_TRUE(Ink(plain, 2, 1)) << "the current line";
  EXPECT_FALSE(Ink(plain, 3, 0));
  // Everything selected, so that each shown row paints its background blue.
  Select(w, 0, 0, 2, 99);
  w.BackTextDraw();
  EXPECT_EQ(w.BackTopLine, 0);
  EXPECT_EQ(w.BackBottomLine, 2);
  const QImage img = Pane(w);
  EXPECT_EQ(img.pixel(20, 0 * CH + 1) & 0xFFFFFF, 0x0000FFu) << "line 0 is shown";
  EXPECT_EQ(img.pixel(20, 2 * CH + 1) & 0xFFFFFF, 0x0000FFu) << "the current line is shown";
  for (int x = 0; x < 400; x += 7)
    ASSERT_EQ(img.pixel(x, 3 * CH + 9) & 0xFFFFFF, 0xFFFFFFu) << "the blank row, x " << x;
}

TEST_F(BackScrollTest, SelectedRowsAreYellowOnBlue) {
  TKelTerm& w = Open();
  ShowPane(w);
  Fill(w, 5, [](int) { return std::string("ABCDEFGH"); });
  Select(w, 3, 3, 1, 2);  // given backwards: the ends are put in order
  w.BackTextDraw();
  ASSERT_EQ(w.BackTopLine, 0);
  const QImage img = Pane(w);
  auto back = [&](int row, int column) {
    return img.pixel(column * 8 + 4, row * CH + 1) & 0xFFFFFF;
  };
  auto yellowInk = [&](int row, int c0, int c1) {
    for (int x = c0 * 8; x < c1 * 8; ++x)
      for (int y = row * CH; y < row * CH + CH; ++y) {
        const QColor c = QColor::fromRgb(img.pixel(x, y));
        if (c.red() > 200 && c.green() > 200 && c.blue() < 80) return true;
      }
    return false;
  };
  struct Row {
    int row, column;
    QRgb want;
  };
  const Row rows[] = {{0, 4, 0xFFFFFF}, {1, 1, 0xFFFFFF}, {1, 40, 0x0000FF},
                      {2, 0, 0x0000FF}, {3, 3, 0x0000FF}, {3, 4, 0xFFFFFF}};
  for (const Row& r : rows)
    EXPECT_EQ(back(r.row, r.column), r.want) << "row " << r.row << " column " << r.column;
  EXPECT_TRUE(yellowInk(1, 2, 8));
  EXPECT_TRUE(yellowInk(3, 0, 4));
  EXPECT_FALSE(yellowInk(3, 4, 8)) << "after the end the text is black again";
  EXPECT_TRUE(Ink(img, 3, 5));
  EXPECT_TRUE(Ink(img, 1, 0)) << "before the start the text is black";
}

TEST_F(BackScrollTest, PressAndReleaseInOneCellSelectsNothingOneColumnMoreSelectsTwoBytes) {
  TKelTerm& w = Open();
  ShowPane(w);
  Activate(w);
  Fill(w, 30, Numbered);
  w.BackTextScrollBar->setValue(20);
  w.BackTextDraw();
  ASSERT_EQ(w.BackTopLine, 14);
  auto drag = [&](QPoint from, QPoint to) {
    SendMouse(w.PaintBox2, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    if (from != to) SendMouse(w.PaintBox2, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    SendMouse(w.PaintBox2, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  };
  std::string text = "stale";
  drag(Cell(2, 3), Cell(2, 3));
  EXPECT_FALSE(w.SelExists);
  w.GetSelBackText(text);
  EXPECT_EQ(text, "");
  drag(Cell(2, 3), Cell(2, 4));
  EXPECT_TRUE(w.SelExists);
  w.GetSelBackText(text);
  EXPECT_EQ(text, Line(w, 16).substr(3, 2));
}

TEST_F(BackScrollTest, ThreeLineSelectionCopiesEachLineWithCrLf) {
  TKelTerm& w = Open();
  ShowPane(w);
  Activate(w);
  Fill(w, 40, [](int i) {
    return i == 10 ? std::string(150, 'L') : "line" + std::to_string(i) + "-text";
  });
  w.BackTextScrollBar->setValue(14);
  w.BackTextDraw();
  ASSERT_EQ(w.BackTopLine, 8);
  Select(w, 10, 3, 12, 5);
  const std::string want = std::string(100, 'L') + "\r\nline11-text\r\nline12\r\n";
  std::string text;
  w.GetSelBackText(text);
  EXPECT_EQ(text, want);
  w.K3->trigger();
  EXPECT_EQ(Clipboard(), QString::fromStdString(want));
  w.K4->trigger();
  EXPECT_EQ(Clipboard(), QString::fromStdString(">" + std::string(100, 'L') +
                                                "\r\n>line11-text\r\n>line12\r\n"));
}

TEST_F(BackScrollTest, DraggingOutsideThePaneScrollsItAndAHiddenStartBeginsAtTheTop) {
  TKelTerm& w = Open();
  ShowPane(w);
  Fill(w, 100, Numbered);
  w.BackTextScrollBar->setValue(20);
  w.BackTextDraw();
  ASSERT_EQ(w.BackTopLine, 14);
  SendMouse(w.PaintBox2, QEvent::MouseButtonPress, Cell(1, 2), Qt::LeftButton, Qt::LeftButton);
  const QPoint below(10, 138 + 40);  // row 9 of a pane of 7
  const int positions[] = {23, 26, 29};
  for (int want : positions) {
    SendMouse(w.PaintBox2, QEvent::MouseMove, below, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(w.BackTextScrollBar->value(), want);
    EXPECT_EQ(w.BackBottomLine, want);
  }
  SendMouse(w.PaintBox2, QEvent::MouseButtonRelease, below, Qt::LeftButton, Qt::NoButton);
  ASSERT_EQ(w.BackTopLine, 23);
  ASSERT_EQ(w.SelCurLine, 32);
  std::string want;
  for (int i = 23; i < 32; ++i) want += Line(w, i) + "\r\n";
  want += Line(w, 32).substr(0, 2) + "\r\n";
  std::string text;
  w.GetSelBackText(text);
  EXPECT_EQ(text, want) << "line 15 has scrolled out: the copy starts at line 23, column 0";
}

TEST_F(BackScrollTest, CopyTakesTheFocusedControlsSelection) {
  TKelTerm& w = Open();
  ShowPane(w);
  Activate(w);
  Fill(w, 30, Numbered);
  w.OneLineEditClick();
  ASSERT_TRUE(WaitUntil([&] { return w.focusWidget() == w.Edit1; }));
  w.Edit1->setText(QStringLiteral("hello 世界"));
  w.Edit1->setSelection(6, 2);
  Select(w, 5, 0, 5, 3);
  w.K3->trigger();
  EXPECT_EQ(Clipboard(), QStringLiteral("世界"));
  w.K4->trigger();
  EXPECT_EQ(Clipboard(), QStringLiteral(">世界"));
}

TEST_F(BackScrollTest, KeysAtTheScreenMoveShowAndHideThePaneAndNeverReachTheHost) {
  TKelTerm& w = Open();
  Activate(w);
  Fill(w, 100, Numbered);
  ASSERT_FALSE(w.BackScroll->isChecked());
  ASSERT_EQ(w.BackTextScrollBar->value(), 7);
  struct Step {
    const char* name;
    int key;
    bool shown;
    int position;
  };
  const Step steps[] = {
      {"page down while hidden", Qt::Key_PageDown, false, 15},
      {"up opens at the end", Qt::Key_Up, true, 99},
      {"up", Qt::Key_Up, true, 98},
      {"down", Qt::Key_Down, true, 99},
      {"down at the end closes", Qt::Key_Down, false, 99},
      {"page up opens at the end", Qt::Key_PageUp, true, 99},
      {"escape closes", Qt::Key_Escape, false, 99},
  };
  for (const Step& s : steps) {
    Key(w, s.key);
    EXPECT_EQ(w.BackScroll->isChecked(), s.shown) << s.name;
    EXPECT_EQ(w.SpeedButton4->isChecked(), s.shown) << s.name;
    EXPECT_EQ(w.BackText->isVisible(), s.shown) << s.name;
    EXPECT_EQ(w.Separater1->isVisible(), s.shown) << s.name;
    EXPECT_EQ(w.BackTextScrollBar->value(), s.position) << s.name;
    EXPECT_EQ(w.focusWidget(), w.TextDrawBox) << s.name;
  }
  EXPECT_EQ(w.KeyQueue, "") << "no back-scroll key is typed to the host";
  Key(w, Qt::Key_A, QStringLiteral("a"));
  EXPECT_EQ(w.KeyQueue, "a") << "other keys still are";
}

// Reception appends on another thread while the pane draws and copies; the
// buffer's lock keeps them apart (the sanitizer runs watch this).
TEST_F(BackScrollTest, DrawingAndCopyingReadTheBufferUnderItsLock) {
  TKelTerm& w = Open();
  ShowPane(w);
  Fill(w, 20, Numbered);
  Select(w, 3, 0, 30, 4);
  std::atomic<bool> done{false};
  std::thread host([&] {
    const std::string chunk = "receive text\r";
    for (int i = 0; i < 2000; ++i) {
      std::lock_guard lock(w.TextBuffer.Mutex());
      w.TextBuffer.Receive(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(), nullptr);
    }
    done = true;
  });
  std::string text;
  while (!done) {
    w.Timer2Timer();
    w.BackTextScrollBar->setValue(w.BackTextScrollBar->value() + 3);
    w.GetSelBackText(text);
  }
  host.join();
  w.Timer2Timer();
  EXPECT_EQ(w.BackTextScrollBar->maximum(), 20 + 2000 - 1);
  w.BackTextScrollBar->setValue(w.BackTextScrollBar->minimum());  // the start in sight
  ASSERT_EQ(w.BackTopLine, 1);
  w.GetSelBackText(text);
  EXPECT_TRUE(text.starts_with(Line(w, 3) + "\r\n" + Line(w, 4) + "\r\n"));
  EXPECT_TRUE(text.ends_with("\r\nrecei\r\n"));
}

}  // namespace
