#include "KCommSDg.h"
#include "KTerm.h"
#include "KelApplication.h"

int main(int argc, char** argv) {
  KelApplication app(argc, argv);
  TKelTerm KelTerm;
  TCommStatus CommStatus;
  KelTerm.CommStatus = &CommStatus;
  KelTerm.show();
  const int code = app.exec();
  KelTerm.CommStatus = nullptr;
  return code;
}
