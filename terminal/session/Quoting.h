#pragma once
// The reply-quoting rule shared by the quoted clipboard send and the quoted
// copy of the back-scroll selection. It works on bytes: in Shift-JIS an LF
// byte is always a line feed, never half of a double-byte character.

#include <string>
#include <string_view>

// Marks every line of text with ">": one in front and one right after each
// LF that has more bytes after it. A final LF gets no mark, so a text that
// ends a line does not gain an empty quoted line; CR bytes stay as they are.
// An empty text becomes ">".
std::string QuoteText(std::string_view text);
