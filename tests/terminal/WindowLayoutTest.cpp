// What the window shows at start, and the controls that keep the layout.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "WindowTestSupport.h"

namespace {

TEST(WindowLayoutTest, WidthIsFixedAndHeightFollows) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  EXPECT_EQ(w.size(), QSize(655, 529));
  for (QSize asked : {QSize(900, 700), QSize(300, 400)}) {
    w.resize(asked);
    ASSERT_TRUE(WaitUntil([&] { return w.height() == asked.height(); }));
    EXPECT_EQ(w.width(), 655);
  }
}

TEST(WindowLayoutTest, PanesStartHiddenAndTheScreenTakesTheKeys) {
  WindowHarness h;
  TKelTerm& w = h.Open();
  const std::pair<QWidget*, const char*> panes[] = {{w.NetSettingPanel, "phone book"},
                                                    {w.ModemSettingPanel, "modem"},
                                                    {w.BackText, "back-scroll"},
                                                    {w.Separater1, "splitter"},
                                                    {w.Panel2, "one-line box"}};
  for (const auto& [pane, name] : panes) EXPECT_FALSE(pane->isVisible()) << name;
  EXPECT_TRUE(w.StatusBar1->isVisible());
  EXPECT_TRUE(w.Timer2->isActive());
  EXPECT_EQ(w.KELCOMM1->EventMask(), TCommEventMask({evRlsd}));
  EXPECT_TRUE(w.KeyGard->isChecked()) << "keys are allowed from the start";
  EXPECT_TRUE(WaitUntil([&] { return w.TextDrawBox->hasFocus(); }));
}

}  // namespace
