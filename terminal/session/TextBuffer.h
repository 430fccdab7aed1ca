#pragma once
// The received text: a list of byte lines, the last one the current line
// that reception appends to. Lines are kept as received (Shift-JIS bytes,
// never decoded); no stored line holds a byte below 32; finished lines never
// change until the buffer is cleared.
//
// Storage is built for sessions of hundreds of megabytes: finished lines are
// packed end to end into large blocks, with one 64-bit start offset per line,
// so a line costs its bytes plus eight.
//
// Threading. The serial watcher appends; the window's thread draws, copies
// and clears. Every access happens under the buffer's lock: reception holds
// it for one notification's work, a redraw only tries it (and skips its frame
// when reception has it), clearing and closing wait for it.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class TTextBuffer {
 public:
  TTextBuffer();

  std::mutex& Mutex() { return mutex_; }

  // ---- Under the lock ----
  // Number of lines, the current line included (at least one).
  size_t Count() const { return starts_.size() + 1; }
  // Line i; the view is valid until the buffer next changes.
  std::string_view Line(size_t i) const;
  std::string_view CurrentLine() const { return current_; }
  // Empties the buffer to a single empty current line.
  void Clear();
  // Appends text to the current line and closes it (no control bytes are
  // expected; any below 32 are dropped).
  void AddLine(std::string_view text);
  // The receive rule: bytes of 32 and above are appended to the current
  // line; CR closes it and hands it to onLine whole; BS removes the current
  // line's last byte (never reaching into the line before); every other byte
  // below 32 is dropped.
  void Receive(const uint8_t* data, size_t size,
               const std::function<void(std::string_view line)>& onLine);

  // Bytes held for text and line starts, for measuring.
  size_t MemoryUsed() const;

 private:
  struct Block {
    uint64_t base = 0;  // offset of the block's first byte
    size_t used = 0;
    size_t capacity = 0;
    std::unique_ptr<char[]> data;
  };
  void FinishCurrentLine();
  const Block& BlockOf(uint64_t offset) const;

  std::mutex mutex_;
  std::vector<Block> blocks_;
  std::deque<uint64_t> starts_;  // start offset of each finished line
  std::string current_;
};
