// An exception raised on the serial watcher is shown in the error box and the
// program goes on.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QToolButton>
#include <stdexcept>
#include <thread>

#include "KelApplication.h"
#include "WindowTestSupport.h"

namespace {

TEST(ErrorBoxTest, WatcherExceptionReachesTheErrorBoxAndTheSessionGoesOn) {
  TestLine line;
  WindowHarness h;
  h.WriteSettings(SettingsWithCom1(line.DevicePath()));
  TKelTerm& w = h.Open();
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
