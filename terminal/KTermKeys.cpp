// Keyboard input, the one-line box and the clipboard send.
#include "KTerm.h"

bool TKelTerm::KeyPress(QKeyEvent*) { return false; }

void TKelTerm::KeyGardClick() {}

void TKelTerm::KeyAcceptClick() { KeyGardClick(); }

void TKelTerm::OneLineEditClick() {}

void TKelTerm::SpeedButton5Click() { OneLineEditClick(); }

bool TKelTerm::Edit1KeyPress(QKeyEvent*) { return false; }

void TKelTerm::SendButton() {}

void TKelTerm::KP1Click() {}

void TKelTerm::KP2Click() {}

void TKelTerm::SpeedButton6Click() { KP1Click(); }

void TKelTerm::DummyPanelEnter() {}
