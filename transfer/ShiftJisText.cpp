#include "ShiftJisText.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>

namespace {

constexpr char16_t kReplacement = 0xFFFD;
const char kCodePage[] = "CP932";

// Every single byte and every lead/trail pair decoded once, so that decoding
// (a screen's worth on every redraw) is table look-ups only.
struct Table {
  std::array<char16_t, 256> single{};
  std::unique_ptr<char16_t[]> pairs = std::make_unique<char16_t[]>(65536);

  Table() {
    std::fill(single.begin(), single.end(), kReplacement);
    std::fill(pairs.get(), pairs.get() + 65536, kReplacement);
    iconv_t cd = iconv_open("UTF-16LE", kCodePage);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      for (int b = 0; b < 0x80; ++b) single[b] = static_cast<char16_t>(b);
      return;
    }
    for (int b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      if (!IsShiftJisLead(static_cast<unsigned char>(b))) single[b] = Decode(cd, &c, 1);
    }
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsShiftJisLead(static_cast<unsigned char>(lead))) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        if (!IsShiftJisTrail(static_cast<unsigned char>(trail))) continue;
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        pairs[lead << 8 | trail] = Decode(cd, pair, 2);
      }
    }
    iconv_close(cd);
  }

  // One character, or U+FFFD when the bytes are not exactly one.
  static char16_t Decode(iconv_t cd, const char* bytes, size_t size) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    unsigned char out[8];
    char* in = const_cast<char*>(bytes);
    char* dst = reinterpret_cast<char*>(out);
    size_t inLeft = size;
    size_t outLeft = sizeof out;
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1) || inLeft != 0 ||
        sizeof out - outLeft != 2)
      return kReplacement;
    return static_cast<char16_t>(out[0] | out[1] << 8);
  }
};

const Table& Characters() {
  static const Table table;  // built once, thread-safe
  return table;
}

// Length of the UTF-8 sequence that starts with c (1 for a stray byte).
size_t Utf8Length(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF7) return 4;
  if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
  if (c >= 0xC2) return 2;
  return 1;
}

void AppendUtf8(std::string& out, char16_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes by the rule; whole turns false at the first replacement.
std::string Decode(std::string_view sjis, bool& whole) {
  std::string out;
  out.reserve(sjis.size() * 3 / 2);
  for (size_t i = 0; i < sjis.size();) {
    const auto b = static_cast<unsigned char>(sjis[i]);
    const unsigned char next = i + 1 < sjis.size() ? sjis[i + 1] : 0;
    const bool pair = IsShiftJisLead(b) && IsShiftJisTrail(next);
    const char16_t c = pair ? ShiftJisPair(b, next) : ShiftJisSingle(b);
    whole = whole && c != kReplacement;
    AppendUtf8(out, c);
    i += pair ? 2 : 1;
  }
  return out;
}

}  // namespace

char16_t ShiftJisSingle(unsigned char b) { return Characters().single[b]; }

char16_t ShiftJisPair(unsigned char lead, unsigned char trail) {
  if (!IsShiftJisLead(lead) || !IsShiftJisTrail(trail)) return kReplacement;
  return Characters().pairs[lead << 8 | trail];
}

std::string ShiftJisFromUtf8(std::string_view utf8) {
  iconv_t cd = iconv_open(kCodePage, "UTF-8");
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
    // A character without a Shift-JIS form, or a malformed one.
    const size_t skip = std::min(inLeft, Utf8Length(static_cast<unsigned char>(*in)));
    in += skip;
    inLeft -= skip;
    out += '?';
  }
  iconv_close(cd);
  return out;
}

std::string Utf8FromShiftJis(std::string_view sjis) {
  bool whole = true;
  return Decode(sjis, whole);
}

std::string PathFromShiftJis(std::string_view sjis) {
  bool whole = true;
  std::string path = Decode(sjis, whole);
  return whole ? path : std::string(sjis);
}
