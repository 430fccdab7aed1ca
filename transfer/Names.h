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

// A name a peer announced, made safe to show on a terminal, in a window or
// in a log: every C0 control, DEL and lone C1 byte becomes "\xNN", so that
// a name cannot move the cursor, retitle or clear the user's terminal.
// Double-byte characters stay whole (their second byte may be any of
// 0x80-0x9F); the result is Shift-JIS text like the name.
std::string VisibleName(std::string_view announced);
