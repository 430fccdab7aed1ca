#pragma once
// Shift-JIS text and Unicode. Text travels as Shift-JIS bytes (CP932, the
// Windows superset); Unicode is needed only where text meets the user or the
// file system. Every conversion of the program goes through here, with one
// rule for what does not convert:
//   - encoding: a character Shift-JIS lacks, or malformed UTF-8, becomes "?"
//     (a filler such as a geta mark would reach a host as a real character);
//   - decoding: a byte or pair that is no Shift-JIS character becomes U+FFFD.
//     A lead byte whose next byte cannot end a pair stands alone, and the
//     next byte is read afresh.
// Plain functions, safe on any thread.

#include <string>
#include <string_view>

inline bool IsShiftJisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
inline bool IsShiftJisTrail(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// The character of one byte that stands alone (U+FFFD for a lead byte or a
// byte Shift-JIS does not use), and of a lead/trail pair. Table look-ups.
char16_t ShiftJisSingle(unsigned char b);
char16_t ShiftJisPair(unsigned char lead, unsigned char trail);

std::string ShiftJisFromUtf8(std::string_view utf8);
std::string Utf8FromShiftJis(std::string_view sjis);

// A name from the settings as a file-system path (UTF-8). Bytes that are no
// Shift-JIS text are taken as they stand: such a path can only have come
// from the file system in the first place.
std::string PathFromShiftJis(std::string_view sjis);
