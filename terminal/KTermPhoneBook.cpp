// The phone book, the modem settings pane and dialing.
#include "KTerm.h"

void TKelTerm::NetSettingClick() {}

void TKelTerm::SpeedButton2Click() { NetSettingClick(); }

void TKelTerm::BitBtn4Click() {}

void TKelTerm::NetListRefresh() {}

void TKelTerm::NetListClick() {}

void TKelTerm::NetListDblClick() { DialButtonClick(); }

void TKelTerm::NetNameChange() {}

void TKelTerm::NetNameExit() {}

void TKelTerm::NetTelNoChange() {}

void TKelTerm::NetLogFileNameChange() {}

void TKelTerm::AddNetClick() {}

void TKelTerm::DeleteNetClick() {}

void TKelTerm::DialButtonClick() {}

void TKelTerm::Dial(const std::string&) {}

void TKelTerm::ModemSettingClick() {}

void TKelTerm::SpeedButton1Click() { ModemSettingClick(); }

void TKelTerm::PortChange() {}

void TKelTerm::BaudRateChange() {}

void TKelTerm::DialCommandChange() {}

void TKelTerm::ModemClearCommandChange() {}

void TKelTerm::K2Click() {}
