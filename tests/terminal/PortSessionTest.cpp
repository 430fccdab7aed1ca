// The port session on a virtual line: opening and closing, the modem
// hang-up, the carrier's events, dialing from the phone book, and an
// exception on the watcher.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <stdexcept>
#include <thread>

#include "WindowTestSupport.h"

namespace {

const QString kClosed = "ポートをクローズしました.";
const QString kConnected = "接続しました.";

class PortSessionTest : public ::testing::Test {
 protected:
  TKelTerm& OpenWindowOn(const std::string& devicePath) {
    h.WriteSettings(SettingsWithCom1(devicePath));
    return h.Open();
  }
  void ExpectSessionShown(TKelTerm& w, bool open) {
    EXPECT_EQ(w.KELCOMM1->IsOpen(), open);
    EXPECT_EQ(w.PortOC->isChecked(), open);
    EXPECT_EQ(w.PortOpenClose->isChecked(), open);
  }
  // Turns the carrier on from the far end and waits for the window to see it.
  void CarrierOn(TKelTerm& w) {
    line.far().SetFarRlsd(true);
    ASSERT_TRUE(WaitUntil([&] { return w.StatusText() == kConnected; }));
  }

  TestLine line;
  WindowHarness h;
};

TEST_F(PortSessionTest, ClosingWithCarrierAsksAndHangsUp) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  w.PortOC->click();
  CarrierOn(w);
  std::string plus, ath;
  std::thread modem([&] {
    plus = line.far().ReadFor(3, 5s);
    ath = line.far().ReadFor(5, 5s);
    // The modem drops the carrier on "ATH"; the close already under way
    // must not take that for a second reason to close.
    line.far().SetFarRlsd(false);
  });
  bool enabledMeanwhile = false;
  int palestText = 0;  // the gray of the status text's darkest pixel, at its palest
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    enabledMeanwhile |= w.isEnabled();
    if (!w.isEnabled()) palestText = std::max(palestText, DarkestGray(w.StatusBar1));
  });
  sampler.start(50);
  const int before = h.statusTexts.size();
  w.PortOC->click();
  sampler.stop();
  modem.join();
  ASSERT_EQ(h.questions.size(), 1);
  EXPECT_EQ(h.questions[0],
            "KELTERM|回線がつながったままです。\r\nポートをクローズしていいですか。");
  EXPECT_EQ(plus, "+++");
  EXPECT_EQ(ath, "ATH\r\n");
  EXPECT_FALSE(enabledMeanwhile) << "the window takes no input while it hangs up";
  EXPECT_LT(palestText, 96) << "the status text stays readable on the bar's gray";
  EXPECT_TRUE(w.isEnabled());
  ExpectSessionShown(w, false);
  EXPECT_EQ(h.statusTexts.mid(before), QStringList({"回線切断中です.", kClosed}));
  EXPECT_EQ(line.far().ReadFor(1, 50ms), "");
}

TEST_F(PortSessionTest, CarrierLossClosesTheSessionOnce) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  const QString defaultLogName = w.LogFileName->text();
  w.PortOC->click();
  CarrierOn(w);
  const int before = h.statusTexts.size();
  line.far().SetFarRlsd(false);
  ASSERT_TRUE(WaitUntil([&] { return !w.KELCOMM1->IsOpen() && w.isEnabled(); }));
  EXPECT_EQ(h.statusTexts.mid(before), QStringList({"回線が切れました."}))
      << "the user is left with the reason the session ended";
  ExpectSessionShown(w, false);
  EXPECT_EQ(w.LogFileName->text(), defaultLogName);
  EXPECT_EQ(line.far().ReadFor(1, 50ms), "") << "no hang-up once the carrier is gone";
}

// Dialing an entry of the phone book: the port opens first when it is
// closed, the modem reads the dial command, the number and CR, and the
// status bar answers when the modem reports the carrier.
TEST(DialTest, PickedEntryDialsAndTheCarrierIsAnswered) {
  struct Row {
    bool portOpen, doubleClick;
    QString dialCommand;
    std::string sent;
    QStringList statuses;
  } rows[] = {{false, false, "ATD", "ATD0123\r", {"通信ポートをオープンしました.", kConnected}},
              {true, true, "ATDP", "ATDP0123\r", {kConnected}}};
  for (const Row& r : rows) {
    TestLine modem;
    WindowHarness h;
    h.WriteSettings(SettingsWithCom1(modem.DevicePath()) + "host\r\n0123\r\nHOST.LOG\r\n" +
                    std::string(14, '\n'));
    TKelTerm& w = h.Open();
    if (r.portOpen) w.PortOC->click();
    w.DialCommand->setText(r.dialCommand);
    w.NetSetting->trigger();
    const QPoint at = w.NetList->visualItemRect(w.NetList->item(0)).center();
    const int before = h.statusTexts.size();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
      SendMouse(w.NetList->viewport(), type, at);
    if (r.doubleClick) {
      SendMouse(w.NetList->viewport(), QEvent::MouseButtonDblClick, at);
    } else {
      w.DialButton->click();
    }
    EXPECT_EQ(modem.far().ReadFor(r.sent.size(), 2s), r.sent);
    EXPECT_EQ(w.LogFileName->text(), "HOST.LOG");
    EXPECT_FALSE(w.NetSettingPanel->isVisible());
    modem.far().SetFarRlsd(true);
    EXPECT_TRUE(WaitUntil([&] { return h.statusTexts.last() == kConnected; }));
    EXPECT_EQ(h.statusTexts.mid(before), r.statuses) << r.sent;
    modem.far().SetFarRlsd(false);  // the host hangs up: no hang-up at the window's close
    EXPECT_TRUE(WaitUntil([&] { return !w.KELCOMM1->IsOpen(); }));
  }
}

// Deleting the picked entry rebuilds the list: nothing is picked, so there
// is nothing to dial, delete or edit, even with the focus on "抹消".
TEST(PhoneBookTest, DeletingTheFocusedEntryLeavesNothingPicked) {
  WindowHarness h;
  h.WriteSettings(SettingsWithCom1("") + "one\r\n111\r\n" + std::string(8, '\n') +
                  "two\r\n222\r\n" + std::string(8, '\n'));
  TKelTerm& w = h.Open();
  ActivateScreen(w);
  w.NetSetting->trigger();
  w.NetList->setCurrentRow(0);
  w.NetListClick();
  w.DeleteNet->setFocus();  // as pressing it does
  w.DeleteNet->click();
  ASSERT_EQ(w.NetList->count(), 1);
  for (QWidget* c : std::initializer_list<QWidget*>{w.DeleteNet, w.DialButton, w.NetName,
                                                    w.NetTelNo, w.NetLogFileName})
    EXPECT_FALSE(c->isEnabled()) << c->metaObject()->className();
}

// An exception raised on the serial watcher is shown in the error box.
TEST_F(PortSessionTest, WatcherExceptionReachesTheErrorBoxAndTheSessionGoesOn) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  w.PortOC->click();
  ASSERT_TRUE(w.KELCOMM1->IsOpen());
  w.KELCOMM1->SwapCommReceive([](TComm* port, uint16_t size) {
    std::string bytes(size, '\0');
    port->Read(bytes.data(), size);
    throw std::runtime_error("受信処理の例外");
  });
  line.far().Write("x");
  ASSERT_TRUE(WaitUntil([&] { return !h.errorBoxes.isEmpty(); }));
  EXPECT_EQ(h.errorBoxes.first(), "受信処理の例外");
  EXPECT_TRUE(w.KELCOMM1->IsOpen());
  EXPECT_TRUE(w.PortOC->isChecked());
}

}  // namespace
