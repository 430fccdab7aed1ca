#include "Names.h"

#include "ShiftJisText.h"

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
