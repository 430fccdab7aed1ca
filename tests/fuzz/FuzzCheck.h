#pragma once
// A target's own check: a broken promise is a finding, as a crash is.
#include <cstdint>
#include <cstdlib>

inline void Require(bool condition) {
  if (!condition) std::abort();
}
