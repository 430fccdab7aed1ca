// The splitter: which presses start a drag, where the inverted line may go,
// what the release reports and resizes, that no inverted pixel survives a
// drag, and the kind's effect on size, alignment and cursor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <memory>
#include <optional>

#include "Separate.h"
#include "WindowTestSupport.h"

namespace {

void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons held) {
  const QPointF local(at);
  const QPointF inWindow(target->mapTo(target->window(), at));
  QMouseEvent event(type, local, inWindow, QPointF(target->mapToGlobal(at)), button, held,
                    Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

void Press(QWidget* w, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonPress, at, b, b);
}
void MoveTo(QWidget* w, QPoint at) {
  SendMouse(w, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
}
void Release(QWidget* w, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonRelease, at, b, Qt::NoButton);
}

QImage Grab(QWidget* w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Pixels inside rect are the inverse of before, all others unchanged; the
// answer names the first pixel that is not.
std::optional<QPoint> NotInvertedExactly(const QImage& before, const QImage& now,
                                         const QRect& rect) {
  for (int y = 0; y < before.height(); ++y)
    for (int x = 0; x < before.width(); ++x) {
      const QRgb was = before.pixel(x, y) & 0xFFFFFF;
      const QRgb is = now.pixel(x, y) & 0xFFFFFF;
      const QRgb want = rect.contains(x, y) ? (was ^ 0xFFFFFF) : was;
      if (is != want) return QPoint(x, y);
    }
  return std::nullopt;
}

struct EndDrag {
  QObject* sender;
  int32_t pos;
  int32_t cg;
};

// A form with a coloured area holding a child control and the bar; the bar's
// parent sits at (10, 20) in the form, so the line has to be placed in the
// form's coordinates.
class SeparaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<QWidget>();
    form->resize(320, 240);
    Paint(form.get(), Qt::white);
    area = new QWidget(form.get());
    area->setGeometry(10, 20, 300, 200);
    Paint(area, QColor(200, 120, 40));
    child = new QLabel(QStringLiteral("child control"), area);
    child->setGeometry(5, 60, 200, 40);
    Paint(child, QColor(30, 160, 90));
    bar = new TSeparater(area);
    bar->setGeometry(0, 80, 300, 5);
    bar->SetColor(QColor(0, 0, 128));
    bar->OnEndDrag = [this](QObject* s, int32_t p, int32_t c) { ends.push_back({s, p, c}); };
    bar->OnStartDrag = [this](QObject*) { ++starts; };
    form->show();
    ASSERT_TRUE(WaitUntil([&] { return form->isVisible(); }));
  }
  static void Paint(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
  }
  // Where a 3 px line at LinePos p lies in the form.
  static QRect LineAt(int p) { return QRect(10, 20 + p - 1, 300, 3); }

  std::unique_ptr<QWidget> form;
  QWidget* area = nullptr;
  QLabel* child = nullptr;
  TSeparater* bar = nullptr;
  std::vector<EndDrag> ends;
  int starts = 0;
};

TEST_F(SeparaterTest, ARightButtonDragDrawsNothing) {
  const QImage before = Grab(form.get());
  Press(bar, QPoint(10, 2), Qt::RightButton);
  EXPECT_FALSE(bar->Dragging());
  SendMouse(bar, QEvent::MouseMove, QPoint(10, 40), Qt::NoButton, Qt::RightButton);
  EXPECT_EQ(Grab(form.get()), before);
  Release(bar, QPoint(10, 40), Qt::RightButton);
  EXPECT_EQ(starts, 0);
  EXPECT_TRUE(ends.empty());
}

TEST_F(SeparaterTest, LineInvertsTheAreaUnderItAndLeavesNothingBehind) {
  const QImage before = Grab(form.get());
  Press(bar, QPoint(10, 2));
  EXPECT_EQ(starts, 1);
  // LinePos starts at the bar's middle: 80 + 5 div 2.
  EXPECT_EQ(NotInvertedExactly(before, Grab(form.get()), LineAt(82)), std::nullopt);
  MoveTo(bar, QPoint(10, -10));  // over the child control
  EXPECT_EQ(NotInvertedExactly(before, Grab(form.get()), LineAt(70)), std::nullopt)
      << "the child control is inverted too";
  MoveTo(bar, QPoint(10, 30));
  EXPECT_EQ(NotInvertedExactly(before, Grab(form.get()), LineAt(110)), std::nullopt);
  Release(bar, QPoint(10, 30));
  EXPECT_EQ(Grab(form.get()), before) << "every line drawn has been erased";
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].sender, bar);
  EXPECT_EQ(ends[0].pos, 108);
  EXPECT_EQ(ends[0].cg, 28);
}

TEST_F(SeparaterTest, LineStaysBetweenTheMargins) {
  struct Row {
    const char* name;
    int pointerY;
    int linePos;
  };
  // The parent is 200 high: the line may go from 1 to 200 - 6.
  const Row rows[] = {{"past the top", -500, 1}, {"past the bottom", 500, 194}};
  for (const Row& r : rows) {
    ends.clear();
    const QImage before = Grab(form.get());
    Press(bar, QPoint(20, 2));  // GrabOffset 2 - 2 = 0
    MoveTo(bar, QPoint(20, r.pointerY));
    EXPECT_EQ(NotInvertedExactly(before, Grab(form.get()), LineAt(r.linePos)), std::nullopt)
        << r.name;
    Release(bar, QPoint(20, r.pointerY));
    ASSERT_EQ(ends.size(), 1u) << r.name;
    EXPECT_EQ(ends[0].pos, r.linePos - 2) << r.name;
    EXPECT_EQ(ends[0].cg, r.linePos - 2 - 80) << r.name;
    EXPECT_EQ(Grab(form.get()), before) << r.name;
  }
}

TEST_F(SeparaterTest, PressAndReleaseInPlaceReportsNoChange) {
  Press(bar, QPoint(100, 4));
  Release(bar, QPoint(100, 4));
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].pos, 80);
  EXPECT_EQ(ends[0].cg, 0);
}

TEST_F(SeparaterTest, ReleaseResizesTheControlledControlUntilItIsGone) {
  auto* pane = new QFrame(area);
  pane->setGeometry(0, 30, 300, 50);
  bar->SetReSizeCtrl(pane);
  EXPECT_EQ(pane->y(), -1) << "placed first, before the bar";
  Press(bar, QPoint(10, 2));
  MoveTo(bar, QPoint(10, 22));
  Release(bar, QPoint(10, 22));
  EXPECT_EQ(pane->height(), 100 - (-1)) << "new top 100 minus the control's top";
  Press(bar, QPoint(10, 2));
  MoveTo(bar, QPoint(10, -300));
  Release(bar, QPoint(10, -300));
  EXPECT_EQ(pane->height(), 1) << "a control is never sized away";
  delete pane;
  EXPECT_EQ(bar->ReSizeCtrl(), nullptr) << "the removal is noticed";
}

TEST_F(SeparaterTest, LevelKindAtRunTimeIsAFivePixelColumn) {
  bar->setFixedHeight(12);
  bar->SetKind(Tkind::Level);
  EXPECT_EQ(bar->Kind(), Tkind::Level);
  EXPECT_EQ(bar->width(), 5);
  EXPECT_EQ(bar->maximumWidth(), 5);
  EXPECT_EQ(bar->Align(), TAlign::alLeft);
  EXPECT_EQ(bar->cursor().shape(), Qt::SplitHCursor);
}

// The window's splitter under the back-scroll pane.
TEST(Separater1Test, DraggingResizesTheBackScrollPane) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  TSeparater* s = w.Separater1;
  w.BackScrollClick();
  ASSERT_TRUE(WaitUntil(
      [&] { return s->isVisible() && s->y() == w.BackText->y() + w.BackText->height(); }));
  const int top = w.BackText->y();

  struct Step {
    const char* name;
    int moveBy;
    int height;
  };
  const Step steps[] = {{"down", 38, 182}, {"up", -100, 82}, {"past the top", -2000, 1}};
  for (const Step& st : steps) {
    Press(s, QPoint(30, 3));  // GrabOffset 3 - 3 = 0
    MoveTo(s, QPoint(30, 3 + st.moveBy));
    Release(s, QPoint(30, 3 + st.moveBy));
    EXPECT_EQ(w.BackText->height(), st.height) << st.name;
    EXPECT_EQ(w.BackText->y(), top) << st.name;
    ASSERT_TRUE(WaitUntil([&] { return s->y() == w.BackText->y() + w.BackText->height(); }))
        << st.name << ": the layout puts the bar under the pane";
  }
  // Past the bottom the line stops 6 px above the client area's bottom.
  const int client = w.centralWidget()->height();
  Press(s, QPoint(30, 3));
  MoveTo(s, QPoint(30, 5000));
  Release(s, QPoint(30, 5000));
  EXPECT_EQ(w.BackText->height(), client - 6 - 3 - top);
}

}  // namespace
