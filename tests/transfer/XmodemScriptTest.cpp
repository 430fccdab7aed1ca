// Our XMODEM and YMODEM(-G) sides against a peer scripted byte by byte:
// blocks, retries, streaming, headers, the batch's end, cancels and noise.

#include "Engine.h"
#include "PeerScript.h"
#include "Reference.h"

namespace {

const std::string kAck = "\x06", kNak = "\x15", kEot = "\x04", kCan = "\x18";

std::string Header(const std::string& name, const std::string& rest) {
  return Frame(0, Padded(name + '\0' + rest, 128, '\0'), true);
}

// One exchange with our sender (it offers file as "Readme.TXT") or our
// receiver (file is what it must have written), and how it ends.
struct ScriptCase {
  const char* name;
  protType protocol;
  bool upload;
  int result;
  std::string file;
  PeerScript script;
};

class Script : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(Script, Ends) {
  const ScriptCase& c = GetParam();
  TempDir dir;
  ScriptedLine peer(c.protocol);
  const std::string path = dir.File(c.upload ? "Readme.TXT" : "in.bin");
  if (c.upload) {
    WriteFile(path, c.file);
    ASSERT_TRUE(SetModifiedOnSecondDay(path));
  }
  Start(peer.comm(), path, c.upload);
  Play(peer, c.script);
  ASSERT_TRUE(peer.station->WaitIdle(5s));
  EXPECT_EQ(peer.comm().TranResult.load(), c.result);
  EXPECT_EQ(peer.Read(1, 50ms), "") << "nothing more";
  if (!c.upload) {
    EXPECT_EQ(Shown(ReadFile(path)), Shown(c.file));
  }
}

ScriptCase Row(const char* name, protType protocol, bool upload, int result,
               const std::string& file, const PeerScript& script) {
  return {name, protocol, upload, result, file, script};
}

// Our sender's blocks after the start byte, each acknowledged, then the EOT.
PeerScript Blocks(const std::string& data, const std::string& start, size_t size, bool crc) {
  const std::string padded = Padded(data, (data.size() + size - 1) / size * size);
  PeerScript script;
  std::string reply = start;
  for (size_t at = 0; at < padded.size(); at += size, reply = kAck) {
    script.push_back(reply);
    script.push_back(Frame(static_cast<int>(at / size + 1), padded.substr(at, size), crc));
  }
  script.insert(script.end(), {kAck, kEot, kAck, ""});
  return script;
}

const std::string kFile = RandomBytes(2000, 11), kWrap = RandomBytes(257 * 128 + 5, 12);
const std::string kA(128, 'a'), kTail = Padded("tail", 128), kK(1024, 'k');
const std::string kData = RandomBytes(1000, 13), kBlock = Frame(1, Padded(kData, 1024), true);
const std::string kEmpty = Header("", "");
// Our sender's header (a lower-cased name, the size and the date) and blocks.
const std::string kOffer = Header("readme.txt", "2000 0250600");
std::string FileBlock(int n) {
  return Frame(n, Padded(kFile.substr((n - 1) * 1024, 1024), 1024), true);
}

std::string Damaged(std::string frame) {
  frame[100] ^= 0x40;
  return frame;
}

std::string Blocks257() {
  std::string all;
  for (int n = 1; n <= 257; ++n) all += Frame(n, std::string(128, 'b'), true);
  return all;
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, Script,
    ::testing::Values(
        Row("SumBlocks", pr_XMODEM_SUM_128, true, 1, kFile, Blocks(kFile, kNak, 128, false)),
        // The start byte, not the chosen form, decides the check.
        Row("OneKAfterNakUsesSum", pr_XMODEM_CRC_1024, true, 1, kFile,
            Blocks(kFile, kNak, 1024, false)),
        Row("SumAfterCUsesCrc", pr_XMODEM_SUM_128, true, 1, kFile, Blocks(kFile, "C", 128, true)),
        // Block 256 goes out numbered 0 with complement 255, then 1.
        Row("NumbersWrap", pr_XMODEM_CRC_128, true, 1, kWrap, Blocks(kWrap, "C", 128, true)),
        Row("NakedBlockRepeatedCanCancels", pr_XMODEM_CRC_128, true, 0, kFile,
            {"C", Frame(1, kFile.substr(0, 128), true), kNak, Frame(1, kFile.substr(0, 128), true),
             kCan, CancelSequence()}),
        Row("YmodemSenderHeaderAndBatchEnd", pr_YMODEM, true, 1, kFile,
            {"C", kOffer, kAck + "C", FileBlock(1), kAck, FileBlock(2), kAck, kEot, kAck + "C",
             kEmpty, kAck, ""}),
        // "G" streams whatever was chosen, up to the empty header that such a
        // receiver need not acknowledge; "C" waits for each ACK.
        Row("GStreamsUnderYmodem", pr_YMODEM, true, 1, kFile,
            {"G", kOffer, "G", FileBlock(1) + FileBlock(2) + kEot, kAck + "G", kEmpty}),
        Row("CWaitsUnderYmodemG", pr_YMODEM_G, true, 1, kFile,
            {"C", kOffer, kAck + "C", FileBlock(1), "", "", kAck, FileBlock(2), kAck, kEot,
             kAck + "C", kEmpty, kAck, ""}),
        Row("YmodemNakStartCancels", pr_YMODEM, true, 0, kFile, {kNak, CancelSequence()}),
        // The file counts as delivered only once the EOT is acknowledged.
        Row("UnacknowledgedEotFails", pr_YMODEM, true, 0, kFile,
            {"C", kOffer, kAck + "C", FileBlock(1), kAck, FileBlock(2), kAck, kEot,
             CancelSequence(), ""}),
        // Our ACK went astray: the repeated block is acknowledged, written once.
        Row("RepeatedBlockWrittenOnce", pr_XMODEM_CRC_128, false, 1, kA + kTail,
            {"", "C", Frame(1, kA, true), kAck, Frame(1, kA, true), kAck, Frame(2, kTail, true),
             kAck, kEot, kAck}),
        Row("BlockAheadOfSequenceCancels", pr_XMODEM_SUM_128, false, 0, kA,
            {"", kNak, Frame(1, kA, false), kAck, Frame(3, kA, false), CancelSequence()}),
        // A damaged block is asked for again; a 128-byte block is taken too.
        Row("DamagedBlockAskedForAgain", pr_XMODEM_CRC_1024, false, 1, kA,
            {"", "C", Damaged(Frame(1, kK, true)), kNak, Frame(1, kA, true), kAck, kEot, kAck}),
        Row("TwoCansCancel", pr_XMODEM_CRC_128, false, 0, "",
            {"", "C", kCan + kCan, CancelSequence()}),
        // One transfer carries one file.
        Row("SecondFileRefused", pr_YMODEM, false, 1, kData,
            {"", " C", Header("n", "1000"), kAck + "C", kBlock, kAck, kEot, kAck + "C",
             Header("n", "1000"), CancelSequence()}),
        // Another protocol's header before the first block is noise.
        Row("ForeignHeaderNoiseAsksAgain", pr_YMODEM, false, 1, "12345",
            {"", " C",
             "**\x18"
             "B00000000000000\r\n",
             "C", Header("z", "5"), kAck + "C", Frame(1, Padded("12345", 128), true), kAck, kEot,
             kAck + "C", kEmpty, kAck}),
        // Streaming: nothing answers the data; block 256 is data, not a header.
        Row("StreamedBlock256IsData", pr_YMODEM_G, false, 1, std::string(257 * 128, 'b'),
            {"", " G", Header("big", std::to_string(257 * 128)), "G", Blocks257() + kEot,
             kAck + "G", kEmpty, kAck}),
        Row("DamagedBlockEndsStreaming", pr_YMODEM_G, false, 0, "",
            {"", " G", Header("d", "2048"), "G", Damaged(Frame(1, kK, true)), CancelSequence()}),
        // Without a size nothing may be thrown away.
        Row("HeaderWithoutASizeKeepsEveryBlockWhole", pr_YMODEM, false, 1, Padded("abc", 128),
            {"", " C", Header("n", ""), kAck + "C", Frame(1, Padded("abc", 128), true), kAck, kEot,
             kAck + "C", kEmpty, kAck}),
        // What came is kept, but the file is not complete.
        Row("EotBeforeTheAnnouncedSizeFails", pr_YMODEM, false, 0, kK,
            {"", " C", Header("s", "5000"), kAck + "C", Frame(1, kK, true), kAck, kEot, kAck + "C",
             kEmpty, kAck})),
    [](const auto& info) { return std::string(info.param.name); });

// The user's cancel while blocks flow and the peer keeps sending: the bytes
// still waiting must not send the receiver round again and again.
TEST(XmodemReceiver, CancelWhileBytesKeepArrivingEnds) {
  TempDir dir;
  ScriptedLine peer(pr_XMODEM_CRC_128);
  Start(peer.comm(), dir.File("in.bin"), false);
  ASSERT_TRUE(Play(peer, {"", "C", Frame(1, kA, true), kAck}));
  peer.Write(std::string(16 << 20, 'x'));
  ASSERT_TRUE(WaitFor([&] { return peer.comm().Engine().RxCount() > 0; }, 10s));
  peer.comm().RequestCancel();
  EXPECT_TRUE(peer.station->WaitIdle(3s));
  EXPECT_EQ(peer.comm().TranResult.load(), 0);
}

}  // namespace
