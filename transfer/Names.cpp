#include "Names.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace {

bool IsSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Length of the UTF-8 sequence that starts with c (1 for a stray byte).
size_t Utf8Length(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF7) return 4;
  if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
  if (c >= 0xC2) return 2;
  return 1;
}

}  // namespace

std::string Utf8ToShiftJis(std::string_view utf8, char standIn) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(utf8);
  std::string out;
  char buffer[256];
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  while (inLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    const size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // An unconvertible or malformed character: stand in for it and go on.
    const size_t skip = std::min(inLeft, Utf8Length(static_cast<unsigned char>(*in)));
    in += skip;
    inLeft -= skip;
    out += standIn;
  }
  iconv_close(cd);
  return out;
}

std::string AnnouncedName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return Utf8ToShiftJis(slash == std::string::npos ? path : path.substr(slash + 1), '_');
}

void LowerSingleByteLetters(std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsSjisLead(c)) {
      ++i;  // its second byte may look like a letter
    } else if (c >= 'A' && c <= 'Z') {
      text[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
}
