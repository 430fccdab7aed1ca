#pragma once
// Names that travel in protocol headers are Shift-JIS bytes; local paths are
// UTF-8.

#include <string>
#include <string_view>

// The name announced for a local file: the part of path after the last "/",
// converted from UTF-8 to Shift-JIS (ShiftJisText.h).
std::string AnnouncedName(const std::string& path);

// Lower-cases the ASCII letters that stand as single bytes in Shift-JIS
// text; the second byte of a double-byte character is never touched.
void LowerSingleByteLetters(std::string& text);
