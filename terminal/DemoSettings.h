#pragma once
// The first start. Without a settings file the window would open on the
// first serial port with an empty phone book, which shows a newcomer without
// a modem nothing at all. So a first start writes a settings file whose port
// 1 is the built-in demo line and whose phone book holds the demo host, and
// the window opens with that entry picked. A settings file that is there
// already, readable or not, is never touched. Main thread only.

#include <string>

#include "SettingList.h"

class TKelTerm;

// The usual defaults with COM1 on "virtual:" + lineName, and one phone-book
// entry for the demo host laid out as the phone book lays out a new entry.
TSettingList DemoSettings(const std::string& lineName);

// Writes DemoSettings(lineName) as "Kelterm.ini" in the program's folder
// unless something of that name is there already. True when the file was
// written; a file that could not be written whole is taken away again.
bool WriteDemoSettings(const std::string& lineName);

// Opens the phone book with its first entry picked, ready for "接続".
void ShowDemoEntry(TKelTerm& form);
