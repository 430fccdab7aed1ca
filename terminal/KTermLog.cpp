// The session log.
#include <QLabel>

#include "KTerm.h"

void TKelTerm::SetLogFileName(const std::string& Template) {
  LogFileName->setText(FromShiftJis(Template));
}

void TKelTerm::LogOpen() {}

void TKelTerm::LogWriteLine(const std::string&) {}

void TKelTerm::LogClose() {}
