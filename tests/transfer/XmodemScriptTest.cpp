// Our XMODEM, YMODEM and YMODEM-G sender and receiver against a peer
// scripted byte by byte: blocks, retries, streaming, the header block, the
// end of the batch, cancels and noise.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Reference.h"
#include "Stations.h"

namespace {

const std::string kAck = "\x06", kNak = "\x15", kEot = "\x04";

// What the peer writes, then what it must read back, in full; a step of
// neither is a pause in which nothing may come.
struct Step {
  std::string write, expect;
};
const Step kQuiet{"", ""};

void Play(ScriptedLine& peer, const std::vector<Step>& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].write.empty() && steps[i].expect.empty()) {
      EXPECT_EQ(peer.Read(1, 200ms), "") << "step " << i << " waits for the peer";
    }
    peer.Write(steps[i].write);
    const std::string got = peer.Read(steps[i].expect.size());
    EXPECT_TRUE(got == steps[i].expect) << "step " << i << ": got " << got.size() << " bytes";
  }
}

std::string Header(const std::string& text) { return Frame(0, Padded(text, 128, '\0'), true); }
std::string Named(const char* name, const std::string& rest) {
  return std::string(name) + '\0' + rest;
}

// ---- Senders ----

// Bytes reach the transfer once its worker has taken the receive handler
// over (it sets TranResult then); before that they go to the window.
void StartUpload(TKELCOMM& comm, const std::string& path) {
  comm.StartUpload(path);
  ASSERT_TRUE(WaitFor([&] { return comm.TranResult.load() == 1; }, 2s));
}

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
  const size_t blocks = (c.size + c.blockSize - 1) / c.blockSize;
  const std::string padded = Padded(data, blocks * c.blockSize);
  std::vector<Step> steps;
  std::string reply(1, c.start);
  for (size_t n = 1; n <= blocks; ++n, reply = kAck)
    steps.push_back({reply, Frame(static_cast<int>(n),
                                  padded.substr((n - 1) * c.blockSize, c.blockSize), c.crc)});
  steps.push_back({kAck, kEot});
  Play(peer, steps);
  peer.Write(kAck);
  ASSERT_TRUE(peer.station->WaitIdle(5s));
  EXPECT_EQ(comm.TranResult.load(), 1);
  EXPECT_EQ(comm.Status.TranSize.load(), static_cast<int32_t>(blocks * c.blockSize));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmodemSender,
    ::testing::Values(SendCase{"Sum300", pr_XMODEM_SUM_128, 300, '\x15', 128, false},
                      // The start byte, not the chosen form, decides the check.
                      SendCase{"OneKAfterNakUsesSum", pr_XMODEM_CRC_1024, 300, '\x15', 1024, false},
                      SendCase{"SumAfterCUsesCrc", pr_XMODEM_SUM_128, 200, 'C', 128, true},
                      // Block 256 goes out numbered 0 with complement 255, then 1.
                      SendCase{"NumbersWrap", pr_XMODEM_CRC_128, 257 * 128 + 5, 'C', 128, true}),
    [](const auto& info) { return std::string(info.param.name); });

// One exchange with our sender (upload: it offers kFile as "Readme.TXT")
// or our receiver, and how it ends.
struct ScriptCase {
  const char* name;
  protType protocol;
  bool upload;
  std::vector<Step> script;
  int result;
  std::string file = "";  // what the received file holds at the end
};

const std::string kFile = RandomBytes(2000, 11);

class Script : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(Script, Ends) {
  const ScriptCase& c = GetParam();
  TempDir dir;
  ScriptedLine peer(c.protocol);
  const std::string path = dir.File(c.upload ? "Readme.TXT" : "in.bin");
  if (c.upload) {
    WriteFile(path, kFile);
    ASSERT_TRUE(SetModifiedOnSecondDay(path));
    StartUpload(peer.comm(), path);
  } else {
    peer.comm().StartDownload(path);
  }
  Play(peer, c.script);
  ASSERT_TRUE(peer.station->WaitIdle(5s));
  EXPECT_EQ(peer.comm().TranResult.load(), c.result);
  EXPECT_EQ(peer.Read(1, 50ms), "") << "nothing more";
  if (!c.upload) {
    EXPECT_TRUE(ReadFile(path) == c.file);
  }
}

std::string FileBlock(int n) {
  return Frame(n, Padded(kFile.substr((n - 1) * 1024, 1024), 1024), true);
}
const std::string kEmptyHeader = Header("");
// Our sender's header, then its ACK with the next start byte and block 1.
const Step kOffer{"C", Header(Named("readme.txt", "2000 0250600"))};
const Step kBlock1{kAck + "C", FileBlock(1)};

const std::string kA(128, 'a'), kTail = Padded("tail", 128), kK(1024, 'k');
const std::string kData = RandomBytes(1000, 13);

std::string Damaged(std::string frame) {
  frame[100] ^= 0x40;
  return frame;
}

std::string Blocks257() {
  std::string all;
  for (int n = 1; n <= 257; ++n) all += Frame(n, std::string(128, 'b'), true);
  return all;
}

// The EOT, the ask for the next file and the empty header that closes the
// batch.
const Step kEotY{kEot, kAck + "C"}, kClose{kEmptyHeader, kAck};

INSTANTIATE_TEST_SUITE_P(
    Scripts, Script,
    ::testing::Values(
        ScriptCase{"XmodemSenderRepeatsANakedBlockAndCancelsOnCan",
                   pr_XMODEM_CRC_128,
                   true,
                   {{"C", Frame(1, kFile.substr(0, 128), true)},
                    {kNak, Frame(1, kFile.substr(0, 128), true)},
                    {"\x18", CancelSequence()}},
                   0},
        // A lower-cased name, the size and the date; the empty header
        // closes the batch.
        ScriptCase{"YmodemSenderHeaderBlocksAndBatchEnd",
                   pr_YMODEM,
                   true,
                   {kOffer,
                    kBlock1,
                    {kAck, FileBlock(2)},
                    {kAck, kEot},
                    {kAck + "C", kEmptyHeader},
                    {kAck, ""}},
                   1},
        // "G" streams whatever was chosen; "C" waits for each ACK.
        ScriptCase{"GStreamsUnderYmodem",
                   pr_YMODEM,
                   true,
                   {{"G", kOffer.expect},
                    {"G", FileBlock(1) + FileBlock(2) + kEot},
                    {kAck + "G", kEmptyHeader},
                    {kAck, ""}},
                   1},
        ScriptCase{"CWaitsUnderYmodemG",
                   pr_YMODEM_G,
                   true,
                   {kOffer,
                    kBlock1,
                    kQuiet,
                    {kAck, FileBlock(2)},
                    {kAck, kEot},
                    {kAck + "C", kEmptyHeader},
                    {kAck, ""}},
                   1},
        ScriptCase{"YmodemSenderNakStartCancels", pr_YMODEM, true, {{kNak, CancelSequence()}}, 0},
        // The file counts as delivered only once the EOT is acknowledged.
        ScriptCase{"CancelDuringTheEotExchangeFails",
                   pr_YMODEM,
                   true,
                   {kOffer, kBlock1, {kAck, FileBlock(2)}, {kAck, kEot}, {CancelSequence(), ""}},
                   0},
        // Our ACK went astray: the repeated block is acknowledged, written once.
        ScriptCase{"RepeatedBlockWrittenOnce",
                   pr_XMODEM_CRC_128,
                   false,
                   {{"", "C"},
                    {Frame(1, kA, true), kAck},
                    {Frame(1, kA, true), kAck},
                    {Frame(2, kTail, true), kAck},
                    {kEot, kAck}},
                   1,
                   kA + kTail},
        ScriptCase{
            "BlockAheadOfSequenceCancels",
            pr_XMODEM_SUM_128,
            false,
            {{"", kNak}, {Frame(1, kA, false), kAck}, {Frame(3, kA, false), CancelSequence()}},
            0,
            kA},
        // A damaged block is asked for again; a 128-byte block is taken too.
        ScriptCase{"DamagedBlockAskedForAgain",
                   pr_XMODEM_CRC_1024,
                   false,
                   {{"", "C"},
                    {Damaged(Frame(1, kK, true)), kNak},
                    {Frame(1, kA, true), kAck},
                    {kEot, kAck}},
                   1,
                   kA},
        ScriptCase{"TwoCansCancel",
                   pr_XMODEM_CRC_128,
                   false,
                   {{"", "C"}, {"\x18\x18", CancelSequence()}},
                   0},
        ScriptCase{"YmodemAnnouncedSizeAndEmptyHeader",
                   pr_YMODEM,
                   false,
                   {{"", " C"},
                    {Header(Named("Name.TXT", "1000 0250600")), kAck + "C"},
                    {Frame(1, Padded(kData, 1024), true), kAck},
                    kEotY,
                    kClose},
                   1,
                   kData},
        // One transfer carries one file.
        ScriptCase{"SecondFileRefused",
                   pr_YMODEM,
                   false,
                   {{"", " C"},
                    {Header(Named("n", "1000")), kAck + "C"},
                    {Frame(1, Padded(kData, 1024), true), kAck},
                    kEotY,
                    {Header(Named("n", "1000")), CancelSequence()}},
                   1,
                   kData},
        // Another protocol's header before the first block is noise, not a
        // cancel.
        ScriptCase{"ForeignHeaderNoiseAsksAgain",
                   pr_YMODEM,
                   false,
                   {{"", " C"},
                    {"**\x18"
                     "B00000000000000\r\n",
                     "C"},
                    {Header(Named("z", "5")), kAck + "C"},
                    {Frame(1, Padded("12345", 128), true), kAck},
                    kEotY,
                    kClose},
                   1,
                   "12345"},
        // Streaming: nothing answers the data; block 256 is data, not a header.
        ScriptCase{"StreamedBlock256IsData",
                   pr_YMODEM_G,
                   false,
                   {{"", " G"},
                    {Header(Named("big", std::to_string(257 * 128))), "G"},
                    {Blocks257() + kEot, kAck + "G"},
                    kClose},
                   1,
                   std::string(257 * 128, 'b')},
        ScriptCase{"DamagedBlockEndsStreaming",
                   pr_YMODEM_G,
                   false,
                   {{"", " G"},
                    {Header(Named("d", "2048")), "G"},
                    {Damaged(Frame(1, kK, true)), CancelSequence()}},
                   0,
                   ""},
        // Without a size nothing may be thrown away.
        ScriptCase{"HeaderWithoutASizeKeepsEveryBlockWhole",
                   pr_YMODEM,
                   false,
                   {{"", " C"},
                    {Header(Named("n", "")), kAck + "C"},
                    {Frame(1, Padded("abc", 128), true), kAck},
                    kEotY,
                    kClose},
                   1,
                   Padded("abc", 128)},
        // What came is kept, but the file is not complete.
        ScriptCase{"EotBeforeTheAnnouncedSizeFails",
                   pr_YMODEM,
                   false,
                   {{"", " C"},
                    {Header(Named("s", "5000")), kAck + "C"},
                    {Frame(1, kK, true), kAck},
                    kEotY,
                    kClose},
                   0,
                   kK}),
    [](const auto& info) { return std::string(info.param.name); });

// The user's cancel while a peer keeps sending: the bytes still waiting must
// not send the receiver round again and again.
TEST(XmodemReceiver, CancelWhileBytesKeepArrivingEnds) {
  for (protType p : {pr_XMODEM_CRC_128, pr_YMODEM}) {
    SCOPED_TRACE(p);
    TempDir dir;
    ScriptedLine peer(p);
    peer.station->comm.StartDownload(dir.File("in.bin"));
    ASSERT_FALSE(peer.Read(1).empty()) << "the invitation";
    peer.Write("x");  // not a block: the receiver drains the line
    std::this_thread::sleep_for(50ms);
    peer.Write(std::string(16 << 20, 'x'));
    std::this_thread::sleep_for(20ms);
    peer.station->comm.RequestCancel();
    ASSERT_TRUE(peer.station->WaitIdle(2s));
    EXPECT_EQ(peer.station->comm.TranResult.load(), 0);
  }
}

}  // namespace
