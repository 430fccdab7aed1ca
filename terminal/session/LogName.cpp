#include "LogName.h"

#include <charconv>

namespace {

// Decimal with leading zeros up to width digits; a negative value keeps its
// sign in front of the digits.
void AppendNumber(std::string& out, long value, int width) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value);
  const int length = static_cast<int>(end - digits);
  if (value < 0) out += '-';
  if (length < width) out.append(static_cast<size_t>(width - length), '0');
  out.append(digits, end);
}

void AppendCode(std::string& out, char code, const std::tm& now) {
  switch (code) {
    case 'Y':
      AppendNumber(out, now.tm_year, 2);
      break;
    case 'y':
      AppendNumber(out, 1900L + now.tm_year, 4);
      break;
    case 'M':
      AppendNumber(out, now.tm_mon + 1, 2);
      break;
    case 'D':
      AppendNumber(out, now.tm_mday, 2);
      break;
    case 'H':
      AppendNumber(out, now.tm_hour, 2);
      break;
    case 'I':
      AppendNumber(out, now.tm_min, 2);
      break;
    default:
      break;
  }
}

}  // namespace

std::string ExpandLogTemplate(std::string_view tmpl, const std::tm& now) {
  std::string name;
  name.reserve(tmpl.size() + 8);
  bool codePending = false;
  for (const char byte : tmpl) {
    if (codePending) {
      AppendCode(name, byte, now);
      codePending = false;
    } else if (byte == '%') {
      codePending = true;
    } else {
      name += byte;
    }
  }
  return name;
}

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}
