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

}  // namespace
