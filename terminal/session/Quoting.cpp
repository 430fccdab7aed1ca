#include "Quoting.h"

#include <algorithm>
#include <cstddef>

std::string QuoteText(std::string_view text) {
  const auto breaks = std::count(text.begin(), text.end(), '\n');
  std::string quoted;
  quoted.reserve(text.size() + static_cast<size_t>(breaks) + 1);
  quoted += '>';
  for (size_t i = 0; i < text.size(); ++i) {
    quoted += text[i];
    if (text[i] == '\n' && i + 1 < text.size()) quoted += '>';
  }
  return quoted;
}
