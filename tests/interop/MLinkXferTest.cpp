// M-LINK through the command-line tool: one kelterm-xfer sends and another
// receives, each on its own end of the pty relay paced at 115200 bit/s, as
// two copies of the program on two machines would. M-LINK has no public
// peer, so our own two sides are each other's partner here.

#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "Peers.h"
#include "LineRelay.h"

namespace {

std::vector<std::string> ToolArgs(const std::string& device, std::vector<std::string> command) {
  std::vector<std::string> args = {XferTool(), "-d", device, "-b", "115200", "-p", "mlink"};
  args.insert(args.end(), command.begin(), command.end());
  return args;
}

LineRelay::Options Paced() {
  LineRelay::Options o;
  o.speed = 115200;
  return o;
}

struct ToolCase {
  size_t size;
  std::string name;       // the NAME argument, UTF-8; empty: none
  std::string announced;  // what the receiving tool shows
};

// Both tools of one transfer, started together on a relay of their own.
struct ToolPair {
  explicit ToolPair(const ToolCase& c, uint32_t seed)
      : relay(Paced()), data(RandomBytes(c.size, seed)) {
    WriteFile(dir / "data.bin", data);
    receiver = std::make_unique<PeerProcess>(ToolArgs(relay.PathB(), {"receive", dir / "got.bin"}),
                                             dir.path(), dir / "receiver.out");
    std::vector<std::string> send = {"send", "data.bin"};
    if (!c.name.empty()) send.push_back(c.name);
    sender = std::make_unique<PeerProcess>(ToolArgs(relay.PathA(), send), dir.path(),
                                           dir / "sender.out");
  }
  TempDir dir;
  LineRelay relay;
  std::string data;
  std::unique_ptr<PeerProcess> receiver, sender;
};

// The receiver's 6 s start pause dominates: the transfers run side by side.
TEST(MLinkXfer, ToolSendsToToolOnAPacedPtyLine) {
  const std::vector<ToolCase> cases = {
      {1, "", "data.bin"},
      {1024, "", "data.bin"},
      {1025, "Report.TXT", "Report.TXT"},
      {20000, "報告書.txt", "報告書.txt"},
  };
  std::vector<std::unique_ptr<ToolPair>> pairs;
  for (size_t i = 0; i < cases.size(); ++i) {
    pairs.push_back(std::make_unique<ToolPair>(cases[i], static_cast<uint32_t>(70 + i)));
    ASSERT_TRUE(pairs.back()->relay.ok());
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    ToolPair& p = *pairs[i];
    SCOPED_TRACE(cases[i].size);
    ASSERT_TRUE(p.receiver->WaitExit(30000)) << ReadFile(p.dir / "receiver.out");
    ASSERT_TRUE(p.sender->WaitExit(5000)) << ReadFile(p.dir / "sender.out");
    const std::string said = ReadFile(p.dir / "receiver.out");
    EXPECT_EQ(p.receiver->ExitCode(), 0) << said;
    EXPECT_EQ(p.sender->ExitCode(), 0) << ReadFile(p.dir / "sender.out");
    EXPECT_TRUE(ReadFile(p.dir / "got.bin") == p.data);
    const std::string size = std::to_string(cases[i].size);
    EXPECT_NE(said.find(size + " / " + size + " bytes"), std::string::npos) << said;
    EXPECT_NE(said.find("received " + cases[i].announced + " as " + p.dir / "got.bin"),
              std::string::npos)
        << said;
  }
}

// An empty file cannot be announced (the receiver refuses a size of 0), so
// the tool doesn't start a transfer for it.
TEST(MLinkXfer, EmptyFileIsRefused) {
  TempDir dir;
  LineRelay relay;
  ASSERT_TRUE(relay.ok());
  ASSERT_TRUE(WriteFile(dir / "empty.bin", ""));
  PeerProcess sender(ToolArgs(relay.PathA(), {"send", "empty.bin"}), dir.path(),
                     dir / "sender.out");
  ASSERT_TRUE(sender.WaitExit(5000));
  const std::string said = ReadFile(dir / "sender.out");
  EXPECT_EQ(sender.ExitCode(), 1) << said;
  EXPECT_NE(said.find("the transfer did not start"), std::string::npos) << said;
  EXPECT_EQ(relay.BytesAToB(), 0u) << "nothing went on the line";
}

}  // namespace
