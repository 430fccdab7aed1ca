// Our ZMODEM sender against a receiver scripted frame by frame. The frames it
// must send are built with the peer's own escaping and check code, so a fault
// shared by our sender and our frame layer still shows here.

#include <algorithm>

#include "PeerScript.h"
#include "Reference.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

namespace {

using namespace zwire;
using namespace std::string_literals;

const std::string kData = RandomBytes(3000, 3);
std::string Zrinit(bool crc32) { return HexHeader(ZRINIT, (crc32 ? 0x23u : 0x03u) << 24); }

// ZFILE (ZF0 = ZCRESUM) with the lower-cased name, size and date, then XON.
std::string FileFrame(bool crc32) {
  const std::string info = Padded("data.bin"s + '\0' + "3000 0250600", 128, '\0');
  return BinHeader(ZFILE, 3 << 24, crc32) + Subpacket(info, 'k', crc32) + "\x11";
}

// ZDATA at from, subpackets of length bytes up to ZCRCE, then ZEOF.
std::string DataFrom(size_t from, bool crc32, size_t length = 1024) {
  std::string out = BinHeader(ZDATA, static_cast<uint32_t>(from), crc32);
  for (size_t pos = from; pos < kData.size(); pos += length)
    out += Subpacket(kData.substr(pos, length), pos + length >= kData.size() ? 'h' : 'i', crc32);
  return out + BinHeader(ZEOF, static_cast<uint32_t>(kData.size()), crc32);
}

// The data again after a ZRPOS that interrupted the stream or answered ZEOF:
// a second ZPAD leads the header, for a receiver to pair with a ZDLE the cut
// stream may have left dangling.
std::string DataAgainFrom(size_t from, bool crc32, size_t length = 1024) {
  return "*" + DataFrom(from, crc32, length);
}

// "rz" CR and ZRQINIT, then the file information.
PeerScript Invite(bool crc32) {
  return {"", "rz\r" + HexHeader(ZRQINIT, 0), Zrinit(crc32), FileFrame(crc32)};
}
// ZFIN in CRC-16 whatever the data used, then "OO" for the receiver's ZFIN.
PeerScript Finish(const std::string& answer) {
  return {answer, BinHeader(ZFIN, 0, false), HexHeader(ZFIN, 0), "OO"};
}

// Ten ZRPOS in a row during the data are answered with data, the eleventh
// with the abort sequence. Each that points where the one before did
// halves the subpackets, down to 128 bytes.
PeerScript TenRpos() {
  PeerScript script = Invite(false) + PeerScript{HexHeader(ZRPOS, 0), DataFrom(0, false)};
  for (size_t i = 1, length = 1024; i < 10; ++i, length = std::max<size_t>(128, length / 2))
    script = script + PeerScript{HexHeader(ZRPOS, 0), DataAgainFrom(0, false, length)};
  return script + PeerScript{HexHeader(ZRPOS, 0), CancelSequence()};
}

// On a noisy line every reply may be a ZRPOS: as long as each reaches
// further into the file, the count of ten starts over.
PeerScript RposWithProgress() {
  PeerScript script = Invite(true) + PeerScript{HexHeader(ZRPOS, 0), DataFrom(0, true)};
  for (size_t at = 0; at <= 2800; at += 200)
    script = script + PeerScript{HexHeader(ZRPOS, at), DataAgainFrom(at, true)};
  return script + Finish(Zrinit(true));
}

struct SendCase {
  const char* name;
  PeerScript script;
  int result;
};

class ZmodemSender : public ::testing::TestWithParam<SendCase> {};

TEST_P(ZmodemSender, Ends) {
  TempDir dir;
  ScriptedLine peer(pr_ZMODEM);
  WriteFile(dir.File("file"), kData);
  ASSERT_TRUE(SetModifiedOnSecondDay(dir.File("file")));
  peer.comm().StartUpload(dir.File("file"), "Data.BIN");
  Play(peer, GetParam().script);
  ASSERT_TRUE(peer.station->WaitIdle(5s));
  EXPECT_EQ(peer.comm().TranResult.load(), GetParam().result);
  EXPECT_EQ(peer.Read(1, 100ms), "") << "nothing after the end";
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ZmodemSender,
    ::testing::Values(
        SendCase{"Crc16",
                 Invite(false) + PeerScript{HexHeader(ZRPOS, 0), DataFrom(0, false)} +
                     Finish(Zrinit(false)),
                 1},
        // Skipped or refused: not taken, so no success, but no abort either.
        SendCase{"SkipEndsWithoutAbort", Invite(true) + Finish(HexHeader(ZSKIP, 0)), 0},
        SendCase{"NakEndsWithoutAbort", Invite(true) + Finish(HexHeader(ZNAK, 0)), 0},
        SendCase{"AbortIsAnswered",
                 Invite(true) + PeerScript{HexHeader(ZABORT, 0), CancelSequence()}, 0},
        SendCase{
            "CancelRightAfterRposIsHeard",
            Invite(true) + PeerScript{HexHeader(ZRPOS, 0) + CancelSequence(), CancelSequence()}, 0},
        SendCase{"TenRposInARowAbort", TenRpos(), 0},
        SendCase{"RposThatMakeProgressDoNotCount", RposWithProgress(), 1},
        // A ZRINIT after ZFILE followed by quiet means the receiver lost the
        // ZFILE: it goes again. One followed at once by ZRPOS was a repeat.
        SendCase{"LostFileInformationGoesAgain",
                 Invite(true) +
                     PeerScript{Zrinit(true), FileFrame(true), Zrinit(true) + HexHeader(ZRPOS, 0),
                                DataFrom(0, true)} +
                     Finish(Zrinit(true)),
                 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A ZRPOS in the middle of the stream on a slow line: what still waited in
// the device is dropped, so the data from the asked position follows the
// reply after a few hundred bytes, not after everything the port queues.
TEST(ZmodemSenderOnASlowLine, AnswersRposAheadOfWhatWasQueued) {
  TempDir dir;
  ScriptedLine peer(pr_ZMODEM, {.speed = 9600});
  WriteFile(dir.File("file"), kData);
  ASSERT_TRUE(SetModifiedOnSecondDay(dir.File("file")));
  peer.comm().StartUpload(dir.File("file"), "Data.BIN");
  ASSERT_TRUE(
      Play(peer, Invite(true) + PeerScript{HexHeader(ZRPOS, 0), BinHeader(ZDATA, 0, true)}));
  peer.Read(200);
  peer.Write(HexHeader(ZRPOS, 0));
  const std::string resent = DataAgainFrom(0, true);
  std::string got;
  for (int reads = 0; reads < 20 && got.find(resent) == std::string::npos; ++reads)
    got += peer.Read(resent.size(), 1s);
  ASSERT_NE(got.find(resent), std::string::npos);
  EXPECT_LT(got.find(resent), 1024u) << "bytes sent before the resent data";
  ASSERT_TRUE(Play(peer, Finish(Zrinit(true))));
  ASSERT_TRUE(peer.station->WaitIdle(5s));
  EXPECT_EQ(peer.comm().TranResult.load(), 1);
}

}  // namespace
