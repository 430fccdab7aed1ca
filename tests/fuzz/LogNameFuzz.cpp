// The log-name template, as a phone-book entry can hold any bytes, expanded
// at any moment the clock can show. The first eight bytes are the moment
// (seconds since 1970, either sign), the rest the template.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "LogName.h"

namespace {

// The longest expansion of one code: a sign and the digits of a year.
constexpr size_t kLongestCode = 12;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int64_t seconds = 0;
  const size_t clockBytes = size < sizeof seconds ? size : sizeof seconds;
  if (clockBytes > 0) std::memcpy(&seconds, data, clockBytes);
  std::tm when{};
  const auto t = static_cast<std::time_t>(seconds);
  if (gmtime_r(&t, &when) == nullptr) when = std::tm{};
  const std::string_view tmpl(reinterpret_cast<const char*>(data) + clockBytes, size - clockBytes);

  const std::string name = ExpandLogTemplate(tmpl, when);
  // Every "%" starts a code: none reaches the name.
  Require(name.find('%') == std::string::npos);
  size_t codes = 0;
  std::string literal;
  for (size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] != '%') {
      literal += tmpl[i];
    } else {
      ++codes;
      ++i;
    }
  }
  Require(name.size() <= literal.size() + codes * kLongestCode);
  // Without a code the template is the name, byte for byte.
  if (codes == 0) Require(name == tmpl);
  return 0;
}
