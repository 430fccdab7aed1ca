// Any bytes as a log-name template (after eight bytes of seconds since 1970,
// either sign, for the moment it is expanded at).
#include <cstring>

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
  // A code ("%" and the next byte) gives no "%", at most a sign and a year.
  size_t codes = 0, codeBytes = 0;
  for (size_t i = tmpl.find('%'); i < tmpl.size(); i = tmpl.find('%', i + 2))
    ++codes, codeBytes += std::min<size_t>(2, tmpl.size() - i);
  Require(name.find('%') == std::string::npos);
  Require(name.size() <= tmpl.size() - codeBytes + codes * 12);
  Require(codes > 0 || name == tmpl);
  return 0;
}
