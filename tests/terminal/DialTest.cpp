// Dialing a phone-book entry over a virtual line: the port opens first when
// it is closed, the far end receives the dial command, the number and CR in
// one piece, and the session logs under the entry's template.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

#include "LogName.h"
#include "PaneTestSupport.h"
#include "ProgramFolder.h"

namespace {

const QString kOpened = "通信ポートをオープンしました.";
const QString kCannotOpen = "通信ポートをオープンできません.";
const QString kNotStarted = "通信が開始されていない。";

QString Expanded(const std::string& logTemplate) {
  return FromShiftJis(ExpandLogTemplate(logTemplate, LocalTimeNow()));
}

class DialTest : public ::testing::Test {
 protected:
  TKelTerm& OpenWith(const std::string& device, const std::vector<TestEntry>& entries) {
    h.WriteSettings(SettingsWithEntries(device, entries));
    TKelTerm& w = h.Open();
    ActivateWindow(w);
    return w;
  }
  // Opens the phone book and picks the entry, as the user does.
  static void Pick(TKelTerm& w, int entry) {
    if (!w.NetSetting->isChecked()) w.NetSetting->trigger();
    ClickItem(w.NetList, entry);
    ASSERT_TRUE(w.DialButton->isEnabled());
  }
  static void ExpectPhoneBookClosed(TKelTerm& w) {
    EXPECT_FALSE(w.NetSettingPanel->isVisible());
    EXPECT_FALSE(w.NetSetting->isChecked());
    EXPECT_FALSE(w.SpeedButton2->isChecked());
  }

  TestLine line;
  WindowHarness h;
};

TEST_F(DialTest, ClosedPortOpensFirstAndTheSessionLogsUnderTheEntrysName) {
  TKelTerm& w = OpenWith(line.DevicePath(), {});
  w.NetSetting->trigger();
  w.AddNet->click();
  Pick(w, 0);
  FocusOn(w.NetLogFileName);
  ReplaceText("DIAL%y.LOG");
  const QString logName = Expanded("DIAL%y.LOG");

  const int before = h.statusTexts.size();
  w.DialButton->click();
  EXPECT_EQ(line.far().ReadFor(16, 2s), "ATD999-999-9999\r");
  EXPECT_EQ(h.statusTexts.mid(before), QStringList({kOpened}));
  EXPECT_TRUE(w.KELCOMM1->IsOpen());
  EXPECT_TRUE(w.PortOC->isChecked());
  EXPECT_EQ(w.LogFileName->text(), logName);
  ExpectPhoneBookClosed(w);
  EXPECT_TRUE(WaitUntil([&] { return w.TextDrawBox->hasFocus(); }));

  line.far().Write("CONNECT 2400\r\n");
  const QString path = ProgramFilePath(logName);
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFileBytes(path).find("CONNECT 2400\r\n") != std::string::npos;
  })) << ReadFileBytes(path);
  EXPECT_TRUE(h.errorBoxes.isEmpty());
}

TEST_F(DialTest, OpenPortSendsAtOnceAndKeepsItsLog) {
  TKelTerm& w = OpenWith(line.DevicePath(), {{"host", "0123", "HOST%y.LOG"}});
  const QString defaultName = w.LogFileName->text();
  w.PortOC->click();
  ASSERT_TRUE(w.KELCOMM1->IsOpen());
  w.KeyGard->trigger();  // the key gate closed: dialing goes out anyway
  ASSERT_FALSE(w.KeyGard->isChecked());
  Pick(w, 0);
  const int before = h.statusTexts.size();
  w.DialButton->click();
  EXPECT_EQ(line.far().ReadFor(8, 2s), "ATD0123\r");
  EXPECT_EQ(h.statusTexts.size(), before) << "no second open";
  EXPECT_EQ(w.LogFileName->text(), Expanded("HOST%y.LOG")) << "only the shown name changes";

  line.far().Write("BUSY\r\n");
  const QString openLog = ProgramFilePath(defaultName);
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFileBytes(openLog).find("BUSY\r\n") != std::string::npos;
  })) << ReadFileBytes(openLog);
  EXPECT_EQ(ReadFileBytes(ProgramFilePath(w.LogFileName->text())), "<missing>");
}

TEST_F(DialTest, DoubleClickPicksAndDials) {
  TKelTerm& w = OpenWith(line.DevicePath(), {{"a", "111", "A.LOG"}, {"b", "222", "B.LOG"}});
  w.NetSetting->trigger();
  ClickItem(w.NetList, 1, true);
  EXPECT_EQ(line.far().ReadFor(7, 2s), "ATD222\r");
  EXPECT_EQ(w.LogFileName->text(), "B.LOG");
  ExpectPhoneBookClosed(w);
}

TEST_F(DialTest, PortThatCannotOpenEndsInTheErrorBoxAndKeepsThePhoneBook) {
  TKelTerm& w = OpenWith("virtual:no-such-line", {{"host", "555", "H.LOG"}});
  const std::vector<std::string> lines = w.SettingList.Lines;
  Pick(w, 0);
  const int before = h.statusTexts.size();
  w.DialButton->click();
  EXPECT_EQ(h.statusTexts.mid(before), QStringList({kCannotOpen}));
  EXPECT_EQ(h.errorBoxes, QStringList({kNotStarted}));
  EXPECT_FALSE(w.KELCOMM1->IsOpen());
  EXPECT_FALSE(w.PortOC->isChecked());
  ExpectPhoneBookClosed(w);
  EXPECT_EQ(w.SettingList.Lines, lines);
}

}  // namespace
