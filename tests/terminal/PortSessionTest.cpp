// Opening and closing the port session on a virtual line, the modem hang-up
// and the carrier's events.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <thread>

#include "SerialDevice.h"
#include "WindowTestSupport.h"

namespace {

const QString kOpened = "通信ポートをオープンしました.";
const QString kCannotOpen = "通信ポートをオープンできません.";
const QString kClosed = "ポートをクローズしました.";
const QString kConnected = "接続しました.";
const QString kLost = "回線が切れました.";
const QString kHangingUp = "回線切断中です.";

class PortSessionTest : public ::testing::Test {
 protected:
  TKelTerm& OpenWindowOn(const std::string& devicePath) {
    h.WriteSettings(SettingsWithCom1(devicePath));
    TKelTerm& w = h.Open();
    return w;
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

TEST_F(PortSessionTest, OpensOnTheChosenDeviceAndClosesWithoutCarrierAtOnce) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  w.PortOC->click();
  EXPECT_EQ(w.StatusText(), kOpened);
  ExpectSessionShown(w, true);
  EXPECT_TRUE(line.far().ModemStatus() & MS_DSR_ON) << "the window's DTR is up";
  EXPECT_EQ(w.KELCOMM1->BaudRate(), 38400);
  w.KELCOMM1->WriteString("AT\r");
  EXPECT_EQ(line.far().ReadFor(3, 2s), "AT\r");
  w.PortOpenClose->trigger();
  ExpectSessionShown(w, false);
  EXPECT_EQ(w.StatusText(), kClosed);
  EXPECT_TRUE(h.questions.isEmpty()) << "no carrier, no question";
  EXPECT_EQ(line.far().ReadFor(1, 50ms), "") << "no hang-up without carrier";
  EXPECT_TRUE(h.errorBoxes.isEmpty());
}

TEST_F(PortSessionTest, OpenFailureLeavesTheSessionClosedWithoutErrorBox) {
  // The line's end 0 is already held by another user.
  auto holder = OpenSerialDevice(line.DevicePath());
  ASSERT_TRUE(holder);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"missing virtual line", "virtual:no-such-line"},
      {"device in use", line.DevicePath()},
  };
  for (const auto& [name, path] : cases) {
    WindowHarness harness;
    harness.WriteSettings(SettingsWithCom1(path));
    TKelTerm& w = harness.Open();
    w.KeyQueue = "typed while closed";
    w.PortOC->click();
    EXPECT_EQ(w.StatusText(), kCannotOpen) << name;
    EXPECT_FALSE(w.KELCOMM1->IsOpen()) << name;
    EXPECT_FALSE(w.PortOC->isChecked()) << name;
    EXPECT_FALSE(w.PortOpenClose->isChecked()) << name;
    EXPECT_TRUE(w.KeyQueue.empty()) << name;
    EXPECT_TRUE(harness.errorBoxes.isEmpty()) << name;
  }
  holder->Close();
}

TEST_F(PortSessionTest, ClosingWithCarrierHangsUpAndTakesAboutTwoSeconds) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  w.PortOC->click();
  CarrierOn(w);

  using Clock = std::chrono::steady_clock;
  Clock::time_point hangUpShown{}, plusSeen{}, athSeen{};
  std::string plus, ath;
  std::thread reader([&] {
    plus = line.far().ReadFor(3, 5s);
    plusSeen = Clock::now();
    ath = line.far().ReadFor(5, 5s);
    athSeen = Clock::now();
    // The modem drops the carrier on "ATH"; the close already under way
    // must not take that for a second reason to close.
    line.far().SetFarRlsd(false);
  });
  QObject::connect(&w, &TKelTerm::StatusTextShown, [&](const QString& text) {
    if (text == kHangingUp) hangUpShown = Clock::now();
  });
  std::vector<bool> enabledSamples;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] { enabledSamples.push_back(w.isEnabled()); });
  sampler.start(50);

  const int before = h.statusTexts.size();
  const auto start = Clock::now();
  w.PortOC->click();
  const auto took = Clock::now() - start;
  sampler.stop();
  reader.join();

  ASSERT_EQ(h.questions.size(), 1);
  EXPECT_EQ(h.questions[0],
            "KELTERM|回線がつながったままです。\r\nポートをクローズしていいですか。");
  EXPECT_EQ(plus, "+++");
  EXPECT_EQ(ath, "ATH\r\n");
  EXPECT_LT(plusSeen - hangUpShown, 600ms) << "the escape goes out at once";
  EXPECT_GE(athSeen - hangUpShown, 1200ms);
  EXPECT_GE(took, 1800ms);
  EXPECT_LT(took, 3000ms);
  ASSERT_GE(enabledSamples.size(), 10u);
  for (bool enabled : enabledSamples) EXPECT_FALSE(enabled);
  EXPECT_TRUE(w.isEnabled());
  ExpectSessionShown(w, false);
  EXPECT_EQ(h.statusTexts.mid(before), QStringList({kHangingUp, kClosed}));
  EXPECT_EQ(line.far().ReadFor(1, 50ms), "");
}

TEST_F(PortSessionTest, AnsweringNoKeepsTheSessionOpen) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  w.PortOC->click();
  CarrierOn(w);
  h.answerYes = false;
  w.PortOC->click();
  EXPECT_EQ(h.questions.size(), 1);
  ExpectSessionShown(w, true);
  w.PortOpenClose->trigger();
  EXPECT_EQ(h.questions.size(), 2);
  ExpectSessionShown(w, true);
  EXPECT_EQ(line.far().ReadFor(1, 50ms), "") << "nothing sent";
}

TEST_F(PortSessionTest, CarrierLossClosesTheSessionOnce) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  const QString defaultLogName = w.LogFileName->text();
  w.PortOC->click();
  CarrierOn(w);
  const int before = h.statusTexts.size();
  line.far().SetFarRlsd(false);
  ASSERT_TRUE(WaitUntil([&] { return !w.KELCOMM1->IsOpen() && w.isEnabled(); }));
  EXPECT_EQ(h.statusTexts.mid(before), QStringList({kLost, kClosed}));
  ExpectSessionShown(w, false);
  EXPECT_EQ(w.LogFileName->text(), defaultLogName);
  EXPECT_EQ(line.far().ReadFor(1, 50ms), "") << "no hang-up once the carrier is gone";
}

TEST_F(PortSessionTest, ClosingTheWindowHangsUpAndClosesThePort) {
  TKelTerm& w = OpenWindowOn(line.DevicePath());
  w.PortOC->click();
  CarrierOn(w);
  std::string bytes;
  std::thread reader([&] { bytes = line.far().ReadFor(8, 5s); });
  h.CloseWindow();
  reader.join();
  EXPECT_EQ(bytes, "+++ATH\r\n");
  EXPECT_FALSE(w.KELCOMM1->IsOpen());
  EXPECT_TRUE(h.questions.isEmpty()) << "exit does not ask";
  EXPECT_EQ(h.ReadSettings(), SettingsWithCom1(line.DevicePath()));
}

}  // namespace
