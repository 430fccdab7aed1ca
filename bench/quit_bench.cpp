// How long quitting takes after demo sessions: the window's close (with the
// hang-up when a call is still up) and then the end of the demo line, as the
// program ends. Runs the real window against the demo line on Qt's
// offscreen platform and prints a table. With the port closed and no
// transfer of the window's own, the whole quit is expected under 0.3 s.

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "DemoLine.h"
#include "DemoSettings.h"
#include "KTerm.h"
#include "KelApplication.h"
#include "ProgramFolder.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    QEventLoop slice;
    QTimer::singleShot(5, &slice, &QEventLoop::quit);
    slice.exec();
  }
  return true;
}

struct Scenario {
  const char* name;
  int calls;         // dialled one after the other
  const char* keys;  // typed at the host's menu in each call
  bool hostEnds;     // the host's goodbye ends each call, else the window closes the port
  bool lastStaysUp;  // the last call is still up at the quit
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Run(const Scenario& s) {
  QTemporaryDir folder;
  SetProgramFolder(folder.path());
  auto demo = std::make_unique<DemoLine>("demo", 38400);
  WriteDemoSettings("demo");
  auto w = std::make_unique<TKelTerm>();
  w->AskYesNo = [](const QString&, const QString&) { return true; };
  w->show();
  bool ok = true;
  for (int i = 0; i < s.calls && ok; ++i) {
    ShowDemoEntry(*w);
    w->DialButtonClick();
    ok = WaitUntil([&] { return w->StatusText() == QStringLiteral("接続しました."); }, 20s);
    if (!ok || (s.lastStaysUp && i == s.calls - 1)) break;
    w->KELCOMM1->WriteString(s.keys);
    WaitUntil([] { return false; }, 300ms);
    if (s.hostEnds)
      w->KELCOMM1->WriteString("G");
    else
      w->PortOC->click();
    ok = WaitUntil([&] { return !w->KELCOMM1->IsOpen() && w->isEnabled(); }, 20s);
  }
  const auto t0 = Clock::now();
  w->close();
  w.reset();
  const auto t1 = Clock::now();
  demo.reset();
  const auto t2 = Clock::now();
  std::printf("| %s | %.3f s | %.3f s | %.3f s |%s\n", s.name, Seconds(t1 - t0), Seconds(t2 - t1),
              Seconds(t2 - t0), ok ? "" : " (a call failed)");
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  KelApplication app(argc, argv);
  const Scenario scenarios[] = {
      {"no call", 0, "", true, false},
      {"3 calls, host's goodbye", 3, "1", true, false},
      {"ZMODEM download left unstarted, port closed", 1, "26", false, false},
      {"XMODEM upload left unstarted, port closed", 1, "31", false, false},
      {"call still up (hang-up, 1.8 s expected)", 1, "", true, true},
  };
  std::printf("| before the quit | window close | demo line end | quit |\n|---|---|---|---|\n");
  for (const Scenario& s : scenarios) Run(s);
  return 0;
}
