// Received bytes into one long-lived text buffer, so lines cross its storage
// blocks, in notifications of any size (the first byte); every line touched
// is laid out for the screen, and every closed one logged once.
#include <mutex>

#include "FuzzCheck.h"
#include "ShiftJis.h"
#include "TextBuffer.h"

namespace {

// The receive rule one byte at a time: the reference the buffer is held to.
void Take(std::vector<std::string>& lines, uint8_t b) {
  if (b >= 32)
    lines.back() += static_cast<char>(b);
  else if (b == '\r')
    lines.emplace_back();
  else if (b == '\b' && !lines.back().empty())
    lines.back().pop_back();
}

void RequireLaidOut(std::string_view row) {
  std::vector<ScreenChar> chars;
  LayoutShiftJisRow(row, chars);
  int column = 0;
  for (const ScreenChar& c : chars) {
    Require(c.column == column && (c.width == 1 || c.width == 2));
    column += c.width;
  }
  Require(column == static_cast<int>(row.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static TTextBuffer buffer;
  std::lock_guard lock(buffer.Mutex());
  if (buffer.MemoryUsed() > (size_t{64} << 20)) buffer.Clear();
  const size_t first = buffer.Count() - 1;  // the current line, closed or not
  std::vector<std::string> lines{std::string(buffer.CurrentLine())}, logged;
  for (size_t at = 1, chunk = size_t{1} + data[0]; at < size; at += chunk)
    buffer.Receive(data + at, std::min(chunk, size - at),
                   [&](std::string_view line) { logged.emplace_back(line); });
  std::for_each(data + 1, data + size, [&](uint8_t b) { Take(lines, b); });
  Require(std::equal(logged.begin(), logged.end(), lines.begin(), lines.end() - 1));
  Require(buffer.Count() == first + lines.size() && buffer.CurrentLine() == lines.back());
  for (size_t i = 0; i < lines.size(); ++i) {
    Require(buffer.Line(first + i) == lines[i]);
    RequireLaidOut(buffer.Line(first + i));
  }
  return 0;
}
