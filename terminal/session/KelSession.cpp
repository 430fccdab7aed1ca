#include "KelSession.h"

#include <algorithm>
#include <mutex>

#include "KelComm.h"
#include "SendQueue.h"

namespace {

// A notification this large means the screen cannot keep up: tell the user.
constexpr size_t kBeepAbove = 8192;

}  // namespace

TKelSession::TKelSession() { Clear({}); }

bool TKelSession::CommReceive(TComm& Sender, uint16_t Size) {
  rxScratch_.resize(Size);
  const int got = Size > 0 ? Sender.Read(rxScratch_.data(), Size) : 0;
  Receive(rxScratch_.data(), static_cast<size_t>(std::max(got, 0)));
  return Size > kBeepAbove;
}

void TKelSession::Receive(const uint8_t* Data, size_t Size) {
  std::lock_guard lock(TextBuffer.Mutex());
  Receiving = true;
  TextBuffer.Receive(Data, Size, [this](std::string_view line) { LogFile.WriteLine(line); });
  LogFile.Flush();
  Receiving = false;
  ScreenDirty = true;
  if (!ZmodemAutoStart) return;
  if (const TZmodemOffer found = spotter_.Feed(Data, Size); found != TZmodemOffer::None)
    zmodemOffer_ = found;
}

void TKelSession::Clear(const std::vector<std::string>& Lines) {
  {
    std::lock_guard lock(TextBuffer.Mutex());
    TextBuffer.Clear();
    TextBuffer.AddLine("");
    for (const std::string& line : Lines) TextBuffer.AddLine(line);
  }
  Receiving = false;
  ScreenDirty = true;
}

size_t TKelSession::LogFirstLine() {
  std::lock_guard lock(TextBuffer.Mutex());
  return TextBuffer.Count() - 1;
}

void TKelSession::LogOpen(const std::string& Path, std::string_view DateText, size_t FirstLine,
                          std::function<void(const std::string& message)> OnError) {
  std::lock_guard lock(TextBuffer.Mutex());
  LogFile.OnError = std::move(OnError);
  LogFile.Open(Path, DateText);
  for (size_t i = FirstLine; i + 1 < TextBuffer.Count(); ++i) LogFile.WriteLine(TextBuffer.Line(i));
  LogFile.Flush();
}

// The writer is detached under the lock and waited for outside it, so a slow
// disk holds up neither the receive path nor the window's drawing.
void TKelSession::LogClose() {
  std::unique_ptr<TLogWriter> writer;
  {
    std::lock_guard lock(TextBuffer.Mutex());
    if (!LogFile.IsOpen()) return;
    LogFile.WriteLine(TextBuffer.CurrentLine());
    writer = LogFile.Detach();
  }
  writer->Stop();
}

void TKelSession::Paste(std::string_view Text, bool Quoted) {
  PasteQueue += PasteBytes(Text, Quoted);
}

void TKelSession::SendQueuedText(TKELCOMM& Port) {
  if (!Port.IsOpen() || Port.TranMode != 0) return;
  std::string* queue = NextSendQueue(PasteQueue, KeyQueue);
  if (!queue) return;
  const std::string chunk(NextSendChunk(*queue));
  int taken = 0;
  try {
    taken = Port.WriteString(chunk);
  } catch (...) {
    PasteQueue.clear();
    KeyQueue.clear();
    throw;
  }
  ChunkSent(*queue, chunk.size(), static_cast<size_t>(std::max(taken, 0)));
}
