// The settings file as the window reads it: any bytes at all (short files,
// no line ends, mixed line ends, bytes that are no Shift-JIS, huge lines)
// become the setting lines, the numbers and device paths taken from them,
// and the texts the edit boxes show. Whatever was read goes back to disk in
// a form that reads the same, and a file written with CR LF line ends goes
// back byte for byte.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ShiftJisText.h"
#include "SettingList.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Every line ended by CR LF, and no other CR or LF.
bool WrittenWithCrLf(std::string_view bytes) {
  if (!bytes.empty() && !bytes.ends_with("\r\n")) return false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) return false;
    if (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const TSettingList list = TSettingList::FromBytes(bytes);
  Require(list.size() >= TSettingList::kModemLines);
  for (const std::string& line : list.Lines) {
    Require(line.find_first_of("\r\n") == std::string::npos);
    Require(Utf8FromShiftJis(line).size() <= 3 * line.size());
  }
  const int entries = list.EntryCount();
  Require(TSettingList::kModemLines + TSettingList::kEntryLines * entries <= list.size());
  Require(list.PortNumber() >= 1 && list.PortNumber() <= 4);
  list.Speed();
  for (int port = 1; port <= 4; ++port) Require(&list.DevicePath(port) == &list.Line(3 + port));

  const std::string written = list.ToBytes();
  const TSettingList again = TSettingList::FromBytes(written);
  Require(again.Lines == list.Lines);
  Require(again.ToBytes() == written);
  if (WrittenWithCrLf(bytes)) Require(written == bytes);
  return 0;
}
