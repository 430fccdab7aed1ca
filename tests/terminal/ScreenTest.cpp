// The terminal screen: the pixels of its characters and caret.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>

#include "PaintBox.h"
#include "WindowTestSupport.h"

namespace {

TEST(ScreenTest, CaretAndDoubleByteCharactersOnThePixels) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  w.Timer2->stop();   // the test draws when it wants to
  ActivateScreen(w);  // so the caret shows
  w.ClearBuffer(false);
  const std::string bytes = "\x93\xfaZ";  // a double-byte character, then one byte
  {
    std::lock_guard lock(w.TextBuffer.Mutex());
    w.TextBuffer.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), nullptr);
  }
  w.PaintBox1->setFixedHeight(180);
  QApplication::processEvents();
  ASSERT_EQ(w.PaintBox1->height(), 180);
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
  EXPECT_GT(qGray(w.PaintBox1->grab().toImage().pixel(28, 8)), 128);
}

}  // namespace
