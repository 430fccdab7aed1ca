#pragma once
// The pacing of typed and pasted text. Text waits in two byte queues, the
// clipboard's and the keyboard's, and the window's tick takes one chunk at a
// time from them, so that no single write holds the window up and a file
// transfer is never interleaved with typed text. Pasted text goes first; the
// typed keys follow once it has all left.
//
// Plain functions over the window's two queues; they belong to the window's
// thread like the queues themselves.

#include <cstddef>
#include <string>
#include <string_view>

// Bytes one tick sends at most.
constexpr size_t kSendChunkSize = 512;
// Bytes a queue keeps after the chunk that has just been taken; a longer
// text loses what lies beyond.
constexpr size_t kSendQueueLimit = 32000;

// The queue the next chunk leaves from: PasteQueue while it holds anything,
// then KeyQueue; null when both are empty.
std::string* NextSendQueue(std::string& PasteQueue, std::string& KeyQueue);

// The next chunk of queue: its first kSendChunkSize bytes. The bytes stay in
// the queue until ChunkSent removes them.
std::string_view NextSendChunk(const std::string& queue);

// After sent of the chunkSize bytes of the chunk have left the queue's front:
// removes them, and keeps at most kSendQueueLimit bytes beyond the chunk.
// Bytes of the chunk that did not leave stay at the front for the next tick.
void ChunkSent(std::string& queue, size_t chunkSize, size_t sent);

// Clipboard text as it goes on the line: every line end the clipboard holds
// (LF on this desktop, CR LF or a lone CR from elsewhere) becomes CR LF, what
// a host expects of a terminal; quoted, every line is then marked with ">".
std::string PasteBytes(std::string_view clipboard, bool quoted);

// One whole tick without a port: takes the next chunk off the queues and
// returns it (empty when there is nothing to send).
std::string TakeSendChunk(std::string& PasteQueue, std::string& KeyQueue);
