// Our M-LINK sender and receiver against a peer scripted byte by byte: the
// exchange in order, the verdict with the last piece, the retry after a
// refused header, a cancel during its pause, and the receiver's answers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "Engine.h"
#include "Reference.h"
#include "Stations.h"

namespace {

using Clock = std::chrono::steady_clock;

// The header's date: 1997/06/01 09:05:03, local time.
void SetModifiedInJune1997(const std::string& path) {
  std::tm t{};
  t.tm_year = 97;
  t.tm_mon = 5;
  t.tm_mday = 1;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 3;
  t.tm_isdst = -1;
  const time_t at = mktime(&t);
  timespec times[2] = {{at, 0}, {at, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A far end that holds one unread byte and a sender whose output queue takes
// 128: the sender can hand a piece to the line only once the far end has
// read enough of the last ones, so its TranSize climbs piece by piece as the
// far end reads.
VirtualLine::Options HeldOptions() {
  VirtualLine::Options o;
  o.inputCapacity = 1;
  return o;
}
constexpr int kHeldQueue = 128;

struct SenderScript {
  SenderScript(const std::string& name, const std::string& data, bool held = false)
      : peer(pr_MLINK, held ? HeldOptions() : VirtualLine::Options{}),
        path(dir.File(name)),
        data(data) {
    if (held) {
      comm().Close();
      comm().SetOutQueueSize(kHeldQueue);
      comm().Open();
    }
    WriteFile(path, data);
    SetModifiedInJune1997(path);
    comm().Times.PatienceMs = 1500;
    comm().StartUpload(path);
  }
  TKELCOMM& comm() { return peer.station->comm; }
  // Invites the sender and reads its header line.
  std::string Header() {
    peer.Write("M");
    return peer.ReadLine();
  }
  // The receiver's closing CR, then the sender's last wait ends.
  void Close() {
    EXPECT_EQ(peer.Read(1), "\r") << "the sender's closing CR";
    peer.Write("\r");
    EXPECT_TRUE(peer.station->WaitIdle(3s));
  }
  // The retry CR and the closing CR, at once.
  void CancelEnds() {
    comm().RequestCancel();
    EXPECT_EQ(peer.Read(2), "\r\r");
    EXPECT_TRUE(peer.station->WaitIdle(1s));
    EXPECT_EQ(comm().TranResult.load(), 0);
  }
  TempDir dir;
  ScriptedLine peer;
  std::string path, data;
};

TEST(MLinkSender, GoodExchangeRunsInOrder) {
  SenderScript s("report.txt", RandomBytes(1500, 41));
  EXPECT_EQ(s.peer.Read(1, 200ms), "") << "the sender speaks only when invited";
  EXPECT_EQ(s.Header(), "report.txt 1500 1997/06/01 09:05:03\r");
  EXPECT_EQ(s.peer.Read(1, 200ms), "") << "no data before the header is accepted";
  s.peer.Write("M");
  EXPECT_TRUE(s.peer.Read(1500) == s.data);
  EXPECT_EQ(s.peer.Read(1, 200ms), "") << "exactly the announced bytes, then a wait for E";
  EXPECT_EQ(s.comm().TranMode.load(), 1);
  s.peer.Write("E");
  s.Close();
  EXPECT_EQ(s.comm().TranResult.load(), 1);
  EXPECT_EQ(s.comm().Status.TranSize.load(), 1500);
  EXPECT_EQ(s.peer.Read(1, 50ms), "");
}

// The receiver answers as soon as the last byte is in, which may be before
// the sender is done with its last piece: that "E" is the verdict, not a
// byte for the abort check to drop.
TEST(MLinkSender, EArrivingWithTheLastPieceEndsTheTransfer) {
  SenderScript s("e.bin", RandomBytes(1000, 47), true);
  s.Header();
  s.peer.Write("M");
  ASSERT_TRUE(WaitFor([&] { return s.comm().Status.TranSize.load() == 128; }, 2s));
  s.peer.Write("E");
  ASSERT_TRUE(WaitFor([&] { return s.comm().Engine().RxCount() == 1; }, 2s));
  EXPECT_TRUE(s.peer.Read(1000) == s.data);
  s.Close();
  EXPECT_EQ(s.comm().TranResult.load(), 1);
}

// A refused header is offered again after the patience and a CR, from the
// start of the file.
TEST(MLinkSender, RefusedHeaderIsOfferedAgainAfterThePatience) {
  SenderScript s("retry.bin", RandomBytes(10, 45));
  const std::string header = "retry.bin 10 1997/06/01 09:05:03\r";
  EXPECT_EQ(s.Header(), header);
  s.peer.Write("A");
  const auto refused = Clock::now();
  EXPECT_EQ(s.peer.Read(1, 5s), "\r");
  EXPECT_GE(Clock::now() - refused, 1400ms);
  EXPECT_EQ(s.comm().TranResult.load(), 0) << "while the attempt is failed";
  EXPECT_EQ(s.Header(), header);
  s.peer.Write("M");
  EXPECT_TRUE(s.peer.Read(10) == s.data);
  s.peer.Write("E");
  s.Close();
  EXPECT_EQ(s.comm().TranResult.load(), 1);
  EXPECT_EQ(s.comm().Status.TranSize.load(), 10);
}

TEST(MLinkSender, CancelDuringTheRetryPauseStopsAtOnce) {
  SenderScript s("c.bin", RandomBytes(10, 46));
  s.Header();
  s.peer.Write("A");
  ASSERT_TRUE(WaitFor([&] { return s.comm().TranResult.load() == 0; }, 2s));
  const auto cancelled = Clock::now();
  s.CancelEnds();
  EXPECT_LT(Clock::now() - cancelled, 1s);
  EXPECT_EQ(s.peer.Read(1, 50ms), "") << "no further attempt";
}

// ---- Our receiver, fed by scripted senders ----------------------------------
//
// The cases run side by side, each on a line of its own, and are judged once
// all have ended.

// What one scripted sender saw of our receiver.
struct ReceiverRun {
  std::string said;  // our receiver's bytes after its first "M", in order
  Clock::duration firstInvite{};
  std::vector<Clock::duration> waits;  // what a script timed
  int result = -1;
  std::string file, recvName, window;
  int32_t fileSize = -1, tranSize = -1;
};

class ReceiverPeer {
 public:
  ReceiverPeer() : peer_(pr_MLINK) {}
  TKELCOMM& comm() { return peer_.station->comm; }
  void Write(const std::string& bytes) { peer_.Write(bytes); }
  // Reads up to n of our receiver's bytes, noting them.
  std::string Take(size_t n, std::chrono::milliseconds timeout = 5s) {
    const std::string got = peer_.Read(n, timeout);
    run.said += got;
    return got;
  }
  // Times how long our receiver takes to say its next byte.
  void TimeNextByte() {
    const auto from = Clock::now();
    Take(1, 4s);
    run.waits.push_back(Clock::now() - from);
  }

  void Run(const std::function<void(ReceiverPeer&)>& script) {
    const auto start = Clock::now();
    comm().Times.StartPauseMs = 300;
    comm().StartDownload(dir_.File("in.bin"));
    if (peer_.Read(1, 5s) != "M") return;
    run.firstInvite = Clock::now() - start;
    script(*this);
    if (!peer_.station->WaitIdle(10s)) return;
    run.said += peer_.line->end(1).Read();
    run.result = comm().TranResult.load();
    run.file = ReadFile(dir_.File("in.bin"));
    run.recvName = comm().Status.RecvName.get();
    run.fileSize = comm().Status.FileSize.load();
    run.tranSize = comm().Status.TranSize.load();
    run.window = peer_.station->window.Bytes();
  }
  ReceiverRun run;

 private:
  TempDir dir_;
  ScriptedLine peer_;
};

struct ReceiverCase {
  const char* name;
  std::function<void(ReceiverPeer&)> script;  // from the first "M" on
  std::string said;
  int result;
  std::string recvName;
  int32_t fileSize;
  std::function<void(const ReceiverRun&)> check;
};

const std::string kData = RandomBytes(3000, 51);
const std::string kDataHeader = "data.bin 3000 1997/06/01 09:05:03\r";

// The exchange of a good transfer; the refusals with "A"; the failures of
// the name that get no reply; and a cancel while the sender streams, which
// ends the transfer as the 1 s silence would.
std::vector<ReceiverCase> ReceiverCases() {
  return {
      {"good transfer",
       [](ReceiverPeer& p) {
         p.Write(kDataHeader);
         p.Take(1);
         p.Write(kData.substr(0, 1000));
         p.Write(kData.substr(1000));
         p.Take(1);
       },
       "ME\r", 1, "data.bin", 3000,
       [](const ReceiverRun& r) {
         EXPECT_TRUE(r.file == kData);
         EXPECT_EQ(r.tranSize, 3000);
       }},
      {"name with a blank: the size fails",
       [](ReceiverPeer& p) { p.Write("my file.bin 3000 1997/06/01 09:05:03\r"); }, "A\r", 0, "my",
       0, [](const ReceiverRun& r) { EXPECT_EQ(r.file, ""); }},
      {"silence in the data",
       [](ReceiverPeer& p) {
         p.Write(kDataHeader);
         p.Take(1);
         p.Write(kData.substr(0, 2500));
         p.TimeNextByte();  // "A" after 1 s of silence
         p.Write(std::string(300, 'x'));
         p.TimeNextByte();  // the CR once the tail has been quiet for 1 s
       },
       "MA\r", 0, "data.bin", 3000,
       [](const ReceiverRun& r) {
         EXPECT_TRUE(r.file == kData.substr(0, 2048)) << "whole chunks kept: " << r.file.size();
         EXPECT_EQ(r.tranSize, 2048);
         ASSERT_EQ(r.waits.size(), 2u);
         EXPECT_GE(r.waits[0], 1s);
         EXPECT_GE(r.waits[1], 1s) << "the tail is drained";
         EXPECT_EQ(r.window, "") << "the drained tail never reaches the window";
       }},
      {"name ends with ESC", [](ReceiverPeer& p) { p.Write("data.bin\x1b"); }, "\r", 0, "data.bin",
       kUnknownFileSize, nullptr},
      {"cancel while the sender streams",
       [](ReceiverPeer& p) {
         p.Write("big.bin 100000 1997/06/01 09:05:03\r");
         p.Take(1);
         Clock::time_point cancelled{};
         for (int round = 0; round < 200; ++round) {
           p.Write(std::string(256, 'd'));
           if (round == 8) {
             cancelled = Clock::now();
             p.comm().RequestCancel();
           }
           if (!p.Take(1, 20ms).empty()) break;  // the sender stops at "A"
         }
         WaitFor([&] { return p.comm().TranMode.load() == 0; }, 3s);
         p.run.waits.push_back(Clock::now() - cancelled);
       },
       "MA\r", 0, "big.bin", 100000,
       [](const ReceiverRun& r) {
         ASSERT_EQ(r.waits.size(), 1u);
         EXPECT_LT(r.waits[0], 1500ms) << "the transfer ends about a second after the cancel";
         EXPECT_EQ(r.file, std::string(r.file.size(), 'd'));
       }},
  };
}

TEST(MLinkReceiver, AnswersEachKindOfSender) {
  const std::vector<ReceiverCase> cases = ReceiverCases();
  std::vector<std::unique_ptr<ReceiverPeer>> peers;
  std::vector<std::thread> scripts;
  for (const ReceiverCase& c : cases) {
    peers.push_back(std::make_unique<ReceiverPeer>());
    scripts.emplace_back([&p = *peers.back(), &c] { p.Run(c.script); });
  }
  for (std::thread& t : scripts) t.join();
  for (size_t i = 0; i < cases.size(); ++i) {
    const ReceiverCase& c = cases[i];
    const ReceiverRun& r = peers[i]->run;
    SCOPED_TRACE(c.name);
    EXPECT_GE(r.firstInvite, 290ms) << "the first M follows the start pause";
    EXPECT_EQ(r.said, c.said);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.recvName, c.recvName);
    EXPECT_EQ(r.fileSize, c.fileSize);
    if (c.check) c.check(r);
  }
}

}  // namespace
