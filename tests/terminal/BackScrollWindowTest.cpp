// The back-scroll pane in the window: the keys at the terminal screen that
// open, move and hide it without reaching the host, and the splitter under it
// that sizes it within its limits.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QToolButton>

#include "WindowTestSupport.h"

namespace {

TEST(BackScrollWindowTest, PageUpOpensThePaneAndEscapeHidesIt) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  ActivateScreen(w);
  w.Session.Clear(std::vector<std::string>(30, "line"));  // 32 lines
  w.Timer2Timer();                                        // the scroll range follows
  // A page is the pane's 7 whole rows and one.
  const std::tuple<int, bool, int> steps[] = {
      {Qt::Key_PageUp, true, 31}, {Qt::Key_PageUp, true, 23}, {Qt::Key_Escape, false, 23}};
  for (const auto& [key, shown, position] : steps) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w.TextDrawBox, &press);
    EXPECT_TRUE(WaitUntil([&] { return w.BackText->isVisible() == shown; })) << key;
    EXPECT_EQ(w.BackScroll->isChecked(), shown);
    EXPECT_EQ(w.SpeedButton4->isChecked(), shown);
    EXPECT_EQ(w.BackTextScrollBar->value(), position) << key;
    EXPECT_EQ(QApplication::focusWidget(), w.TextDrawBox);
  }
  QKeyEvent typed(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
  QApplication::sendEvent(w.TextDrawBox, &typed);
  EXPECT_EQ(w.KeyQueue, "x") << "only the pane's keys stay off the line";
}

TEST(BackScrollWindowTest, SplitterSizesThePaneWithinItsLimits) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  TSeparater* s = w.Separater1;
  auto stacked = [&] { return s->isVisible() && s->y() == w.BackText->y() + w.BackText->height(); };
  w.BackScrollClick();
  ASSERT_TRUE(WaitUntil(stacked));
  const int top = w.BackText->y();
  const int shared = w.BackText->height() + w.TextDrawBox->height();  // by pane and screen
  // The grab at the bar's middle (3 of 6 rows) puts its top where the pointer goes.
  const std::tuple<const char*, int, int> steps[] = {
      {"down", 38, 182},
      {"up", -100, 82},
      {"past the top", -2000, TKelTerm::kBackRowHeight + 6},        // a row in its bevels
      {"past the bottom", 5000, shared - TKelTerm::kScreenPitch}};  // the screen's row
  for (const auto& [name, moveBy, height] : steps) {
    SendMouse(s, QEvent::MouseButtonPress, QPoint(30, 3));
    SendMouse(s, QEvent::MouseMove, QPoint(30, 3 + moveBy));
    SendMouse(s, QEvent::MouseButtonRelease, QPoint(30, 3 + moveBy));
    EXPECT_EQ(w.BackText->height(), height) << name;
    EXPECT_EQ(w.BackText->y(), top) << name;
    EXPECT_TRUE(WaitUntil(stacked)) << name << ": the layout puts the bar under the pane";
    EXPECT_EQ(w.size(), QSize(655, 529)) << name << ": a drag never resizes the window";
  }
}

}  // namespace
