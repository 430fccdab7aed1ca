// Our YMODEM and YMODEM-G sender and receiver against a peer scripted byte
// by byte: the header block, streaming, the end of the batch, and noise.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include "Reference.h"
#include "Stations.h"


namespace {

const std::string kAck(1, '\x06');
const std::string kNak(1, '\x15');
const std::string kEot(1, '\x04');

std::string HeaderData(const std::string& text) { return Padded(text, 128, '\0'); }

struct SenderScript {
  SenderScript(protType protocol, const std::string& name, const std::string& data)
      : peer(protocol), path(dir.File(name)), data(data) {
    WriteFile(path, data);
    EXPECT_TRUE(SetModifiedOnSecondDay(path));
    comm().StartUpload(path);
    EXPECT_TRUE(WaitFor([&] { return comm().TranResult.load() == 1; }, 2s));
  }
  TKELCOMM& comm() { return peer.station->comm; }
  std::string DataBlock(int n) { return Padded(data.substr((n - 1) * 1024, 1024), 1024); }
  // The empty header that closes the batch, after the EOT exchange.
  void CloseBatch(const char* start) {
    EXPECT_EQ(peer.Read(1), kEot);
    peer.Write(kAck);
    peer.Write(start);
    const std::string empty = Frame(0, std::string(128, '\0'), true);
    EXPECT_TRUE(peer.Read(empty.size()) == empty);
    peer.Write(kAck);
  }
  TempDir dir;
  ScriptedLine peer;
  std::string path, data;
};

TEST(YmodemSender, HeaderCarriesLowerCasedNameSizeAndDate) {
  SenderScript s(pr_YMODEM, "Readme.TXT", RandomBytes(2000, 11));
  s.peer.Write("C");
  const std::string header =
      Frame(0, HeaderData(std::string("readme.txt\0", 11) + "2000 0250600"), true);
  EXPECT_TRUE(s.peer.Read(header.size()) == header);
  s.peer.Write(kAck + "C");
  for (int n = 1; n <= 2; ++n) {
    const std::string block = Frame(n, s.DataBlock(n), true);
    EXPECT_TRUE(s.peer.Read(block.size()) == block) << n;
    s.peer.Write(kAck);
  }
  EXPECT_EQ(s.DataBlock(2).substr(976), std::string(48, '\x1A'));
  s.CloseBatch("C");
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 1);
  EXPECT_EQ(s.comm().Status.TranSize.load(), 2048);
  EXPECT_EQ(s.peer.Read(1, 50ms), "") << "nothing after the empty header";
}

struct StartCase {
  const char* name;
  protType chosen;
  char start;
};

class YmodemSenderStart : public ::testing::TestWithParam<StartCase> {};

// The receiver's start byte decides: "G" streams whatever was chosen, "C"
// waits for each ACK whatever was chosen.
TEST_P(YmodemSenderStart, DecidesWhetherToWaitForAcknowledgements) {
  const StartCase& c = GetParam();
  SenderScript s(c.chosen, "g.bin", RandomBytes(3000, 12));
  const std::string start(1, c.start);
  const bool streaming = c.start == 'G';
  s.peer.Write(start);
  const std::string header = Frame(0, HeaderData(std::string("g.bin\0", 6) + "3000 0250600"), true);
  EXPECT_TRUE(s.peer.Read(header.size()) == header);
  s.peer.Write(streaming ? start : kAck + start);
  for (int n = 1; n <= 3; ++n) {
    const std::string block = Frame(n, s.DataBlock(n), true);
    EXPECT_TRUE(s.peer.Read(block.size()) == block) << n;
    if (!streaming) {
      EXPECT_EQ(s.peer.Read(1, 200ms), "") << "waits for the ACK of block " << n;
      s.peer.Write(kAck);
    }
  }
  s.CloseBatch(start.c_str());
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(Starts, YmodemSenderStart,
                         ::testing::Values(StartCase{"GStreamsUnderYmodem", pr_YMODEM, 'G'},
                                           StartCase{"CWaitsUnderYmodemG", pr_YMODEM_G, 'C'}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(YmodemSender, ANakStartFailsWithoutSendingABlock) {
  SenderScript s(pr_YMODEM, "n.bin", "some bytes");
  s.peer.Write(kNak);
  EXPECT_EQ(s.peer.Read(16), CancelSequence());
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 0);
  EXPECT_EQ(s.peer.Read(1, 50ms), "");
}

TEST(YmodemSender, ACancelDuringTheEotExchangeFailsTheTransfer) {
  SenderScript s(pr_YMODEM, "c.bin", "x");
  s.peer.Write("C");
  const std::string header = Frame(0, HeaderData(std::string("c.bin\0", 6) + "1 0250600"), true);
  EXPECT_TRUE(s.peer.Read(header.size()) == header);
  s.peer.Write(kAck + "C");
  EXPECT_EQ(s.peer.Read(1029).size(), 1029u);
  s.peer.Write(kAck);
  EXPECT_EQ(s.peer.Read(1), kEot);
  s.peer.Write(CancelSequence());
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 0);
}

// Our receiver, fed by the script.
struct ReceiverScript {
  explicit ReceiverScript(protType protocol) : peer(protocol) {
    comm().StartDownload(dir.File("in.bin"));
  }
  TKELCOMM& comm() { return peer.station->comm; }
  // Block 0 with name and size, answered by ACK (none when streaming) and
  // the start byte again.
  void Announce(const std::string& text, const std::string& start) {
    EXPECT_EQ(peer.Read(2), " " + start);
    peer.Write(Frame(0, HeaderData(text), true));
    EXPECT_EQ(peer.Read(start == "G" ? 1 : 2), start == "G" ? start : kAck + start);
  }
  // EOT and the empty header that closes the batch; then the end.
  void CloseBatch(const std::string& start, int result, size_t fileSize) {
    peer.Write(kEot);
    EXPECT_EQ(peer.Read(2), kAck + start) << "ACK, then asks for the next file";
    peer.Write(Frame(0, std::string(128, '\0'), true));
    EXPECT_EQ(peer.Read(1), kAck);
    ASSERT_TRUE(peer.station->WaitIdle(5s));
    EXPECT_EQ(comm().TranResult.load(), result);
    EXPECT_EQ(ReadFile(dir.File("in.bin")).size(), fileSize);
  }
  TempDir dir;
  ScriptedLine peer;
};

const std::string kFileHeader = HeaderData(std::string("Name.TXT\0", 9) + "1000 0250600");

struct BatchEndCase {
  const char* name;
  protType protocol;
  std::string closing;  // the header the sender closes with
  std::string answer;   // what our receiver answers
};

class YmodemReceiverBatch : public ::testing::TestWithParam<BatchEndCase> {};

TEST_P(YmodemReceiverBatch, WritesTheAnnouncedSizeAndClosesTheBatch) {
  const BatchEndCase& c = GetParam();
  const std::string start = c.protocol == pr_YMODEM_G ? "G" : "C";
  ReceiverScript s(c.protocol);
  const std::string data = RandomBytes(1000, 13);
  EXPECT_EQ(s.comm().Status.FileSize.load(), kUnknownFileSize);
  s.Announce(kFileHeader, start);
  s.peer.Write(Frame(1, Padded(data, 1024), true));
  if (start == "C") {
    EXPECT_EQ(s.peer.Read(1), kAck);
  }
  s.peer.Write(kEot);
  EXPECT_EQ(s.peer.Read(2), kAck + start) << "ACK, then asks for the next file";
  s.peer.Write(Frame(0, c.closing, true));
  EXPECT_EQ(s.peer.Read(c.answer.size()), c.answer);
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 1);
  EXPECT_TRUE(ReadFile(s.dir.File("in.bin")) == data);
  EXPECT_EQ(s.comm().Status.RecvName.get(), "Name.TXT");
  EXPECT_EQ(s.comm().Status.FileSize.load(), 1000);
  EXPECT_EQ(s.comm().Status.TranSize.load(), 1000);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, YmodemReceiverBatch,
    ::testing::Values(BatchEndCase{"EmptyHeader", pr_YMODEM, std::string(128, '\0'), kAck},
                      BatchEndCase{"EmptyHeaderStreaming", pr_YMODEM_G, std::string(128, '\0'),
                                   kAck},
                      // One transfer carries one file.
                      BatchEndCase{"SecondFileRefused", pr_YMODEM, kFileHeader, CancelSequence()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(YmodemReceiver, ForeignHeaderNoiseBeforeTheFirstBlockDoesNotCancel) {
  ReceiverScript s(pr_YMODEM);
  EXPECT_EQ(s.peer.Read(2), " C");
  s.peer.Write(
      "**\x18"
      "B00000000000000\r\n");
  EXPECT_EQ(s.peer.Read(1, 3s), "C") << "asks again instead of cancelling";
  s.peer.Write(Frame(0, HeaderData(std::string("z\0", 2) + "5"), true));
  EXPECT_EQ(s.peer.Read(2), kAck + "C");
  s.peer.Write(Frame(1, Padded("12345", 128), true));
  EXPECT_EQ(s.peer.Read(1), kAck);
  s.CloseBatch("C", 1, 5);
  EXPECT_EQ(ReadFile(s.dir.File("in.bin")), "12345");
}

TEST(YmodemReceiver, DataBlock256IsDataNotAHeader) {
  ReceiverScript s(pr_YMODEM_G);
  s.Announce(std::string("big\0", 4) + std::to_string(257 * 128), "G");
  for (int n = 1; n <= 257; ++n) s.peer.Write(Frame(n, Padded("b", 128, 'b'), true));
  s.CloseBatch("G", 1, 257 * 128);  // no answer to any data block
}

TEST(YmodemReceiver, ADamagedBlockEndsAStreamingReception) {
  ReceiverScript s(pr_YMODEM_G);
  s.Announce(std::string("d\0", 2) + "2048", "G");
  std::string bad = Frame(1, std::string(1024, 'd'), true);
  bad[100] ^= 0x40;
  s.peer.Write(bad);
  EXPECT_EQ(s.peer.Read(16), CancelSequence());
  ASSERT_TRUE(s.peer.station->WaitIdle(5s));
  EXPECT_EQ(s.comm().TranResult.load(), 0);
}

// The size is optional in a header; without it nothing may be thrown away.
TEST(YmodemReceiver, HeaderWithoutASizeKeepsEveryBlockWhole) {
  ReceiverScript s(pr_YMODEM);
  s.Announce(std::string("n\0", 2), "C");
  EXPECT_EQ(s.comm().Status.FileSize.load(), kUnknownFileSize);
  s.peer.Write(Frame(1, Padded("abc", 128), true));
  EXPECT_EQ(s.peer.Read(1), kAck);
  s.CloseBatch("C", 1, 128);
  EXPECT_EQ(ReadFile(s.dir.File("in.bin")), Padded("abc", 128));
}

TEST(YmodemReceiver, EotBeforeTheAnnouncedSizeIsAFailure) {
  ReceiverScript s(pr_YMODEM);
  s.Announce(std::string("s\0", 2) + "5000", "C");
  s.peer.Write(Frame(1, std::string(1024, 's'), true));
  EXPECT_EQ(s.peer.Read(1), kAck);
  s.CloseBatch("C", 0, 1024);  // what came is kept
}

}  // namespace
