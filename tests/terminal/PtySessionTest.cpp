// A session on a pseudo-terminal standing in for a cable: the far side is
// the pty's master.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QToolButton>

#include "ProgramFolder.h"
#include "PtyPair.h"
#include "WindowTestSupport.h"

namespace {

TEST(PtySessionTest, BytesReachTheMasterAndItsCloseEndsTheSessionOnce) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  WindowHarness h;
  h.WriteSettings(SettingsWithCom1(pty.slavePath()));
  TKelTerm& w = h.Open();
  w.PortOC->click();
  ASSERT_TRUE(w.KELCOMM1->IsOpen()) << w.StatusText().toStdString();
  EXPECT_EQ(w.StatusText(), "通信ポートをオープンしました.");
  pty.ReleaseSlave();  // the window alone holds the line now

  const std::string text = "ATDT123\r\x82\xa0\xff";
  EXPECT_EQ(w.KELCOMM1->WriteString(text), static_cast<int>(text.size()));
  EXPECT_EQ(pty.Read(text.size(), 10000), text);

  const int before = h.statusTexts.size();
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return !w.KELCOMM1->IsOpen() && w.isEnabled(); }, 20s));
  // The watcher has left: whatever it reported is in the queue by now.
  QCoreApplication::processEvents();
  EXPECT_EQ(h.statusTexts.mid(before),
            QStringList({"回線が切れました.", "ポートをクローズしました."}));
  EXPECT_FALSE(w.PortOC->isChecked());
  EXPECT_FALSE(w.PortOpenClose->isChecked());
  EXPECT_TRUE(h.errorBoxes.isEmpty()) << h.errorBoxes.join("|").toStdString();
}

TEST(PtySessionTest, HostTextShowsOnTheScreenAndInTheDaysLog) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  WindowHarness h;
  h.WriteSettings(SettingsWithCom1(pty.slavePath()));
  TKelTerm& w = h.Open();
  const QString logName = w.LogFileName->text();
  w.PortOC->click();
  ASSERT_TRUE(w.KELCOMM1->IsOpen());
  ASSERT_TRUE(pty.WriteAll("Welcome\r\n\x93\xfa\x96\x7b\r\nlogin: "));
  ASSERT_TRUE(WaitUntil([&] {
    const std::vector<std::string> rows = w.ScreenRows();
    return rows.size() >= 3 && rows.back().starts_with("login: ");
  }));
  const std::vector<std::string> rows = w.ScreenRows();
  EXPECT_TRUE(rows[rows.size() - 3].starts_with("Welcome "));
  EXPECT_TRUE(rows[rows.size() - 2].starts_with("\x93\xfa\x96\x7b "));
  w.PortOC->click();  // a pty has carrier: the harness answers Yes, the hang-up runs
  ASSERT_TRUE(WaitUntil([&] { return !w.KELCOMM1->IsOpen() && w.isEnabled(); }));
  const std::string log = ReadFileBytes(ProgramFilePath(logName));
  EXPECT_NE(log.find("Welcome\r\n\x93\xfa\x96\x7b\r\nlogin: \r\n"), std::string::npos) << log;
}

}  // namespace
