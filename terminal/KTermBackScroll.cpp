// The back-scroll pane, its selection and the copy commands.
#include "KTerm.h"

bool TKelTerm::AppOnMessage(QObject*, QEvent*) { return false; }

void TKelTerm::BackScrollClick() {}

void TKelTerm::SpeedButton4Click() { BackScrollClick(); }

void TKelTerm::BackTextResize() {}

void TKelTerm::K3Click() {}

void TKelTerm::K4Click() {}
