// The received text as the line delivers it: arbitrary bytes in
// notifications of arbitrary sizes into the text buffer, then every line
// they touched laid out for the screen. The first byte sets the notification
// size. One buffer takes input after input, like a long session, so lines
// cross its storage blocks; it is cleared once it holds more than kKeepBytes.
// The buffer must hold what the receive rule makes of the bytes, computed
// here byte by byte, and hand every closed line to the log once.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ShiftJis.h"
#include "TextBuffer.h"

namespace {

constexpr size_t kKeepBytes = size_t{64} << 20;

void Require(bool condition) {
  if (!condition) std::abort();
}

// The receive rule one byte at a time: the reference the buffer is held to.
struct ModelText {
  std::vector<std::string> closed;
  std::string current;

  void Take(uint8_t b) {
    if (b >= 32)
      current += static_cast<char>(b);
    else if (b == '\r')
      closed.push_back(std::move(current)), current.clear();
    else if (b == '\b' && !current.empty())
      current.pop_back();
  }
};

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
  if (buffer.MemoryUsed() > kKeepBytes) buffer.Clear();
  const size_t first = buffer.Count() - 1;  // the current line, closed or not
  ModelText model;
  model.current = buffer.CurrentLine();
  std::vector<std::string> logged;
  const auto log = [&](std::string_view line) { logged.emplace_back(line); };
  const size_t chunk = size_t{1} + data[0];
  for (size_t at = 1; at < size; at += chunk) {
    const size_t n = std::min(chunk, size - at);
    buffer.Receive(data + at, n, log);
    for (size_t i = 0; i < n; ++i) model.Take(data[at + i]);
  }
  Require(logged == model.closed);
  Require(buffer.Count() == first + model.closed.size() + 1);
  for (size_t i = 0; i < model.closed.size(); ++i)
    Require(buffer.Line(first + i) == model.closed[i]);
  Require(buffer.CurrentLine() == model.current);
  Require(buffer.Line(buffer.Count() - 1) == model.current);
  for (size_t i = first; i < buffer.Count(); ++i) RequireLaidOut(buffer.Line(i));
  return 0;
}
