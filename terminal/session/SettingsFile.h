#pragma once
// "Kelterm.ini" on disk. A file that exists but cannot be read must never be
// overwritten with defaults: that would destroy the user's phone book. The
// load says so, and the window keeps such a run's settings in memory only.
// Plain functions, any thread.

#include <string>

#include "SettingList.h"

struct TSettingsLoad {
  TSettingList List;
  bool Writable = true;  // false: the file exists but could not be read
  std::string Error;     // the path and the reason, when it could not be read
};

// The file's lines; the defaults when there is no file.
TSettingsLoad LoadSettingsFile(const std::string& path);

// Writes the lines through a temporary file that replaces the old one, so a
// failed write leaves the old file whole. Returns the path and the reason
// of a failure, or an empty text.
std::string SaveSettingsFile(const std::string& path, const TSettingList& list);
