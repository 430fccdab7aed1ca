// The command-line tool kelterm-xfer as a user runs it: bad usage and
// devices it cannot open end with code 2 and say why; transfers with lrzsz
// end with 0 and show the progress figures; Ctrl+C cancels a transfer and
// ends with 1; a refused start ends with 1.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "Peers.h"
#include "PtyPair.h"

namespace {

struct ToolRun {
  int code = -1;
  std::string output;  // standard output and error together
};

// Runs the tool with args in dir and waits for it.
ToolRun RunTool(const TempDir& dir, std::vector<std::string> args, int timeoutMs = 20000) {
  args.insert(args.begin(), XferTool());
  PeerProcess tool(args, dir.path(), dir / "tool.out");
  ToolRun r;
  if (tool.WaitExit(timeoutMs)) r.code = tool.ExitCode();
  r.output = ReadFile(dir / "tool.out");
  return r;
}

struct UsageCase {
  std::vector<std::string> args;
  const char* message;
};

TEST(XferCli, BadUsageEndsWithCodeTwoAndSaysWhy) {
  TempDir dir;
  const std::vector<UsageCase> cases = {
      {{}, "missing command"},
      {{"-p", "ymodem"}, "missing command"},
      {{"send", "x"}, "missing -p PROTOCOL"},
      {{"-p", "kermit", "receive", "x"}, "unknown protocol: kermit"},
      {{"-b", "fast", "-p", "ymodem", "receive", "x"}, "bad speed: fast"},
      {{"-b", "0", "-p", "ymodem", "receive", "x"}, "bad speed: 0"},
      {{"-x", "-p", "ymodem", "receive", "x"}, "bad option: -x"},
      {{"-p", "ymodem", "copy", "x"}, "unknown command: copy"},
      {{"-p", "ymodem", "send"}, "wrong number of arguments for send"},
      {{"-p", "ymodem", "receive", "a", "b"}, "wrong number of arguments for receive"},
      {{"-p", "ymodem", "send", dir / "missing.bin"}, "cannot read"},
      {{"-d", "/nonexistent/tty", "-p", "ymodem", "receive", dir / "x"},
       "cannot open /nonexistent/tty"},
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(c.message);
    const ToolRun r = RunTool(dir, c.args);
    EXPECT_EQ(r.code, 2) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
  const ToolRun help = RunTool(dir, {"-h"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.output.find("usage: kelterm-xfer"), std::string::npos) << help.output;
}

TEST(XferCli, SendsToRbAndReceivesFromSb) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "sb", "rb"}));
  const std::string data = RandomBytes(5000, 21);
  {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "data.bin", data));
    LrzszPeer peer(dir, "rb");
    ASSERT_TRUE(peer.Ready());
    const ToolRun r =
        RunTool(dir, {"-d", peer.device(), "-p", "ymodem", "send", "data.bin", "Out.BIN"});
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find(" / 5000 bytes"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("transfer complete"), std::string::npos) << r.output;
    ASSERT_TRUE(peer.WaitExit(10000)) << peer.Log();
    EXPECT_TRUE(ReadFile(dir / "out.bin") == data);
  }
  {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "data.bin", data));
    LrzszPeer peer(dir, "sb -k data.bin");
    ASSERT_TRUE(peer.Ready());
    const ToolRun r = RunTool(
        dir, {"-d", peer.device(), "-b", "115200", "-p", "ymodem-g", "receive", dir / "got.bin"});
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("5000 / 5000 bytes"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("received data.bin as " + dir / "got.bin"), std::string::npos)
        << r.output;
    EXPECT_TRUE(ReadFile(dir / "got.bin") == data);
  }
}

// The tool waits for a sender that never comes; Ctrl+C makes it cancel: the
// line sees the cancel bytes and the tool ends with 1.
TEST(XferCli, InterruptCancelsTheTransfer) {
  TempDir dir;
  PtyPair line;
  ASSERT_TRUE(line.ok());
  PeerProcess tool(
      {XferTool(), "-d", line.slavePath(), "-p", "xmodem-crc", "receive", dir / "never.bin"},
      dir.path(), dir / "tool.out");
  // The receiver's invitation shows that the transfer is under way.
  EXPECT_EQ(line.Read(1, 5000), "C");
  tool.Signal(SIGINT);
  const std::string after = line.ReadUntil(
      [](const std::string& s) { return s.find("\x18\x18") != std::string::npos; }, 5000);
  EXPECT_NE(after.find("\x18\x18"), std::string::npos);
  ASSERT_TRUE(tool.WaitExit(5000));
  EXPECT_EQ(tool.ExitCode(), 1);
  EXPECT_NE(ReadFile(dir / "tool.out").find("transfer cancelled"), std::string::npos)
      << ReadFile(dir / "tool.out");
}

TEST(XferCli, EmptyFileIsRefusedWithCodeOne) {
  TempDir dir;
  PtyPair line;
  ASSERT_TRUE(line.ok());
  ASSERT_TRUE(WriteFile(dir / "empty.bin", ""));
  const ToolRun r = RunTool(dir, {"-d", line.slavePath(), "-p", "xmodem-sum", "send", "empty.bin"});
  EXPECT_EQ(r.code, 1) << r.output;
  EXPECT_NE(r.output.find("did not start"), std::string::npos) << r.output;
}

}  // namespace
