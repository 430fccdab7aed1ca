#pragma once
// The start-up banner that a cleared buffer shows: sixteen lines of
// Shift-JIS text.

#include <string>
#include <vector>

std::vector<std::string> StartupBanner();
