// Any bytes as the settings file: its lines, numbers, paths and texts, and
// the file written back.
#include "FuzzCheck.h"
#include "SettingList.h"
#include "ShiftJisText.h"

namespace {

// Every line ended by CR LF, and no other CR or LF.
bool WrittenWithCrLf(std::string_view b) {
  if (!b.empty() && (b.back() != '\n' || b.front() == '\n')) return false;
  for (size_t i = 0; i + 1 < b.size(); ++i)
    if ((b[i] == '\r') != (b[i + 1] == '\n')) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const TSettingList list = TSettingList::FromBytes(bytes);
  for (const std::string& line : list.Lines)
    Require(line.find_first_of("\r\n") == std::string::npos &&
            Utf8FromShiftJis(line).size() <= 3 * line.size());
  Require(list.size() >= TSettingList::kModemLines &&
          TSettingList::kModemLines + TSettingList::kEntryLines * list.EntryCount() <= list.size());
  Require(list.PortNumber() >= 1 && list.PortNumber() <= 4);
  list.Speed();  // any line 1 reads as some number
  for (int port = 1; port <= 4; ++port) Require(&list.DevicePath(port) == &list.Line(3 + port));
  const std::string written = list.ToBytes();
  const TSettingList again = TSettingList::FromBytes(written);
  Require(again.Lines == list.Lines && again.ToBytes() == written);
  if (WrittenWithCrLf(bytes)) Require(written == bytes);
  return 0;
}
