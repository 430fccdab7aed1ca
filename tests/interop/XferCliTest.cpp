// kelterm-xfer as a user runs it: bad usage ends with code 2 and says why;
// Ctrl+C cancels and an empty file is refused, both with code 1; two tools
// move a file with M-LINK (no other peer has it) on ptys socat joins.

#include <signal.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Peers.h"
#include "PosixSerialDevice.h"
#include "PtyPair.h"

namespace {

struct ToolRun {
  int code = -1;
  std::string output;  // standard output and error together
};

ToolRun RunTool(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), XferTool());
  PeerProcess tool(args, dir.path(), dir / "tool.out");
  return {tool.WaitExit(20000) ? tool.ExitCode() : -1, ReadFile(dir / "tool.out")};
}

TEST(XferCli, BadUsageEndsWithCodeTwoAndSaysWhy) {
  TempDir dir;
  PtyPair line, busy;
  ASSERT_TRUE(line.ok() && busy.ok());
  const auto holder = OpenPosixDevice(busy.slavePath());
  const std::string inUse = "in use by another program (PID " + std::to_string(getpid()) + ")";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "missing command"},
      {{"send", "x"}, "missing -p PROTOCOL"},
      {{"-p", "kermit", "receive", "x"}, "unknown protocol: kermit"},
      {{"-f", "cts", "-p", "ymodem", "receive", "x"}, "bad flow control: cts"},
      {{"-p", "ymodem", "receive", "a", "b"}, "wrong number of arguments for receive"},
      {{"-p", "ymodem", "send", dir / "missing.bin"}, "cannot read"},
      {{"-d", "/nonexistent/tty", "-p", "ymodem", "receive", "x"},
       "cannot open /nonexistent/tty: no such device"},
      {{"-d", busy.slavePath(), "-p", "ymodem", "receive", "x"}, inUse},
      {{"-d", line.slavePath(), "-p", "ymodem", "receive", dir / "no/x"}, "cannot create"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(message);
    const ToolRun r = RunTool(dir, args);
    EXPECT_EQ(r.code, 2) << r.output;
    EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
  }
  EXPECT_EQ(line.Read(1, 200), "") << "nothing on the line";
}

TEST(XferCli, InterruptCancelsTheTransfer) {
  TempDir dir;
  PtyPair line;
  ASSERT_TRUE(line.ok());
  PeerProcess tool({XferTool(), "-d", line.slavePath(), "-p", "xmodem-crc", "receive", "x.bin"},
                   dir.path(), dir / "tool.out");
  EXPECT_EQ(line.Read(1, 20000), "C") << "the receiver invites";
  tool.Signal(SIGINT);
  const std::string after = line.ReadUntil(
      [](const std::string& s) { return s.find("\x18\x18") != std::string::npos; }, 20000);
  EXPECT_NE(after.find("\x18\x18"), std::string::npos);
  ASSERT_TRUE(tool.WaitExit(20000));
  EXPECT_EQ(tool.ExitCode(), 1);
  EXPECT_NE(ReadFile(dir / "tool.out").find("transfer cancelled"), std::string::npos);
}

TEST(XferCli, EmptyFileIsRefusedAndNothingGoesOnTheLine) {
  TempDir dir;
  PtyPair line;
  ASSERT_TRUE(line.ok());
  ASSERT_TRUE(WriteFile(dir / "empty.bin", ""));
  const ToolRun r = RunTool(dir, {"-d", line.slavePath(), "-p", "mlink", "send", "empty.bin"});
  EXPECT_EQ(r.code, 1) << r.output;
  EXPECT_NE(r.output.find("the transfer did not start"), std::string::npos) << r.output;
  EXPECT_EQ(line.Read(1, 200), "");
}

// Both transfers run side by side: the receiver's start pause dominates.
TEST(XferCli, MLinkToolToToolOnPtysJoinedBySocat) {
  ASSERT_TRUE(ProgramsInstalled({"socat"}));
  struct Case {
    size_t size;
    std::string name, announced;  // the NAME argument (UTF-8), what the receiver shows
  };
  const std::vector<Case> cases = {{1025, "", "data.bin"},
                                   {20000, "報告書.txt", "報告書.txt"},
                                   {300, "a\x07\x0c-b", "a\\x07\\x0c-b"}};
  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::unique_ptr<PeerProcess>> cables, receivers, senders;
  for (const Case& c : cases) {
    const TempDir& dir = *dirs.emplace_back(std::make_unique<TempDir>());
    WriteFile(dir / "data.bin", RandomBytes(c.size, 70));
    cables.push_back(std::make_unique<PeerProcess>(
        std::vector<std::string>{"socat", "PTY,raw,echo=0,link=" + dir / "a",
                                 "PTY,raw,echo=0,link=" + dir / "b"},
        dir.path(), dir / "socat.out"));
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir / "a") && FileExists(dir / "b"); }, 10s));
    const std::vector<std::string> tool = {XferTool(), "-b", "115200", "-p", "mlink", "-d"};
    std::vector<std::string> receive = tool, send = tool;
    receive.insert(receive.end(), {dir / "a", "receive", dir / "got.bin"});
    send.insert(send.end(), {dir / "b", "send", "data.bin"});
    if (!c.name.empty()) send.push_back(c.name);
    receivers.push_back(std::make_unique<PeerProcess>(receive, dir.path(), dir / "receiver.out"));
    senders.push_back(std::make_unique<PeerProcess>(send, dir.path(), dir / "sender.out"));
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    const TempDir& dir = *dirs[i];
    ASSERT_TRUE(receivers[i]->WaitExit(60000)) << ReadFile(dir / "receiver.out");
    ASSERT_TRUE(senders[i]->WaitExit(20000)) << ReadFile(dir / "sender.out");
    EXPECT_EQ(receivers[i]->ExitCode(), 0) << ReadFile(dir / "receiver.out");
    EXPECT_EQ(senders[i]->ExitCode(), 0) << ReadFile(dir / "sender.out");
    EXPECT_TRUE(ReadFile(dir / "got.bin") == ReadFile(dir / "data.bin"));
    EXPECT_NE(ReadFile(dir / "receiver.out")
                  .find("received " + cases[i].announced + " as " + dir / "got.bin"),
              std::string::npos)
        << ReadFile(dir / "receiver.out");
  }
}

}  // namespace
