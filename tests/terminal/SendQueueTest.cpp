// The pacing of the send queues: chunk sizes, the limit after a chunk, and
// the order of pasted and typed text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SendQueue.h"

namespace {

// A text whose bytes tell their position, so that a lost or repeated chunk
// shows in the comparison.
std::string Numbered(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('!' + (i * 7 + i / 94) % 94);
  return text;
}

// Takes chunks until both queues are empty.
std::vector<std::string> DrainAll(std::string& paste, std::string& keys) {
  std::vector<std::string> chunks;
  for (std::string chunk = TakeSendChunk(paste, keys); !chunk.empty();
       chunk = TakeSendChunk(paste, keys))
    chunks.push_back(chunk);
  return chunks;
}

std::vector<size_t> Sizes(const std::vector<std::string>& chunks) {
  std::vector<size_t> sizes;
  for (const std::string& c : chunks) sizes.push_back(c.size());
  return sizes;
}

std::string Joined(const std::vector<std::string>& chunks) {
  std::string all;
  for (const std::string& c : chunks) all += c;
  return all;
}

TEST(SendQueueTest, TextLeavesInChunksOf512Bytes) {
  const struct {
    size_t size;
    std::vector<size_t> chunks;
  } cases[] = {{512, {512}}, {513, {512, 1}}, {1300, {512, 512, 276}}};
  for (const auto& c : cases) {
    const std::string text = Numbered(c.size);
    std::string paste = text;
    std::string keys;
    const auto chunks = DrainAll(paste, keys);
    EXPECT_EQ(Sizes(chunks), c.chunks) << c.size << " bytes";
    EXPECT_EQ(Joined(chunks), text) << c.size << " bytes";
  }
}

TEST(SendQueueTest, AQueueKeeps32000BytesAfterAChunk) {
  const struct {
    size_t size;
    size_t sent;
  } cases[] = {{32512, 32512}, {32513, 32512}, {1000000, 32512}};
  for (const auto& c : cases) {
    const std::string text = Numbered(c.size);
    std::string paste;
    std::string keys = text;  // the limit is the same for typed text
    const auto chunks = DrainAll(paste, keys);
    EXPECT_EQ(Joined(chunks), text.substr(0, c.sent)) << c.size << " bytes";
    for (const std::string& chunk : chunks) EXPECT_LE(chunk.size(), kSendChunkSize);
  }
}

// A port that took only part of a chunk: the rest leads the next chunk.
TEST(SendQueueTest, BytesThePortDidNotTakeStayInFront) {
  const std::string text = Numbered(40000);
  const struct {
    size_t sent;
    size_t left;
  } cases[] = {{0, 32512}, {100, 32412}, {511, 32001}, {512, 32000}};
  for (const auto& c : cases) {
    std::string queue = text;
    const std::string chunk(NextSendChunk(queue));
    ASSERT_EQ(chunk, text.substr(0, 512));
    ChunkSent(queue, chunk.size(), c.sent);
    EXPECT_EQ(queue, text.substr(c.sent, c.left)) << c.sent << " taken";
  }
}

}  // namespace
