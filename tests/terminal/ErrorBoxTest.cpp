// An exception that escapes a handler is shown in the error box and the
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

class Thrower : public QObject {
 public:
  int handled = 0;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("ハンドラの例外");
    if (e->type() == QEvent::Type(QEvent::User + 1)) {
      ++handled;
      return true;
    }
    return QObject::event(e);
  }
};

TEST(ErrorBoxTest, ExceptionInAnEventHandlerIsShownAndTheLoopGoesOn) {
  WindowHarness h;  // the recorder in place of the box
  Thrower target;
  QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(QEvent::User + 1)));
  QEvent direct(QEvent::User);
  QCoreApplication::sendEvent(&target, &direct);
  ASSERT_TRUE(WaitUntil([&] { return target.handled == 1; }));
  EXPECT_EQ(h.errorBoxes, QStringList({"ハンドラの例外", "ハンドラの例外"}));
}

TEST(ErrorBoxTest, MessagesFromOtherThreadsAreShownOnTheMainThread) {
  WindowHarness h;
  std::thread other([] { ShowErrorBoxLater("別スレッドの例外"); });
  other.join();
  EXPECT_TRUE(h.errorBoxes.isEmpty()) << "shown by the event loop, not by the caller";
  ASSERT_TRUE(WaitUntil([&] { return !h.errorBoxes.isEmpty(); }));
  EXPECT_EQ(h.errorBoxes, QStringList({"別スレッドの例外"}));
}

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
