#include "TextBuffer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kBlockSize = size_t{1} << 20;
constexpr uint8_t kCR = 13;
constexpr uint8_t kBS = 8;

// Length of the run of printable bytes (32 and above) at data.
size_t PrintableRun(const uint8_t* data, size_t size) {
  size_t i = 0;
  while (i < size && data[i] >= 32) ++i;
  return i;
}

}  // namespace

TTextBuffer::TTextBuffer() = default;

const TTextBuffer::Block& TTextBuffer::BlockOf(uint64_t offset) const {
  auto it = std::upper_bound(blocks_.begin(), blocks_.end(), offset,
                             [](uint64_t off, const Block& b) { return off < b.base; });
  return *(it - 1);
}

std::string_view TTextBuffer::Line(size_t i) const {
  if (i >= starts_.size()) return i == starts_.size() ? std::string_view(current_) : "";
  const uint64_t start = starts_[i];
  const Block& block = BlockOf(start);
  uint64_t end = block.base + block.used;
  if (i + 1 < starts_.size()) end = std::min(end, starts_[i + 1]);
  return {block.data.get() + (start - block.base), static_cast<size_t>(end - start)};
}

void TTextBuffer::Clear() {
  blocks_.clear();
  starts_.clear();
  std::string().swap(current_);
}

void TTextBuffer::AddLine(std::string_view text) {
  for (char c : text)
    if (static_cast<uint8_t>(c) >= 32) current_.push_back(c);
  FinishCurrentLine();
}

void TTextBuffer::FinishCurrentLine() {
  const size_t len = current_.size();
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < len) {
    Block block;
    block.base = blocks_.empty() ? 0 : blocks_.back().base + blocks_.back().capacity;
    block.capacity = std::max(kBlockSize, len);
    block.data = std::make_unique<char[]>(block.capacity);
    blocks_.push_back(std::move(block));
  }
  Block& block = blocks_.back();
  std::memcpy(block.data.get() + block.used, current_.data(), len);
  starts_.push_back(block.base + block.used);
  block.used += len;
  if (current_.capacity() > 65536)
    std::string().swap(current_);  // a giant line leaves no giant buffer behind
  else
    current_.clear();
}

void TTextBuffer::Receive(const uint8_t* data, size_t size,
                          const std::function<void(std::string_view line)>& onLine) {
  size_t i = 0;
  while (i < size) {
    const size_t run = PrintableRun(data + i, size - i);
    current_.append(reinterpret_cast<const char*>(data + i), run);
    i += run;
    if (i == size) break;
    const uint8_t c = data[i++];
    if (c == kCR) {
      if (onLine) onLine(current_);
      FinishCurrentLine();
    } else if (c == kBS) {
      if (!current_.empty()) current_.pop_back();
    }
  }
}

size_t TTextBuffer::MemoryUsed() const {
  size_t bytes = current_.capacity() + starts_.size() * sizeof(uint64_t);
  for (const Block& b : blocks_) bytes += b.capacity;
  return bytes;
}
