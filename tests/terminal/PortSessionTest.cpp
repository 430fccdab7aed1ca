// The port session on a virtual line: opening and closing, the modem
// hang-up, the carrier's events, dialing from the phone book, and an
// exception on the watcher.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "DeviceFollow.h"
#include "FlowChoice.h"
#include "LineLamps.h"
#include "LogTime.h"
#include "PtyPair.h"
#include "WindowTestSupport.h"

namespace {

const QString kConnected = "接続しました.";

class PortSessionTest : public ::testing::Test {
 protected:
  TKelTerm& OpenWindowOn(const std::string& devicePath) {
    h.WriteSettings(SettingsWithCom1(devicePath));
    return h.Open();
  }
  TestLine line;
  WindowHarness h;
};

TEST_F(PortSessionTest, ClosingWithCarrierAsksAndHangsUp) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  w.PortOC->click();
  line.far().SetFarRlsd(true);
  ASSERT_TRUE(WaitUntil([&] { return w.StatusText() == kConnected; }));
  const TLineLamps* lamps = w.StatusBar1->findChild<TLineLamps*>();
  ASSERT_TRUE(lamps);
  for (bool ring : {true, false}) {  // the lamps follow the far end's lines
    line.far().SetFarRing(ring);
    EXPECT_TRUE(WaitUntil([&] { return (lamps->Lit() & MS_RING_ON) == (ring ? MS_RING_ON : 0); }));
  }
  EXPECT_TRUE(lamps->Lit() & MS_RLSD_ON);
  std::string plus, ath;
  std::thread modem([&] {
    plus = line.far().ReadFor(3, 5s);
    ath = line.far().ReadFor(5, 5s);
    // The modem drops the carrier on "ATH"; the close already under way
    // must not take that for a second reason to close.
    line.far().SetFarRlsd(false);
  });
  bool enabledMeanwhile = false;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] { enabledMeanwhile |= w.isEnabled(); });
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
  const QLabel* text = w.StatusBar1->findChild<QLabel*>();  // painted disabled meanwhile
  EXPECT_LT(qGray(text->palette().color(QPalette::Disabled, QPalette::WindowText).rgb()), 96)
      << "the status text stays readable on the bar's gray";
  EXPECT_TRUE(w.isEnabled());
  EXPECT_FALSE(w.KELCOMM1->IsOpen() || w.PortOC->isChecked() || w.PortOpenClose->isChecked());
  EXPECT_EQ(lamps->Lit(), 0u) << "the lamps are off while the port is closed";
  EXPECT_EQ(h.statusTexts.mid(before),
            QStringList({"回線切断中です.", "ポートをクローズしました."}));
  EXPECT_EQ(line.far().ReadFor(1, 50ms), "");
}

// The list shows and keeps each port's word of line 9, the others' kept.
// With RTS/CTS, typed text waits while CTS is off and the bar says why.
TEST_F(PortSessionTest, FlowControlIsKeptPerPortAndCtsOffHoldsTypedText) {
  std::string file = SettingsWithCom1(line.DevicePath());
  TKelTerm& w = (h.WriteSettings(file.insert(file.size() - 2, ",,none,xonxoff")), h.Open());
  const std::tuple<int, int, int, std::string> rows[] = {
      {3, fcNone, fcXonXoff, ",,xonxoff,xonxoff"}, {4, fcXonXoff, fcRtsCts, ",,xonxoff"}};
  for (const auto& [port, shown, chosen, line9] : rows) {
    w.Port->setValue(port);
    EXPECT_EQ(w.FlowControl->currentIndex(), shown) << port;
    w.FlowControl->setCurrentIndex(chosen);
    EXPECT_EQ(w.SettingList.Line(9), line9);
  }
  w.Port->setValue(1), w.PortOC->click(), line.far().SetRts(false), w.KeyQueue = "typed";
  EXPECT_TRUE(WaitUntil([&] { return w.StatusReason() == "CTS がオフのため送信できません."; }));
  line.far().SetRts(true);
  EXPECT_TRUE(WaitUntil([&] { return w.StatusReason().isEmpty() && line.far().Available() == 5; }));
}

// Dialing a phone-book entry: the port opens first when closed, the modem reads
// the dial command, number and CR, and the status bar answers the carrier and
// keeps the word of its loss. Deleting with the focus on "抹消" picks nothing.
TEST(DialTest, PickedEntryDialsAndTheCarrierIsAnswered) {
  const QString lost = "回線が切れました.";
  struct Row {
    bool portOpen, doubleClick;
    QString dialCommand;
    std::string sent;
    QStringList statuses;
  } rows[] = {
      {false, false, "ATD", "ATD0123\r", {"通信ポートをオープンしました.", kConnected, lost}},
      {true, true, "ATDP", "ATDP0123\r", {kConnected, lost}}};
  for (const Row& r : rows) {
    TestLine modem;
    WindowHarness h;
    h.WriteSettings(SettingsWithCom1(modem.DevicePath()) + "gone\r\n9\r\n" + std::string(8, '\n') +
                    "host\r\n0123\r\nHOST.LOG\r\n" + std::string(7, '\n'));
    TKelTerm& w = h.Open();
    const QString defaultLogName = w.LogFileName->text();
    ActivateScreen(w);
    if (r.portOpen) w.PortOC->click();
    w.DialCommand->setText(r.dialCommand);
    w.NetSetting->trigger();
    w.NetList->setCurrentRow(0);
    w.NetListClick();
    w.DeleteNet->setFocus();  // as pressing it does
    w.DeleteNet->click();
    for (QWidget* c : std::initializer_list<QWidget*>{w.DialButton, w.DeleteNet, w.NetName,
                                                      w.NetTelNo, w.NetLogFileName})
      EXPECT_FALSE(c->isEnabled()) << "nothing is picked";
    const QPoint at = w.NetList->visualItemRect(w.NetList->item(0)).center();
    const int before = h.statusTexts.size();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
      SendMouse(w.NetList->viewport(), type, at);
    r.doubleClick ? SendMouse(w.NetList->viewport(), QEvent::MouseButtonDblClick, at)
                  : w.DialButton->click();
    EXPECT_EQ(modem.far().ReadFor(r.sent.size(), 2s), r.sent);
    EXPECT_EQ(w.LogFileName->text(), "HOST.LOG");
    EXPECT_FALSE(w.NetSettingPanel->isVisible());
    modem.far().SetFarRlsd(true);
    EXPECT_TRUE(WaitUntil([&] { return h.statusTexts.last() == kConnected; }));
    modem.far().SetFarRlsd(false);  // the host hangs up
    EXPECT_TRUE(WaitUntil([&] { return !w.KELCOMM1->IsOpen() && w.isEnabled(); }));
    EXPECT_EQ(h.statusTexts.mid(before), r.statuses) << r.sent;
    EXPECT_FALSE(w.PortOC->isChecked() || w.PortOpenClose->isChecked());
    EXPECT_EQ(w.LogFileName->text(), defaultLogName);
    EXPECT_EQ(modem.far().ReadFor(1, 50ms), "") << "no hang-up once the carrier is gone";
  }
}

// The port's device is a pty reached through a link in serial/by-id of a
// folder standing in for /dev; the link's folders go with the last link, as
// udev's do. Its vanishing ends the session as a carrier loss does and drops
// it from the list; its return opens the port again by itself, but only after
// a vanish and within the time allowed.
TEST(DeviceReturnTest, VanishedDeviceReopensWhenTheSamePathComesBack) {
  const struct Row {
    bool userCloses;
    std::chrono::milliseconds limit;
    bool reopens;
  } rows[] = {{false, 5min, true}, {true, 5min, false}, {false, 0ms, false}};
  for (const Row& r : rows) {
    QTemporaryDir dev;
    const std::filesystem::path byId = dev.filePath("serial/by-id").toStdString();
    const std::string link = byId / "usb-KelTerm_Test-if00";
    const auto plug = [&](const PtyPair& pty) {
      std::filesystem::create_directories(byId);
      ASSERT_EQ(symlink(pty.slavePath().c_str(), link.c_str()), 0);
    };
    PtyPair first, second;
    ASSERT_TRUE(first.ok() && second.ok());
    plug(first);
    WindowHarness h;
    h.WriteSettings(SettingsWithCom1(link));
    TKelTerm& w = h.Open();
    const auto listed = [&] { return w.PortDevice->findText(QString::fromStdString(link)) >= 0; };
    w.DeviceFollow->ReturnLimit = r.limit;
    w.DeviceFollow->SetRoot(dev.path().toStdString());
    EXPECT_TRUE(listed());
    w.PortOC->click();
    ASSERT_TRUE(w.KELCOMM1->IsOpen());
    if (r.userCloses) w.PortOC->click();
    first.CloseMaster();
    ASSERT_EQ(std::filesystem::remove_all(byId.parent_path()), 3u);
    ASSERT_TRUE(
        WaitUntil([&] { return !w.KELCOMM1->IsOpen() && w.isEnabled() && !listed(); }, 30s));
    if (!r.userCloses) {
      EXPECT_EQ(w.StatusText() + w.StatusReason(), "回線が切れました.デバイスが外されました.");
    }
    plug(second);
    ASSERT_TRUE(WaitUntil(listed, 30s));  // the port's fate is decided with the list
    EXPECT_EQ(w.KELCOMM1->IsOpen() && w.PortOC->isChecked(), r.reopens) << r.limit.count();
    if (!r.reopens) continue;
    EXPECT_EQ(w.StatusText(), "デバイスが戻りました. ポートを開きました.");
    w.KELCOMM1->WriteString("back");
    EXPECT_EQ(second.Read(4), "back");
  }
}

TEST_F(PortSessionTest, PortThatDoesNotOpenSaysWhyInTheStatusBar) {
  TKelTerm& w = OpenWindowOn("/dev/ttyUSB99");
  w.PortOC->click();
  EXPECT_EQ(w.StatusText(), "通信ポートをオープンできません.");
  EXPECT_TRUE(w.StatusReason().startsWith("/dev/ttyUSB99 はありません. "));
  EXPECT_EQ(w.StatusBar1->findChildren<QLabel*>(Qt::FindDirectChildrenOnly).last()->toolTip(),
            w.StatusReason());
}

// An exception raised on the serial watcher is shown in the error box.
TEST_F(PortSessionTest, WatcherExceptionReachesTheErrorBoxAndTheSessionGoesOn) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  w.PortOC->click();
  w.KELCOMM1->SwapCommReceive([](TComm* port, uint16_t size) {
    std::string bytes(size, '\0');
    port->Read(bytes.data(), size);
    throw std::runtime_error("受信処理の例外");
  });
  line.far().Write("x");
  ASSERT_TRUE(WaitUntil([&] { return !h.errorBoxes.isEmpty(); }));
  EXPECT_EQ(h.errorBoxes.first(), "受信処理の例外");
  EXPECT_TRUE(w.KELCOMM1->IsOpen() && w.PortOC->isChecked());
}

// The log header's time: the locale's short date and its long time as a
// desktop clock shows it, in digits and without a zone.
TEST(LogTimeTest, ShortDateAndLongTimeOfTheLocale) {
  const QDateTime when(QDate(2026, 12, 7), QTime(14, 35, 24), Qt::UTC);
  const std::pair<const char*, QString> rows[] = {
      {"ja_JP", "2026/12/07 14:35:24"}, {"en_US", "12/7/26 2:35:24 PM"},
      {"de_DE", "07.12.26 14:35:24"},   {"ko_KR", "26. 12. 7. 오후 2:35:24"},
      {"C", "7 Dec 2026 14:35:24"},
  };
  for (const auto& [name, text] : rows) EXPECT_EQ(LogTimeText(QLocale(name), when), text) << name;
}

}  // namespace
