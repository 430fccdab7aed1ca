#include "DemoLine.h"
#include "DemoSettings.h"
#include "KCommSDg.h"
#include "KTerm.h"
#include "KelApplication.h"

int main(int argc, char** argv) {
  KelApplication app(argc, argv);
  // The demo line is there for the whole run, so "virtual:demo" opens like
  // any port; it outlives the window, which may still hang up on it at exit.
  DemoLine demo("demo", 38400);
  const bool firstStart = WriteDemoSettings("demo");
  TKelTerm KelTerm;
  TCommStatus CommStatus;
  KelTerm.CommStatus = &CommStatus;
  if (firstStart) ShowDemoEntry(KelTerm);
  KelTerm.show();
  const int code = app.exec();
  KelTerm.CommStatus = nullptr;
  return code;
}
