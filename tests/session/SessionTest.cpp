// The session on a real port and real files: received text into the buffer
// and the log, the log's file across sessions and failures, the paced
// sending of queued text, and the settings file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KelComm.h"
#include "KelSession.h"
#include "SettingsFile.h"
#include "VirtualLine.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kRule = "------------------\r\n";

std::string Header(const std::string& date) { return kRule + date + "\r\n" + kRule; }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("kelsession-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  void Receive(const std::string& bytes) {
    session.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  void OpenLog(const fs::path& path, const std::string& date) {
    session.LogOpen(path, date, session.LogFirstLine(),
                    [this](const std::string& m) { errors.push_back(m); });
  }

  fs::path dir;
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
  EXPECT_EQ(ReadAll(log), Header("2026/01/05 21:07:00") +
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
// and closing still writes every byte once the disk moves again.
TEST_F(SessionTest, StalledDiskStallsNeitherTheLineNorLosesTheLog) {
  const fs::path fifo = dir / "stalled.LOG";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  OpenLog(fifo, "d");
  const std::string line(1000, 'x');
  for (int i = 0; i < 300; ++i) Receive(line + "\r");  // far beyond a pipe's buffer
  std::string got;
  std::thread drain([&] {
    fcntl(reader, F_SETFL, 0);
    char buf[65536];
    for (ssize_t n; (n = read(reader, buf, sizeof buf)) != 0;)
      if (n > 0) got.append(buf, static_cast<size_t>(n));
  });
  session.LogClose();
  drain.join();
  close(reader);
  EXPECT_EQ(got.size(), Header("d").size() + 300 * 1002 + 2);
  EXPECT_TRUE(errors.empty());
}

class LineSession : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    line = VirtualLine::Create(name);
    port.SetDevicePath("virtual:" + name);
    port.OnCommReceive = [this](TComm* sender, uint16_t size) {
      session.CommReceive(*sender, size);
    };
  }
  void TearDown() override {
    port.Close();
    line.reset();
    VirtualLine::Remove(name);
    SessionTest::TearDown();
  }
  std::string name = "session-" + std::to_string(getpid());
  std::shared_ptr<VirtualLine> line;
  TKELCOMM port;
};

TEST_F(LineSession, HostTextReachesTheBufferAndTheLog) {
  const fs::path log = dir / "host.LOG";
  port.Open();
  OpenLog(log, "d");
  line->end(1).Write("\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\nlogin: ");
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  for (bool done = false; !done && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(5ms);
    std::lock_guard lock(session.TextBuffer.Mutex());
    done = session.TextBuffer.CurrentLine() == "login: ";
  }
  port.Close();
  session.LogClose();
  EXPECT_TRUE(session.ScreenDirty);
  EXPECT_EQ(ReadAll(log), Header("d") + "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\nlogin: \r\n");
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

TEST_F(SessionTest, SettingsGoBackByteForByteAndAnUnreadableFileIsNeverReplaced) {
  const std::string file = dir / "Kelterm.ini";
  const TSettingsLoad missing = LoadSettingsFile(file);
  EXPECT_TRUE(missing.Writable);
  EXPECT_EQ(missing.List.size(), TSettingList::kModemLines);
  const std::string bytes = "2\r\n9600\nATD\rATZ\r\n\x83\x65\r\n";  // short, mixed ends
  std::ofstream(file, std::ios::binary) << bytes;
  TSettingsLoad load = LoadSettingsFile(file);
  EXPECT_EQ(load.List.PortNumber(), 2);
  EXPECT_EQ(load.List.Line(4), "\x83\x65");
  ASSERT_EQ(SaveSettingsFile(file, load.List), "");
  EXPECT_EQ(ReadAll(file), "2\r\n9600\r\nATD\r\nATZ\r\n\x83\x65\r\n");
  EXPECT_EQ(LoadSettingsFile(file).List.Lines, load.List.Lines);

  const std::string folder = dir / "folder.ini";  // exists, but no file to read
  fs::create_directory(folder);
  const TSettingsLoad unreadable = LoadSettingsFile(folder);
  EXPECT_FALSE(unreadable.Writable);
  EXPECT_NE(unreadable.Error.find(folder), std::string::npos);
  EXPECT_NE(SaveSettingsFile(folder, unreadable.List), "");
  EXPECT_TRUE(fs::is_directory(folder));
}

}  // namespace
