// The terminal screen: the pixels of its characters and caret, and text
// from a host arriving over a virtual line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QImage>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include "PaintBox.h"
#include "WindowTestSupport.h"

namespace {

class ScreenTest : public ::testing::Test {
 protected:
  TKelTerm& Open() {
    TKelTerm& w = h.Open();
    w.Timer2->stop();  // the test draws when it wants to
    return w;
  }
  void Receive(TKelTerm& w, const std::string& bytes) {
    std::lock_guard lock(w.TextBuffer.Mutex());
    w.TextBuffer.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), nullptr);
  }
  void SetScreenHeight(TKelTerm& w, int height) {
    w.PaintBox1->setFixedHeight(height);
    QApplication::processEvents();
    ASSERT_EQ(w.PaintBox1->height(), height);
  }
  // Gives the screen the focus in an active window, so the caret shows.
  void Activate(TKelTerm& w) {
    w.activateWindow();
    QApplication::setActiveWindow(&w);
    w.TextDrawBox->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == w.TextDrawBox; }));
  }
  WindowHarness h;
};

TEST_F(ScreenTest, CaretAndDoubleByteCharactersOnThePixels) {
  TKelTerm& w = Open();
  Activate(w);
  w.ClearBuffer(false);
  Receive(w,
          "\x93\xfa"
          "A");  // a double-byte character, then one byte
  SetScreenHeight(w, 180);
  w.TextDraw();
  const QImage img = w.PaintBox1->grab().toImage();
  auto dark = [&](int x, int y) { return qGray(img.pixel(x, y)) < 128; };
  auto darkIn = [&](int x0, int x1, int y0, int y1) {
    for (int x = x0; x < x1; ++x)
      for (int y = y0; y < y1; ++y)
        if (dark(x, y)) return true;
    return false;
  };
  // The character covers columns 0 and 1: ink in both halves of its 16 px.
  EXPECT_TRUE(darkIn(1, 8, 2, 16));
  EXPECT_TRUE(darkIn(8, 15, 2, 16));
  // The caret: a solid 10 x 20 block at column 3 of the first row.
  EXPECT_EQ(w.CaretColumn(), 3);
  for (int x = 24; x < 34; ++x)
    for (int y = 0; y < 18; ++y) ASSERT_TRUE(dark(x, y)) << x << "," << y;
  EXPECT_FALSE(darkIn(35, 60, 0, 18)) << "nothing right of the caret";

  w.Protocol->setFocus();  // the screen loses the focus: no caret
  ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() != w.TextDrawBox; }));
  w.TextDraw();
  const QImage after = w.PaintBox1->grab().toImage();
  EXPECT_GT(qGray(after.pixel(28, 8)), 128);
}

TEST_F(ScreenTest, HostTextArrivesOnTheScreenAtTheNextTick) {
  TestLine line;
  h.WriteSettings(SettingsWithCom1(line.DevicePath()));
  TKelTerm& w = h.Open();
  w.PortOC->click();
  ASSERT_TRUE(w.KELCOMM1->IsOpen());
  line.far().Write("login: \r\nguest\x08\x08st\r\n\x1b[0m");
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<std::string> rows = w.ScreenRows();
    return rows.size() >= 3 && rows[rows.size() - 2].starts_with("guest ") &&
           rows.back().starts_with("[0m ");
  })) << "the timer redraws what the watcher received";
  std::vector<std::string> rows = w.ScreenRows();
  EXPECT_TRUE(rows[rows.size() - 3].starts_with("login: "));
  EXPECT_EQ(w.CaretColumn(), 3);
  EXPECT_EQ(w.BackTextScrollBar->maximum(), 19) << "the tick follows the line count";
}

}  // namespace
