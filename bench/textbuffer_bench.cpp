// Receive-path throughput and memory of TTextBuffer.
//
// Feeds mixed terminal text (80-byte lines ending in CR LF, every fourth line
// with Shift-JIS) in 4096-byte notifications, as the serial watcher delivers
// it, and prints a table: throughput into an empty buffer and into one that
// already holds 100 MB, and the bytes of memory per received byte.

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "TextBuffer.h"

namespace {

std::string MixedText(size_t bytes) {
  const std::string ascii =
      "The quick brown fox jumps over the lazy dog; 0123456789 ABCDEFGHIJKLMNOP";
  const std::string sjis = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67";
  std::string text;
  text.reserve(bytes + 100);
  for (int n = 0; text.size() < bytes; ++n) {
    std::string line = (n % 4 == 0 ? sjis + ascii : ascii + ascii).substr(0, 78);
    text += line + "\r\n";
  }
  text.resize(bytes);
  return text;
}

double FeedSeconds(TTextBuffer& buffer, const std::string& text, size_t* lines) {
  constexpr size_t kChunk = 4096;
  auto data = reinterpret_cast<const uint8_t*>(text.data());
  size_t logged = 0;
  auto onLine = [&](std::string_view) { ++logged; };
  auto t0 = std::chrono::steady_clock::now();
  for (size_t off = 0; off < text.size(); off += kChunk) {
    std::lock_guard lock(buffer.Mutex());
    buffer.Receive(data + off, std::min(kChunk, text.size() - off), onLine);
  }
  auto t1 = std::chrono::steady_clock::now();
  *lines = logged;
  return std::chrono::duration<double>(t1 - t0).count();
}

}  // namespace

int main() {
  constexpr size_t kSession = 100u << 20;
  const std::string text = MixedText(kSession);
  TTextBuffer buffer;
  size_t lines = 0;
  double empty = FeedSeconds(buffer, text, &lines);
  double memory = static_cast<double>(buffer.MemoryUsed()) / kSession;
  double full = FeedSeconds(buffer, text, &lines);

  std::printf("| measure | value | target |\n|---|---|---|\n");
  std::printf("| receive into an empty buffer | %.0f MB/s | >= 200 MB/s |\n",
              kSession / empty / 1e6);
  std::printf("| receive into a buffer holding 100 MB | %.0f MB/s | >= 200 MB/s |\n",
              kSession / full / 1e6);
  std::printf("| memory per received byte (100 MB session) | %.3f bytes | <= 1.25 bytes |\n",
              memory);
  std::printf("| lines in the buffer | %zu | |\n", buffer.Count());
  return 0;
}
