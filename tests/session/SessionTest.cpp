// The session on a real port and real files: received text, the log across
// sessions and failures, and queued text sent at its pace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "Files.h"
#include "KelComm.h"
#include "KelSession.h"
#include "VirtualLine.h"

namespace fs = std::filesystem;

namespace {

const std::string kRule = "------------------\r\n";

std::string Header(const std::string& date) { return kRule + date + "\r\n" + kRule; }

class SessionTest : public ::testing::Test {
 protected:
  void Receive(const std::string& bytes) {
    session.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  void OpenLog(const fs::path& path, const std::string& date) {
    session.LogOpen(path, date, session.LogFirstLine(),
                    [this](const std::string& m) { errors.push_back(m); });
  }

  TempDir scratch;
  fs::path dir{scratch.path()};
  TKelSession session;
  std::vector<std::string> errors;  // read after LogClose has joined the writer
};

TEST_F(SessionTest, LogRecordsHeaderLinesAndTheUnfinishedLastLineOfEachSession) {
  const fs::path log = dir / "1260105.LOG";
  OpenLog(log, "2026/01/05 21:07:00");
  Receive("ATDT123\r\nCONNECT\r");
  Receive("\r\nwelcome\x07\r\nlogin: ");
  session.LogClose();
  const size_t before = session.LogFirstLine();
  Receive("dropped\r");  // between sessions: no log
  session.LogOpen(log, "2026/01/05 22:00:00", before, [](auto&) {});
  Receive("bye\r");
  session.LogClose();
  EXPECT_EQ(ReadFile(log), Header("2026/01/05 21:07:00") +
                               "ATDT123\r\nCONNECT\r\n\r\nwelcome\r\nlogin: \r\n" +
                               Header("2026/01/05 22:00:00") + "login: dropped\r\nbye\r\n\r\n");
  EXPECT_TRUE(errors.empty());
}

TEST_F(SessionTest, UnopenableLogThrowsWithThePathAndTheSessionGoesOnWithoutIt) {
  for (const fs::path& path : {dir / "no" / "such" / "x.LOG", dir}) {
    try {
      OpenLog(path, "d");
      ADD_FAILURE() << path;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
    }
    Receive("line\r");
    session.LogClose();
    EXPECT_FALSE(session.LogFile.IsOpen());
  }
}

TEST_F(SessionTest, WriteFailureIsToldOnceAndTheSessionGoesOn) {
  OpenLog("/dev/full", "d");
  for (int i = 0; i < 3; ++i) Receive("a line\r");
  session.LogClose();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("/dev/full"), std::string::npos);
  std::lock_guard lock(session.TextBuffer.Mutex());
  EXPECT_EQ(session.TextBuffer.Count(), 5u);
}

// A disk that takes nothing stalls only the log's writer: reception goes on,
// the close waits for the disk without holding the buffer's lock, and every
// byte is written once the disk moves again.
TEST_F(SessionTest, StalledDiskStallsNeitherTheLineNorTheCloseNorLosesTheLog) {
  const fs::path fifo = dir / "stalled.LOG";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  OpenLog(fifo, "d");
  const std::string line(1000, 'x');
  for (int i = 0; i < 300; ++i) Receive(line + "\r");  // far beyond a pipe's buffer
  std::atomic<bool> closed{false};
  std::thread closer([&] {
    session.LogClose();
    closed = true;
  });
  EXPECT_TRUE(WaitFor(
      [&] {
        std::unique_lock lock(session.TextBuffer.Mutex(), std::try_to_lock);
        return lock && !session.LogFile.IsOpen();
      },
      5s))
      << "the close kept the buffer's lock while the disk was stuck";
  EXPECT_FALSE(closed) << "the disk has not taken the log yet";
  std::string got;
  std::thread drain([&] {
    fcntl(reader, F_SETFL, 0);
    char buf[65536];
    for (ssize_t n; (n = read(reader, buf, sizeof buf)) != 0;)
      if (n > 0) got.append(buf, static_cast<size_t>(n));
  });
  Receive("after the close\r");
  closer.join();
  drain.join();
  close(reader);
  EXPECT_EQ(got.size(), Header("d").size() + 300 * 1002 + 2);
  EXPECT_TRUE(errors.empty());
}

class LineSession : public SessionTest {
 protected:
  LineSession() {
    port.SetDevicePath("virtual:" + name), line->end(1).SetRts(true);
    port.OnCommReceive = [this](TComm* from, uint16_t size) { session.CommReceive(*from, size); };
  }
  ~LineSession() override {
    port.Close();
    VirtualLine::Remove(name);
  }
  std::string name = "session-" + std::to_string(getpid());
  std::shared_ptr<VirtualLine> line = VirtualLine::Create(name);
  TKELCOMM port;
};

TEST_F(LineSession, HostTextReachesTheBufferAndTheLog) {
  const fs::path log = dir / "host.LOG";
  port.Open();
  OpenLog(log, "d");
  line->end(1).Write("\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\nlogin: ");
  EXPECT_TRUE(WaitFor(
      [&] {
        std::lock_guard lock(session.TextBuffer.Mutex());
        return session.TextBuffer.CurrentLine() == "login: ";
      },
      30s));
  port.Close();
  session.LogClose();
  EXPECT_TRUE(session.ScreenDirty);
  EXPECT_EQ(ReadFile(log), Header("d") + "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\nlogin: \r\n");
}

TEST_F(LineSession, QueuedTextLeavesOneChunkPerTickOnlyWhileOpenAndIdle) {
  session.KeyQueue = "dir\r";
  session.Paste("A\r\nB", true);
  session.SendQueuedText(port);  // closed: nothing leaves, nothing is lost
  port.Open();
  port.TranMode = 2;
  session.SendQueuedText(port);  // a transfer runs
  port.TranMode = 0;
  std::string sent;
  for (int tick = 0; tick < 3; ++tick) {
    session.SendQueuedText(port);
    sent += line->end(1).ReadFor(16, 100ms);
    if (tick == 0) {
      EXPECT_EQ(sent, ">A\r\n>B");
    }
  }
  EXPECT_EQ(sent, ">A\r\n>Bdir\r");
}

}  // namespace
