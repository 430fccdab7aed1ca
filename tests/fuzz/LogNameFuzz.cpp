// The log-name template, any bytes a phone-book entry can hold, expanded at
// any moment the clock can show: the first eight bytes are the moment
// (seconds since 1970, either sign), the rest the template.
#include <algorithm>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "LogName.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int64_t seconds = 0;
  const size_t clockBytes = std::min(size, sizeof seconds);
  if (clockBytes > 0) std::memcpy(&seconds, data, clockBytes);
  const auto t = static_cast<std::time_t>(seconds);
  std::tm when{};
  if (gmtime_r(&t, &when) == nullptr) when = std::tm{};
  const std::string_view tmpl(reinterpret_cast<const char*>(data) + clockBytes, size - clockBytes);
  const std::string name = ExpandLogTemplate(tmpl, when);
  // "%" and the byte after it are a code: at most a sign and a year's digits,
  // and no "%". Every other byte is copied.
  size_t codes = 0, codeBytes = 0;
  for (size_t i = tmpl.find('%'); i < tmpl.size(); i = tmpl.find('%', i + 2))
    ++codes, codeBytes += std::min<size_t>(2, tmpl.size() - i);
  Require(name.find('%') == std::string::npos);
  Require(name.size() <= tmpl.size() - codeBytes + codes * 12);
  Require(codes > 0 || name == tmpl);
  return 0;
}
