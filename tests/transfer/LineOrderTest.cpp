// A peer that says its last word and hangs up at once has still said it. Each
// case holds our port's watcher while the last bytes and the carrier drop go
// into the device, so that the watcher finds them together.

#include "PeerScript.h"
#include "Reference.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

namespace {

using namespace zwire;
using namespace std::string_literals;

const std::string kAck = "\x06", kEot = "\x04";
const std::string kData = RandomBytes(1500, 17), kShort = kData.substr(0, 100);

// A ZMODEM sender's whole session up to its "OO".
PeerScript ZmodemSender() {
  const std::string zrinit = HexHeader(ZRINIT, 0x23000000);
  const std::string info = Padded("f"s + '\0' + "1500", 128, '\0');
  std::string stream = BinHeader(ZDATA, 0, true);
  for (size_t pos = 0; pos < kData.size(); pos += 1024)
    stream += Subpacket(kData.substr(pos, 1024), pos + 1024 >= kData.size() ? 'h' : 'i', true);
  return {"",
          zrinit,
          BinHeader(ZFILE, 0, true) + Subpacket(info, 'k', true),
          "*" + BinHeader(ZRPOS, 0, true),
          stream + BinHeader(ZEOF, 1500, true),
          zrinit,
          HexHeader(ZFIN, 0),
          HexHeader(ZFIN, 1500),
          "OO"};
}

// The script's last, unpaired entry is the peer's last word.
struct EndCase {
  const char* name;
  protType protocol;
  bool upload;
  std::string data;
  PeerScript script;
};
EndCase End(const char* name, protType protocol, bool upload, const std::string& data,
            const PeerScript& script) {
  return {name, protocol, upload, data, script};
}

class LastWordsBeforeTheHangUp : public ::testing::TestWithParam<EndCase> {};

TEST_P(LastWordsBeforeTheHangUp, AreHeardAndTheTransferSucceeds) {
  const EndCase& c = GetParam();
  TempDir dir;
  ScriptedLine peer(c.protocol);
  TKELCOMM& comm = peer.comm();
  const std::string path = dir.File(c.upload ? "out.bin" : "in.bin");
  if (c.upload) {
    WriteFile(path, c.data);
    ASSERT_TRUE(SetModifiedOnSecondDay(path));
  }
  Start(comm, path, c.upload);
  ASSERT_TRUE(Play(peer, c.script));

  peer.line->end(0).HoldWait();
  peer.Write(c.script.back());
  peer.line->end(1).SetFarRlsd(false);
  const bool endedWhileHeld = peer.station->WaitIdle(300ms);
  peer.line->end(0).ReleaseWait();

  ASSERT_TRUE(peer.station->WaitIdle(5s));
  EXPECT_FALSE(endedWhileHeld) << "the hang-up was believed before the bytes that came first";
  EXPECT_EQ(comm.TranResult.load(), 1);
  if (!c.upload) {
    EXPECT_TRUE(ReadFile(path) == c.data);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, LastWordsBeforeTheHangUp,
    ::testing::Values(
        End("ZmodemReceiverHearsOo", pr_ZMODEM, false, kData, ZmodemSender()),
        End("XmodemReceiverHearsEot", pr_XMODEM_CRC_128, false, kData.substr(0, 128),
            {"", "C", Frame(1, kData.substr(0, 128), true), kAck, kEot}),
        End("XmodemSenderHearsTheEotsAck", pr_XMODEM_CRC_128, true, kShort,
            {"C", Frame(1, Padded(kShort, 128), true), kAck, kEot, kAck}),
        End("YmodemSenderHearsTheEotsAck", pr_YMODEM, true, kShort,
            {"C", Frame(0, Padded("out.bin"s + '\0' + "100 0250600", 128, '\0'), true), kAck + "C",
             Frame(1, Padded(kShort, 1024), true), kAck, kEot, kAck}),
        End("MLinkSenderHearsE", pr_MLINK, true, kData.substr(0, 700),
            {"M", "out.bin 700 1970/01/02 12:00:00\r", "M", kData.substr(0, 700), "E"})),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
