// The receive path and the terminal screen.
#include <QFrame>

#include "KTerm.h"

// Runs on the serial watcher. The waiting bytes are taken off the port so
// that the line keeps flowing.
void TKelTerm::KelComm1CommReceive(TComm*, uint16_t Size) {
  std::string bytes(Size, '\0');
  if (Size > 0) KELCOMM1->Read(bytes.data(), Size);
}

void TKelTerm::TextDraw() { ScreenDirty = false; }

void TKelTerm::ClearBuffer(bool) {
  BackBottomLine = 0;
  SelExists = false;
  SelDragging = false;
  SelAnchorLine = SelAnchorCol = SelCurLine = SelCurCol = 0;
  TextBuffer.assign(2, std::string());
  Receiving = false;
  ScreenDirty = true;
}

void TKelTerm::KC1Click() { ClearBuffer(true); }

void TKelTerm::PaintBox1Paint() { ScreenDirty = true; }

void TKelTerm::PaintBox1Click() { TextDrawBox->setFocus(); }

void TKelTerm::TextDrawBoxEnter() {}

void TKelTerm::TextDrawBoxExit() {}

void TKelTerm::Timer2Timer() {}
