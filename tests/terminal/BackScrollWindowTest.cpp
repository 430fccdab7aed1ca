// The back-scroll pane in the window: the keys at the terminal screen that
// open, move and hide it without reaching the host, and the splitter under it
// that sizes it within its limits.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QToolButton>

#include "WindowTestSupport.h"

namespace {

class BackScrollWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    w = &h.Open();
    w->activateWindow();
    QApplication::setActiveWindow(w);
    w->TextDrawBox->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == w->TextDrawBox; }));
  }
  WindowHarness h;
  TKelTerm* w = nullptr;
};

TEST_F(BackScrollWindowTest, PageUpOpensThePaneAndEscapeHidesIt) {
  w->Session.Clear(std::vector<std::string>(30, "line"));  // 32 lines
  w->Timer2Timer();                                        // the scroll range follows
  struct Step {
    int key;
    bool shown;
    int position;
  };
  // A page is the pane's 7 whole rows and one.
  const Step steps[] = {
      {Qt::Key_PageUp, true, 31}, {Qt::Key_PageUp, true, 31 - 8}, {Qt::Key_Escape, false, 31 - 8}};
  for (const Step& st : steps) {
    QKeyEvent press(QEvent::KeyPress, st.key, Qt::NoModifier);
    QApplication::sendEvent(w->TextDrawBox, &press);
    EXPECT_TRUE(WaitUntil([&] { return w->BackText->isVisible() == st.shown; })) << st.key;
    EXPECT_EQ(w->BackScroll->isChecked(), st.shown);
    EXPECT_EQ(w->SpeedButton4->isChecked(), st.shown);
    EXPECT_EQ(w->BackTextScrollBar->value(), st.position) << st.key;
    EXPECT_EQ(QApplication::focusWidget(), w->TextDrawBox);
  }
  QKeyEvent typed(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
  QApplication::sendEvent(w->TextDrawBox, &typed);
  EXPECT_EQ(w->KeyQueue, "x") << "only the pane's keys stay off the line";
}

TEST_F(BackScrollWindowTest, SplitterSizesThePaneWithinItsLimits) {
  TSeparater* s = w->Separater1;
  w->BackScrollClick();
  ASSERT_TRUE(WaitUntil(
      [&] { return s->isVisible() && s->y() == w->BackText->y() + w->BackText->height(); }));
  const int top = w->BackText->y();
  const int client = w->centralWidget()->height();
  struct Step {
    const char* name;
    int moveBy;
    int height;
  };
  // The grab at the bar's middle (y 3 of 6) puts its top where the pointer goes.
  const Step steps[] = {{"down", 38, 182},
                        {"up", -100, 82},
                        {"past the top", -2000, 1},
                        {"past the bottom", 5000, client - 6 - 3 - top}};
  for (const Step& st : steps) {
    SendMouse(s, QEvent::MouseButtonPress, QPoint(30, 3));
    SendMouse(s, QEvent::MouseMove, QPoint(30, 3 + st.moveBy));
    SendMouse(s, QEvent::MouseButtonRelease, QPoint(30, 3 + st.moveBy));
    EXPECT_EQ(w->BackText->height(), st.height) << st.name;
    EXPECT_EQ(w->BackText->y(), top) << st.name;
    EXPECT_TRUE(WaitUntil([&] { return s->y() == w->BackText->y() + w->BackText->height(); }))
        << st.name << ": the layout puts the bar under the pane";
  }
}

}  // namespace
