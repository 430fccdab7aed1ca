#include "KeyBytes.h"

#include <optional>

#include "ShiftJisText.h"

namespace {

// The control code a key gives with Ctrl held, as terminals have it.
std::optional<char> ControlCode(int key) {
  if (key >= 'A' && key <= 'Z') return static_cast<char>(key - 'A' + 1);
  switch (key) {
    case '@':
    case '2':
      return '\0';
    case '[':
      return kEscapeByte;
    case '\\':
    case kKeyYen:
      return '\x1C';
    case ']':
      return '\x1D';
    case '^':
    case '6':
      return '\x1E';
    case '_':
    case '-':
      return '\x1F';
    case kKeyReturn:
    case kKeyEnter:
      return '\n';
    case kKeyBackspace:
      return '\x7F';
    default:
      return std::nullopt;
  }
}

}  // namespace

std::string KeyBytes(const TKeyStroke& stroke) {
  if (stroke.AltOrMeta) return std::string();
  if (stroke.Ctrl) {
    const std::optional<char> code = ControlCode(stroke.Key);
    return code ? std::string(1, *code) : std::string();
  }
  switch (stroke.Key) {
    case kKeyReturn:
    case kKeyEnter:
      return "\r";
    case kKeyBackspace:
      return "\b";
    case kKeyTab:
    case kKeyBacktab:
      return "\t";
    case kKeyEscape:
      return std::string(1, kEscapeByte);
    case kKeyDelete:
      return std::string();
    default:
      break;
  }
  for (const unsigned char c : stroke.Text)
    if (c < 0x20 || c == 0x7F) return std::string();
  return ShiftJisFromUtf8(stroke.Text);
}
