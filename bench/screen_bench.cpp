// Cost of one terminal-screen redraw with few and with very many lines in
// the buffer: the redraw reads only the last rows, so the two must match.
// Runs the real window on Qt's offscreen platform and prints a table.

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <string>

#include "KTerm.h"
#include "PaintBox.h"
#include "ProgramFolder.h"

namespace {

double MicrosecondsPerRedraw(TKelTerm& w, size_t lines) {
  {
    std::lock_guard lock(w.TextBuffer.Mutex());
    w.TextBuffer.Clear();
    std::string line = "0123456789 The quick brown fox jumps over the lazy dog \x93\xfa\x96\x7b";
    for (size_t i = 0; i < lines; ++i) w.TextBuffer.AddLine(line);
  }
  constexpr int kRounds = 300;
  w.TextDraw();  // warm up
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) w.TextDraw();
  auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::micro>(t1 - t0).count() / kRounds;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir folder;
  SetProgramFolder(folder.path());
  TKelTerm w;
  w.Timer2->stop();
  w.show();
  QApplication::processEvents();

  const double few = MicrosecondsPerRedraw(w, 100);
  const double many = MicrosecondsPerRedraw(w, 10'000'000);
  std::printf("| lines in the buffer | one redraw (%d rows) |\n|---|---|\n",
              w.PaintBox1->height() / TKelTerm::kScreenPitch);
  std::printf("| 100 | %.0f us |\n", few);
  std::printf("| 10,000,000 | %.0f us |\n", many);
  std::printf("| ratio | %.2f (target <= 2) |\n", many / few);
  return 0;
}
