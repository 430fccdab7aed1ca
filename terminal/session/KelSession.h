#pragma once
// TKelSession is the terminal's session apart from its window: the received
// text, the receive path that fills it, the session log, and the queues of
// typed and pasted text. The window (TKelTerm) owns one, wires its port's
// notifications to it, and draws and edits what it holds.
//
// Where the threads meet:
//   - TextBuffer's lock. The serial watcher holds it for one notification's
//     work (CommReceive: append, cut lines, write finished lines to the log,
//     hand them to the log's writer). The main thread takes it to draw, copy
//     and clear, and to open and close the log.
//   - ScreenDirty and Receiving: atomics the watcher sets and the main
//     thread's tick reads.
//   - ZmodemAutoStart: an atomic the main thread sets from its menu and the
//     watcher reads; the spotter and what it found are the watcher's alone.
//   - The log writer's queue (TLogWriter): whoever holds TextBuffer's lock
//     hands it chunks; only the writer's own thread touches the disk, so a
//     slow disk stalls neither the line nor the window. The writer starts
//     when the log opens; at the close it is detached under the lock and
//     joined after the lock is let go, once the last byte is written.
//     A failed write is reported on the writer thread through the callback
//     given to LogOpen.
// The send queues belong to the main thread alone.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SessionLog.h"
#include "TextBuffer.h"
#include "ZmodemSpotter.h"

class TComm;
class TKELCOMM;

class TKelSession {
 public:
  TKelSession();

  TTextBuffer TextBuffer;
  TSessionLog LogFile;  // used only under TextBuffer's lock
  std::string KeyQueue;
  std::string PasteQueue;
  std::atomic<bool> ScreenDirty{false};
  std::atomic<bool> Receiving{false};

  // ---- Receive path, on the serial watcher ----
  // Reads the Size bytes the port announced and receives them. True when the
  // notification was so large that the user should hear it (a beep).
  bool CommReceive(TComm& Sender, uint16_t Size);
  // The receive rule of TTextBuffer::Receive; finished lines go to the log.
  // While ZmodemAutoStart is set, the bytes also go to the spotter.
  void Receive(const uint8_t* Data, size_t Size);
  // What the spotter found since the last call (the latest header), then None.
  TZmodemOffer TakeZmodemOffer() { return std::exchange(zmodemOffer_, TZmodemOffer::None); }
  std::atomic<bool> ZmodemAutoStart{true};

  // ---- Main thread ----
  // Empties the buffer to its line 0 (never drawn), the given lines and an
  // empty current line.
  void Clear(const std::vector<std::string>& Lines);

  // The index of the current line, taken before the port opens: lines
  // finished from there on belong to the session even when they arrive
  // before its log is open.
  size_t LogFirstLine();
  // Opens the log at Path, writes its header with DateText and then the
  // session's lines finished since FirstLine. Throws std::runtime_error when
  // the file cannot be opened. OnError hears of a failed write, on the log's
  // writer thread.
  void LogOpen(const std::string& Path, std::string_view DateText, size_t FirstLine,
               std::function<void(const std::string& message)> OnError);
  // Writes the current line and closes once every byte is written; nothing
  // when no log is open.
  void LogClose();

  // Clipboard text (Shift-JIS) for the paste queue, with CR LF line ends
  // (PasteBytes), quoted with ">" or not.
  void Paste(std::string_view Text, bool Quoted);
  // One chunk of queued text to the port, when it is open and no transfer
  // runs. Bytes the port did not take stay at the queue's front. A port that
  // fails empties both queues (so the error is told once, not on every tick)
  // and the error propagates.
  void SendQueuedText(TKELCOMM& Port);

 private:
  std::vector<uint8_t> rxScratch_;  // the watcher's read buffer
  TZmodemSpotter spotter_;
  TZmodemOffer zmodemOffer_ = TZmodemOffer::None;
};
