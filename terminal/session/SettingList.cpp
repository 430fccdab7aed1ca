#include "SettingList.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>

namespace {

const std::array<const char*, TSettingList::kModemLines> kDefaultLines = {
    "1", "38400", "ATD", "ATZ", "", "", "", "", "", ""};

const std::string kEmpty;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::vector<std::string> SplitLines(std::string_view bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c != '\r' && c != '\n') continue;
    lines.emplace_back(bytes.substr(start, i - start));
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.emplace_back(bytes.substr(start));
  return lines;
}

}  // namespace

int ParseNumber(std::string_view text, int fallback) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return fallback;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    return fallback;
  return static_cast<int>(value);
}

int ParsePortNumber(std::string_view text) { return std::clamp(ParseNumber(text, 1), 1, 4); }

int ParseSpeed(std::string_view text) { return ParseNumber(text, 38400); }

TSettingList TSettingList::Defaults() {
  TSettingList list;
  list.Lines.assign(kDefaultLines.begin(), kDefaultLines.end());
  list.storedLines_ = kModemLines;
  return list;
}

TSettingList TSettingList::FromBytes(std::string_view bytes) {
  TSettingList list;
  list.Lines = SplitLines(bytes);
  list.storedLines_ = list.Lines.size();
  for (size_t i = list.Lines.size(); i < kModemLines; ++i)
    list.Lines.emplace_back(kDefaultLines[i]);
  return list;
}

std::string TSettingList::ToBytes() const {
  size_t count = Lines.size();
  if (count <= kModemLines) {
    while (count > storedLines_ && Lines[count - 1] == kDefaultLines[count - 1]) --count;
  }
  std::string bytes;
  for (size_t i = 0; i < count; ++i) {
    bytes += Lines[i];
    bytes += "\r\n";
  }
  return bytes;
}

const std::string& TSettingList::Line(size_t index) const {
  return index < Lines.size() ? Lines[index] : kEmpty;
}

int TSettingList::EntryCount() const {
  if (Lines.size() < kModemLines + kEntryLines) return 0;
  return static_cast<int>((Lines.size() - kModemLines) / kEntryLines);
}

int TSettingList::PortNumber() const { return ParsePortNumber(Line(0)); }

int TSettingList::Speed() const { return ParseSpeed(Line(1)); }

const std::string& TSettingList::DevicePath(int port) const {
  if (port < 1 || port > 4) return kEmpty;
  return Line(3 + static_cast<size_t>(port));
}
