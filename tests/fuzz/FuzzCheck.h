#pragma once
// What every target uses, and its own check: a broken promise is a finding.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

inline void Require(bool condition) {
  if (!condition) std::abort();
}
