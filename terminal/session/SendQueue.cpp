#include "SendQueue.h"

#include <algorithm>

#include "Quoting.h"

std::string* NextSendQueue(std::string& PasteQueue, std::string& KeyQueue) {
  if (!PasteQueue.empty()) return &PasteQueue;
  if (!KeyQueue.empty()) return &KeyQueue;
  return nullptr;
}

std::string_view NextSendChunk(const std::string& queue) {
  return std::string_view(queue).substr(0, kSendChunkSize);
}

void ChunkSent(std::string& queue, size_t chunkSize, size_t sent) {
  chunkSize = std::min(chunkSize, queue.size());
  sent = std::min(sent, chunkSize);
  if (queue.size() > chunkSize + kSendQueueLimit) queue.resize(chunkSize + kSendQueueLimit);
  queue.erase(0, sent);
}

std::string TakeSendChunk(std::string& PasteQueue, std::string& KeyQueue) {
  std::string* queue = NextSendQueue(PasteQueue, KeyQueue);
  if (!queue) return std::string();
  std::string chunk(NextSendChunk(*queue));
  ChunkSent(*queue, chunk.size(), chunk.size());
  return chunk;
}

std::string PasteBytes(std::string_view clipboard, bool quoted) {
  std::string text;
  text.reserve(clipboard.size() + clipboard.size() / 8);
  for (size_t i = 0; i < clipboard.size(); ++i) {
    const char c = clipboard[i];
    if (c != '\r' && c != '\n') {
      text += c;
      continue;
    }
    text += "\r\n";
    if (c == '\r' && i + 1 < clipboard.size() && clipboard[i + 1] == '\n') ++i;
  }
  return quoted ? QuoteText(text) : text;
}
