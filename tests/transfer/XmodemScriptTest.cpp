// Our XMODEM sender and receiver against a peer scripted byte by byte.

#include <gtest/gtest.h>

#include <thread>

#include "Reference.h"
#include "Stations.h"


namespace {

const std::string kAck(1, '\x06');

// Bytes reach the transfer once its worker has taken the receive handler
// over (it sets TranResult then); before that they go to the window.
void StartUpload(TKELCOMM& comm, const std::string& path) {
  comm.StartUpload(path);
  ASSERT_TRUE(WaitFor([&] { return comm.TranResult.load() == 1; }, 2s));
}
const std::string kNak(1, '\x15');
const std::string kEot(1, '\x04');

struct SendCase {
  const char* name;
  protType protocol;
  size_t size;
  char start;
  size_t blockSize;  // what the sender must use
  bool crc;          // what the start byte asks for
};

class XmodemSender : public ::testing::TestWithParam<SendCase> {};

TEST_P(XmodemSender, SendsNumberedPaddedBlocksThenEot) {
  const SendCase& c = GetParam();
  TempDir dir;
  const std::string data = RandomBytes(c.size, 3);
  WriteFile(dir.File("out.bin"), data);
  ScriptedLine peer(c.protocol);
  TKELCOMM& comm = peer.station->comm;
  StartUpload(comm, dir.File("out.bin"));
  peer.Write(std::string(1, c.start));
  const size_t blocks = (c.size + c.blockSize - 1) / c.blockSize;
  const std::string padded = Padded(data, blocks * c.blockSize);
  for (size_t n = 1; n <= blocks; ++n) {
    const std::string expected =
        Frame(static_cast<int>(n), padded.substr((n - 1) * c.blockSize, c.blockSize), c.crc);
    const std::string got = peer.Read(expected.size());
    ASSERT_TRUE(got == expected) << "block " << n << " got " << got.size();
    peer.Write(kAck);
  }
  EXPECT_EQ(peer.Read(1), kEot);
  peer.Write(kAck);
  ASSERT_TRUE(peer.station->WaitIdle(5s));
  EXPECT_EQ(comm.TranResult.load(), 1);
  EXPECT_EQ(comm.Status.TranSize.load(), static_cast<int32_t>(blocks * c.blockSize));
  EXPECT_EQ(peer.Read(1, 50ms), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmodemSender,
    ::testing::Values(
        // Block 3 carries 44 file bytes and 84 SUB; TranSize ends at 384.
        SendCase{"Sum300", pr_XMODEM_SUM_128, 300, '\x15', 128, false},
        SendCase{"Crc128", pr_XMODEM_CRC_128, 128, 'C', 128, true},
        // The start byte, not the chosen form, decides the check.
        SendCase{"OneKAfterNakUsesSum", pr_XMODEM_CRC_1024, 300, '\x15', 1024, false},
        SendCase{"SumAfterCUsesCrc", pr_XMODEM_SUM_128, 200, 'C', 128, true},
        // Block 256 goes out numbered 0 with complement 255, then 1.
        SendCase{"NumbersWrap", pr_XMODEM_CRC_128, 257 * 128 + 5, 'C', 128, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(XmodemSenderBytes, Block256IsNumberedZero) {
  const std::string frame = Frame(256, std::string(128, 'a'), true);
  EXPECT_EQ(static_cast<uint8_t>(frame[1]), 0);
  EXPECT_EQ(static_cast<uint8_t>(frame[2]), 255);
}

TEST(XmodemSenderBytes, RepeatsANakedBlockAndCancelsOnCan) {
  TempDir dir;
  const std::string data = RandomBytes(200, 4);
  WriteFile(dir.File("out.bin"), data);
  ScriptedLine peer(pr_XMODEM_CRC_128);
  TKELCOMM& comm = peer.station->comm;
  StartUpload(comm, dir.File("out.bin"));
  peer.Write("C");
  const std::string first = Frame(1, data.substr(0, 128), true);
  EXPECT_TRUE(peer.Read(first.size()) == first);
  peer.Write(kNak);
  EXPECT_TRUE(peer.Read(first.size()) == first) << "the same block again";
  peer.Write(std::string(1, '\x18'));
  EXPECT_EQ(peer.Read(16), CancelSequence());
  ASSERT_TRUE(peer.station->WaitIdle(5s));
  EXPECT_EQ(comm.TranResult.load(), 0);
}

// Our receiver, fed blocks by the script.
struct ReceiverScript {
  explicit ReceiverScript(protType protocol) : peer(protocol) {
    peer.station->comm.StartDownload(dir.File("in.bin"));
  }
  TempDir dir;
  ScriptedLine peer;
  TKELCOMM& comm() { return peer.station->comm; }
};

TEST(XmodemReceiver, ARepeatedBlockIsAcknowledgedAndWrittenOnce) {
  ReceiverScript s(pr_XMODEM_CRC_128);
  const std::string a(128, 'a'), b = Padded("tail", 128);
  EXPECT_EQ(s.peer.Read(1), "C");
  s.peer.Write(Frame(1, a, true));
  EXPECT_EQ(s.peer.Read(1), kAck);
  s.peer.Write(Frame(1, a, true));  // our ACK went astray
  EXPECT_EQ(s.peer.Read(1), kAck);
  s.peer.Write(Frame(2, b, true));
  EXPECT_EQ(s.peer.Read(1), kAck);
  s.peer.Write(kEot);
  EXPECT_EQ(s.peer.Read(1), kAck);
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 1);
  EXPECT_TRUE(ReadFile(s.dir.File("in.bin")) == a + b);
  EXPECT_EQ(s.comm().Status.TranSize.load(), 256);
}

TEST(XmodemReceiver, ABlockAheadOfSequenceCancels) {
  ReceiverScript s(pr_XMODEM_SUM_128);
  const std::string a(128, 'a');
  EXPECT_EQ(s.peer.Read(1), kNak);
  s.peer.Write(Frame(1, a, false));
  EXPECT_EQ(s.peer.Read(1), kAck);
  s.peer.Write(Frame(3, a, false));
  EXPECT_EQ(s.peer.Read(16), CancelSequence());
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 0);
  EXPECT_TRUE(ReadFile(s.dir.File("in.bin")) == a) << "what was written is kept";
}

TEST(XmodemReceiver, DamagedBlocksAreAskedForAgain) {
  ReceiverScript s(pr_XMODEM_CRC_1024);
  const std::string a = RandomBytes(1024, 9);
  EXPECT_EQ(s.peer.Read(1), "C");
  std::string bad = Frame(1, a, true);
  bad[500] ^= 0x01;
  s.peer.Write(bad);
  EXPECT_EQ(s.peer.Read(1), kNak);
  s.peer.Write(Frame(1, a.substr(0, 128), true));  // a 128-byte block is taken too
  EXPECT_EQ(s.peer.Read(1), kAck);
  s.peer.Write(kEot);
  EXPECT_EQ(s.peer.Read(1), kAck);
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 1);
  EXPECT_TRUE(ReadFile(s.dir.File("in.bin")) == a.substr(0, 128));
}

TEST(XmodemReceiver, TwoCansCancelTheReception) {
  ReceiverScript s(pr_XMODEM_CRC_128);
  EXPECT_EQ(s.peer.Read(1), "C");
  s.peer.Write(std::string(2, '\x18'));
  EXPECT_EQ(s.peer.Read(16), CancelSequence());
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 0);
}

// The user's cancel while a peer keeps sending: the bytes still waiting must
// not send the receiver round again and again.
TEST(XmodemReceiver, CancelWhileBytesKeepArrivingEnds) {
  for (protType p : {pr_XMODEM_CRC_128, pr_YMODEM}) {
    SCOPED_TRACE(p);
    ReceiverScript s(p);
    ASSERT_FALSE(s.peer.Read(1).empty()) << "the invitation";
    s.peer.Write("x");  // not a block: the receiver drains the line
    std::this_thread::sleep_for(50ms);
    s.peer.Write(std::string(16 << 20, 'x'));
    std::this_thread::sleep_for(20ms);
    s.comm().RequestCancel();
    ASSERT_TRUE(s.peer.station->WaitIdle(2s));
    EXPECT_EQ(s.comm().TranResult.load(), 0);
  }
}

}  // namespace
