#pragma once
// Names that travel in protocol headers are Shift-JIS bytes; local paths are
// UTF-8. These are the only conversions between the two in the engine.

#include <string>
#include <string_view>

// UTF-8 text as Shift-JIS (CP932, the Windows superset the terminal
// decodes); a character without a Shift-JIS form, or a malformed one,
// becomes standIn.
std::string Utf8ToShiftJis(std::string_view utf8, char standIn);

// The name announced for a local file: the part of path after the last "/",
// converted from UTF-8 to Shift-JIS (CP932). A character that has no
// Shift-JIS form becomes "_".
std::string AnnouncedName(const std::string& path);

// Lower-cases the ASCII letters that stand as single bytes in Shift-JIS
// text; the second byte of a double-byte character is never touched.
void LowerSingleByteLetters(std::string& text);
