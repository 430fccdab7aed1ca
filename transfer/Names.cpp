#include "Names.h"

#include <cstdio>

#include "ShiftJisText.h"

namespace {

bool IsControlByte(unsigned char b) { return b < 0x20 || (b >= 0x7F && b <= 0x9F); }

}  // namespace

std::string AnnouncedName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return ShiftJisFromUtf8(slash == std::string::npos ? path : path.substr(slash + 1));
}

void LowerSingleByteLetters(std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsShiftJisLead(c)) {
      ++i;  // its second byte may look like a letter
    } else if (c >= 'A' && c <= 'Z') {
      text[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
}

std::string VisibleName(std::string_view announced) {
  std::string shown;
  shown.reserve(announced.size());
  for (size_t i = 0; i < announced.size(); ++i) {
    const auto b = static_cast<unsigned char>(announced[i]);
    if (IsShiftJisLead(b) && i + 1 < announced.size() &&
        IsShiftJisTrail(static_cast<unsigned char>(announced[i + 1]))) {
      shown.append(announced.substr(i, 2));
      ++i;
    } else if (IsControlByte(b)) {
      char code[5];
      std::snprintf(code, sizeof code, "\\x%02x", b);
      shown += code;
    } else {
      shown += static_cast<char>(b);
    }
  }
  return shown;
}
