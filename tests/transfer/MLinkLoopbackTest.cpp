// Our M-LINK sender and receiver, each on its own component, joined by a
// virtual line paced at 115200 bit/s: files around the 1024-byte read and
// the 128-byte piece, and the empty file that cannot be sent.

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "Reference.h"
#include "Stations.h"


namespace {

VirtualLine::Options Paced() {
  VirtualLine::Options o;
  o.speed = 115200;
  return o;
}

// M-LINK's sender on end 0 and its receiver on end 1, at 115200 bit/s.
struct Pair : StationPair {
  Pair() : StationPair(pr_MLINK, Paced()) {}
};

struct LoopCase {
  const char* file;  // UTF-8, as on disk
  std::string name;  // Shift-JIS, as announced
  size_t size;
};

// One transfer, as the two components left it.
struct LoopRun {
  bool ended = false;
  int sent = -1, received = -1;
  int32_t sentSize = -1, receivedSize = -1, announcedSize = -1;
  std::string recvName, data, got, receiverWindow;
};

LoopRun Transfer(const LoopCase& c, uint32_t seed) {
  TempDir dir;
  Pair pair;
  LoopRun run;
  run.data = RandomBytes(c.size, seed);
  WriteFile(dir.File(c.file), run.data);
  TKELCOMM& tx = pair.sender->comm;
  TKELCOMM& rx = pair.receiver->comm;
  tx.StartUpload(dir.File(c.file));
  rx.StartDownload(dir.File("received"));
  run.ended = pair.WaitBothIdle(30s);
  run.sent = tx.TranResult.load();
  run.received = rx.TranResult.load();
  run.sentSize = tx.Status.TranSize.load();
  run.receivedSize = rx.Status.TranSize.load();
  run.announcedSize = rx.Status.FileSize.load();
  run.recvName = rx.Status.RecvName.get();
  run.got = ReadFile(dir.File("received"));
  run.receiverWindow = pair.receiver->window.Bytes();
  return run;
}

// Each transfer waits out the receiver's 6 s start pause, so they run side
// by side on lines of their own.
TEST(MLinkLoopback, DeliversFilesAroundTheReadAndPieceSizes) {
  const std::vector<LoopCase> cases = {
      {"one.bin", "one.bin", 1},
      {"Block.BIN", "Block.BIN", 1024},
      {"block+1.bin", "block+1.bin", 1025},
      {"日本語.dat", "\x93\xfa\x96{\x8c\xea.dat", 20000},
  };
  std::vector<LoopRun> runs(cases.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < cases.size(); ++i)
    threads.emplace_back([&, i] { runs[i] = Transfer(cases[i], static_cast<uint32_t>(60 + i)); });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < cases.size(); ++i) {
    const LoopCase& c = cases[i];
    const LoopRun& r = runs[i];
    SCOPED_TRACE(c.file);
    const auto size = static_cast<int32_t>(c.size);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.sent, 1);
    EXPECT_EQ(r.received, 1);
    EXPECT_TRUE(r.got == r.data) << r.got.size() << " bytes received";
    EXPECT_EQ(r.sentSize, size);
    EXPECT_EQ(r.receivedSize, size);
    EXPECT_EQ(r.announcedSize, size);
    EXPECT_EQ(r.recvName, c.name);
    EXPECT_EQ(r.receiverWindow.find_first_not_of('\r'), std::string::npos)
        << "no protocol bytes reach the window, only the sender's closing CR";
  }
}

TEST(MLinkLoopback, EmptyFileIsNotSent) {
  TempDir dir;
  Pair pair;
  WriteFile(dir.File("empty.bin"), "");
  TKELCOMM& tx = pair.sender->comm;
  tx.StartUpload(dir.File("empty.bin"));
  EXPECT_EQ(tx.TranMode.load(), 0);
  EXPECT_EQ(tx.TranResult.load(), 0);
  EXPECT_EQ(pair.receiver->window.WaitBytes(1, 100ms), "") << "nothing went on the line";
}

}  // namespace
