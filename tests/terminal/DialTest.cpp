// Dialing a phone-book entry over a virtual line: the port opens first when
// it is closed, the far end receives the dial command, the number and CR in
// one piece, and the session logs under the entry's template.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

#include "LogName.h"
#include "PaneTestSupport.h"
#include "ProgramFolder.h"
#include "PtyPair.h"

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
  const QString defaultName = w.LogFileName->text();
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
  w.PortOC->click();
  EXPECT_FALSE(w.KELCOMM1->IsOpen());
  EXPECT_EQ(w.LogFileName->text(), defaultName) << "the close restores the default name";
  EXPECT_EQ(ReadFileBytes(ProgramFilePath(defaultName)), "<missing>");
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

TEST_F(DialTest, DialTextIsCommandNumberAndCrAsTyped) {
  struct Case {
    const char* what;
    QString command, number;
    std::string sent;
  };
  const std::vector<Case> cases = {
      {"tone dialing", "ATDT", "03-1234-5678", "ATDT03-1234-5678\r"},
      {"empty number", "ATD", "", "ATD\r"},
      {"empty command", "", "123", "123\r"},
      {"spaces kept", "ATD ", " 1 2 ", "ATD  1 2 \r"},
  };
  TKelTerm& w = OpenWith(line.DevicePath(), {{"host", "1", "D.LOG"}});
  w.ModemSetting->trigger();
  for (const Case& c : cases) {
    FocusOn(w.DialCommand);
    ReplaceText(c.command);
    Pick(w, 0);
    FocusOn(w.NetTelNo);
    ReplaceText(c.number);
    w.DialButton->click();
    EXPECT_EQ(line.far().ReadFor(c.sent.size() + 1, 300ms), c.sent) << c.what;
    EXPECT_EQ(FromShiftJis(w.SettingList.Line(2)), c.command) << c.what;
    EXPECT_EQ(FromShiftJis(w.SettingList.Line(11)), c.number) << c.what;
  }
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
  h.CloseWindow();
  EXPECT_EQ(h.ReadSettings(),
            SettingsWithEntries("virtual:no-such-line", {{"host", "555", "H.LOG"}}));
}

// The whole path on a pseudo-terminal: the device typed in the modem pane, a
// new host dialed from the phone book, the session logged under the host's
// name, and everything there again after a restart.
TEST_F(DialTest, HostOnAPseudoTerminalIsDialedLoggedAndRemembered) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  TKelTerm& w = h.Open();
  ActivateWindow(w);
  w.ModemSetting->trigger();
  FocusOn(w.PortDevice);
  TypeText(QString::fromStdString(pty.slavePath()));
  w.NetSetting->trigger();
  w.AddNet->click();
  Pick(w, 0);
  FocusOn(w.NetName);
  ReplaceText("パソコン通信");
  FocusOn(w.NetLogFileName);
  ReplaceText("PC%y.LOG");
  w.DialButton->click();
  EXPECT_EQ(pty.Read(16), "ATD999-999-9999\r");
  const QString logName = Expanded("PC%y.LOG");
  EXPECT_EQ(w.LogFileName->text(), logName);
  ASSERT_TRUE(pty.WriteAll("CONNECT 9600\r\n"));
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFileBytes(ProgramFilePath(logName)).find("CONNECT 9600\r\n") != std::string::npos;
  }));
  h.CloseWindow();
  EXPECT_EQ(pty.Read(8), "+++ATH\r\n") << "a pty has carrier: the exit hangs up";

  TKelTerm& again = h.Open();
  again.ModemSetting->trigger();
  EXPECT_EQ(again.PortDevice->currentText().toStdString(), pty.slavePath());
  again.NetSetting->trigger();
  EXPECT_EQ(ItemTexts(again.NetList), QStringList({"パソコン通信"}));
  EXPECT_TRUE(h.errorBoxes.isEmpty()) << h.errorBoxes.join("|").toStdString();
}

}  // namespace
