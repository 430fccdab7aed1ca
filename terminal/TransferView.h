#pragma once
// The progress dialog's texts as a plain function of what the transfer
// component reports and of the time: no widget, no thread, so every rule of
// the display can be checked on its own.
//
// Local paths are in the file system's encoding (UTF-8); the names that
// travel in protocol headers (SendName, RecvName) are Shift-JIS bytes and are
// decoded only here, for display.

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "KelComm.h"

// One reading of the component, taken on the main thread while the worker
// may be writing: every field is read whole.
struct TTransferSnapshot {
  uint8_t TranMode = 0;
  protType Protocol = pr_XMODEM_SUM_128;
  uint32_t StartTick = 0;
  int32_t FileSize = 0;
  int32_t TranSize = 0;
  std::string FilePath;
  std::string SendName;
  std::string RecvName;
};

TTransferSnapshot TransferSnapshotOf(const TKELCOMM& comm);

// The captions of the dialog's value labels.
struct TTransferTexts {
  QString File_Name;
  QString File_Size;
  QString TranSpeed;
  QString TranTime;
  QString TranTimeLeft;
  QString Protocol;
};

// Texts for a transfer seen at tick count now (a wrap of the tick counter
// since StartTick is harmless).
TTransferTexts TransferTexts(const TTransferSnapshot& status, uint32_t now);

// A local path cut after its last "/": the folder part keeps the separator
// (empty when there is none); the file-name part is the rest, at most 255
// bytes and never cut inside a character.
struct TPathParts {
  std::string Folder;
  std::string FileName;
};
TPathParts SplitLocalPath(std::string_view path);

// Seconds as "%.2d:%.2d:%.2d"; the hours are not limited to two digits.
QString ClockText(int64_t seconds);
