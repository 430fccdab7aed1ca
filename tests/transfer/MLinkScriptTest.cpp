// Our M-LINK sides against a peer scripted byte by byte: the retry after a
// refusal, a cancel in its pause, the verdict, the answers to each sender.

#include "Engine.h"
#include "PeerScript.h"
#include "Reference.h"

namespace {

const std::string kDate = " 1970/01/02 12:00:00\r";  // SetModifiedOnSecondDay's

// Our sender on end 0 with a file of its own. A held line's far end takes
// one unread byte and our output queue 128, so that the sender hands a piece
// to the line only once the far end has read enough of the last ones.
struct Sender {
  Sender(const std::string& data, int patienceMs, bool held = false)
      : peer(pr_MLINK, held ? VirtualLine::Options{.inputCapacity = 1} : VirtualLine::Options{}),
        data(data) {
    if (held) {
      comm().Close();
      comm().SetOutQueueSize(128);
      comm().Open();
    }
    WriteFile(dir.File("m.bin"), data);
    EXPECT_TRUE(SetModifiedOnSecondDay(dir.File("m.bin")));
    comm().Times.PatienceMs = patienceMs;
    Start(comm(), dir.File("m.bin"), true);
  }
  TKELCOMM& comm() { return peer.station->comm; }
  std::string Header() const { return "m.bin " + std::to_string(data.size()) + kDate; }
  TempDir dir;
  ScriptedLine peer;
  std::string data;
};

// A refused header is offered again after the patience and a CR, from the
// start of the file; the exchange ends on the receiver's CR.
TEST(MLinkSender, RefusedHeaderIsOfferedAgainAfterThePatience) {
  Sender s(RandomBytes(10, 45), 300);
  Play(s.peer, {"M", s.Header(), "A", "", "", "", "", "\r", "M", s.Header(), "M", s.data, "E", "\r",
                "\r", ""});
  ASSERT_TRUE(s.peer.station->WaitIdle(3s));
  EXPECT_EQ(s.comm().TranResult.load(), 1);
  EXPECT_EQ(s.comm().Status.TranSize.load(), 10);
}

// The retry CR and the closing CR at once.
TEST(MLinkSender, CancelDuringTheRetryPauseStopsAtOnce) {
  Sender s(RandomBytes(10, 46), 10000);
  ASSERT_TRUE(Play(s.peer, {"M", s.Header(), "A", ""}));
  ASSERT_TRUE(WaitFor([&] { return s.comm().TranResult.load() == 0; }, 10s));
  s.comm().RequestCancel();
  EXPECT_EQ(s.peer.Read(2), "\r\r");
  EXPECT_TRUE(s.peer.station->WaitIdle(3s));
}

// The receiver answers as soon as the last byte is in, which may be before
// the sender is done with its last piece: that "E" is the verdict, not a
// byte for the abort check to drop.
TEST(MLinkSender, EArrivingWithTheLastPieceEndsTheTransfer) {
  Sender s(RandomBytes(1000, 47), 1500, true);
  ASSERT_TRUE(Play(s.peer, {"M", s.Header(), "M", ""}));
  ASSERT_TRUE(WaitFor([&] { return s.comm().Status.TranSize.load() == 128; }, 10s));
  s.peer.Write("E");
  ASSERT_TRUE(WaitFor([&] { return s.comm().Engine().RxCount() == 1; }, 10s));
  Play(s.peer, {"", s.data + "\r", "\r", ""});
  ASSERT_TRUE(s.peer.station->WaitIdle(3s));
  EXPECT_EQ(s.comm().TranResult.load(), 1);
}

// Our receiver after its first "M" and how it ends.
struct ReceiverCase {
  const char* name;
  PeerScript script;
  int result;
  std::string recvName, file;
};

class MLinkReceiver : public ::testing::TestWithParam<ReceiverCase> {};

TEST_P(MLinkReceiver, AnswersTheSender) {
  const ReceiverCase& c = GetParam();
  TempDir dir;
  ScriptedLine peer(pr_MLINK);
  peer.comm().Times.StartPauseMs = 300;
  peer.comm().StartDownload(dir.File("in.bin"));
  ASSERT_EQ(peer.Read(1), "M");
  Play(peer, c.script);
  ASSERT_TRUE(peer.station->WaitIdle(10s));
  EXPECT_EQ(peer.Read(1, 50ms), "") << "nothing more";
  EXPECT_EQ(peer.comm().TranResult.load(), c.result);
  EXPECT_EQ(peer.comm().Status.RecvName.get(), c.recvName);
  EXPECT_TRUE(ReadFile(dir.File("in.bin")) == c.file);
  EXPECT_EQ(peer.station->window.Bytes(), "") << "the drained tail never reaches the window";
}

const std::string kData = RandomBytes(3000, 51), kHeader = "data.bin 3000" + kDate;

// A good transfer; a blank in the name makes the size fail; silence in the
// data gets "A" after a second, whole chunks are kept and the tail drained;
// ESC ends the name with no reply but the CR.
INSTANTIATE_TEST_SUITE_P(
    Senders, MLinkReceiver,
    ::testing::Values(
        ReceiverCase{"Good", {kHeader, "M", kData, "E\r"}, 1, "data.bin", kData},
        ReceiverCase{"BlankInTheName", {"my file.bin 3000" + kDate, "A\r"}, 0, "my", ""},
        ReceiverCase{"SilenceInTheData",
                     {kHeader, "M", kData.substr(0, 2500), "A", std::string(300, 'x'), "\r"},
                     0,
                     "data.bin",
                     kData.substr(0, 2048)},
        ReceiverCase{"NameEndsWithEsc", {"data.bin\x1b", "\r"}, 0, "data.bin", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
