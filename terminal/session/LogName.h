#pragma once
// The log file's name template. "%" and the byte after it form a code that
// stands for a part of the date or time; every other byte is copied as it
// stands, so Shift-JIS names pass through untouched (a Shift-JIS second byte
// is never "%"). Plain functions, any thread.

#include <ctime>
#include <string>
#include <string_view>

// The name for the date and time now:
//   %Y  year - 1900, at least two digits (97 for 1997, 126 for 2026)
//   %y  year, at least four digits
//   %M  month, %D day, %H hour, %I minute: two digits each
// Any other code, "%%" included, and a "%" at the very end expand to nothing.
std::string ExpandLogTemplate(std::string_view tmpl, const std::tm& now);

// The local date and time of the system clock.
std::tm LocalTimeNow();
