// Starting transfers and the progress dialog.
#include <QComboBox>

#include "KTerm.h"

void TKelTerm::UpLoadClick() {}

void TKelTerm::DOWNLOADClick() {}

void TKelTerm::SpeedButton7Click() { UpLoadClick(); }

void TKelTerm::SpeedButton10Click() { DOWNLOADClick(); }

// The combo's item index is the protocol's value.
void TKelTerm::ProtocolChange() {
  const int index = Protocol->currentIndex();
  if (index >= 0 && index < kProtocolCount) KELCOMM1->Protocol = static_cast<protType>(index);
}

void TKelTerm::CommStatusShow() {}
