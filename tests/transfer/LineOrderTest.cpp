// A peer that says its last word and hangs up at once has still said it: the
// end of the line reaches a transfer after the bytes that came before it.
// Each case holds our port's watcher while the peer's last bytes and the
// carrier drop both go into the device, so that the watcher finds them
// together, the order in which the drop used to overtake the bytes.

#include <gtest/gtest.h>

#include <functional>

#include "Reference.h"
#include "Stations.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

namespace {

const std::string kAck(1, '\x06');
const std::string kEot(1, '\x04');

// The peer's part up to its last words, which it returns.
using Script = std::function<std::string(ScriptedLine& peer, const std::string& data)>;

struct EndCase {
  const char* name;
  protType protocol;
  bool upload;
  size_t size;
  Script script;
};

bool Expect(ScriptedLine& peer, const std::string& bytes, const char* what) {
  const std::string got = peer.Read(bytes.size());
  EXPECT_TRUE(got == bytes) << what << ": " << got.size() << " bytes";
  return got == bytes;
}

// A ZMODEM sender's whole session; its last words are the "OO".
std::string ZmodemSenderUpToOo(ScriptedLine& peer, const std::string& data) {
  using namespace zwire;
  const std::string zrinit = HexHeader(ZRINIT, 0x23000000);
  if (!Expect(peer, zrinit, "ZRINIT")) return "";
  std::string info = "file.bin" + std::string(1, '\0') + std::to_string(data.size()) + " 0 0";
  info.resize(128, '\0');
  peer.Write(BinHeader(ZFILE, 0, true) + Subpacket(info, 'k', true));
  if (!Expect(peer, "*" + BinHeader(ZRPOS, 0, true), "ZRPOS")) return "";
  std::string stream = BinHeader(ZDATA, 0, true);
  for (size_t pos = 0; pos < data.size(); pos += 1024)
    stream += Subpacket(data.substr(pos, 1024), pos + 1024 >= data.size() ? 'h' : 'i', true);
  peer.Write(stream + BinHeader(ZEOF, static_cast<uint32_t>(data.size()), true));
  if (!Expect(peer, zrinit, "ZRINIT after the file")) return "";
  peer.Write(HexHeader(ZFIN, 0));
  Expect(peer, HexHeader(ZFIN, static_cast<uint32_t>(data.size())), "ZFIN");
  return "OO";
}

// An XMODEM sender's one block; its last word is the EOT.
std::string XmodemSenderUpToEot(ScriptedLine& peer, const std::string& data) {
  if (!Expect(peer, "C", "the invitation")) return "";
  peer.Write(Frame(1, data, true));
  Expect(peer, kAck, "the block's ACK");
  return kEot;
}

// An XMODEM receiver that has the block; its last word is the EOT's ACK.
std::string XmodemReceiverUpToAck(ScriptedLine& peer, const std::string& data) {
  peer.Write("C");
  if (!Expect(peer, Frame(1, Padded(data, 128), true), "the block")) return "";
  peer.Write(kAck);
  Expect(peer, kEot, "the EOT");
  return kAck;
}

// An M-LINK receiver that has the data; its last word is the "E".
std::string MLinkReceiverUpToE(ScriptedLine& peer, const std::string& data) {
  peer.Write("M");
  if (peer.ReadLine().empty()) return "";
  peer.Write("M");
  if (!Expect(peer, data, "the data")) return "";
  return "E";
}

class LastWordsBeforeTheHangUp : public ::testing::TestWithParam<EndCase> {};

TEST_P(LastWordsBeforeTheHangUp, AreHeardAndTheTransferSucceeds) {
  const EndCase& c = GetParam();
  TempDir dir;
  const std::string data = RandomBytes(c.size, 17);
  ScriptedLine peer(c.protocol);
  TKELCOMM& comm = peer.station->comm;
  if (c.upload) {
    WriteFile(dir.File("out.bin"), data);
    comm.StartUpload(dir.File("out.bin"));
  } else {
    comm.StartDownload(dir.File("in.bin"));
  }
  const std::string last = c.script(peer, data);
  ASSERT_FALSE(HasFailure());

  peer.line->end(0).HoldWait();
  peer.Write(last);
  peer.line->end(1).SetFarRlsd(false);
  const bool endedWhileHeld = peer.station->WaitIdle(300ms);
  peer.line->end(0).ReleaseWait();

  ASSERT_TRUE(peer.station->WaitIdle(5s));
  EXPECT_FALSE(endedWhileHeld) << "the hang-up was believed before the bytes that came first";
  EXPECT_EQ(comm.TranResult.load(), 1);
  if (!c.upload) {
    EXPECT_TRUE(ReadFile(dir.File("in.bin")) == data);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, LastWordsBeforeTheHangUp,
    ::testing::Values(
        EndCase{"ZmodemReceiverHearsOo", pr_ZMODEM, false, 1500, ZmodemSenderUpToOo},
        EndCase{"XmodemReceiverHearsEot", pr_XMODEM_CRC_128, false, 128, XmodemSenderUpToEot},
        EndCase{"XmodemSenderHearsTheEotsAck", pr_XMODEM_CRC_128, true, 100, XmodemReceiverUpToAck},
        EndCase{"YmodemSenderHearsTheEotsAck", pr_YMODEM, true, 100,
                [](ScriptedLine& peer, const std::string& data) {
                  peer.Write("C");
                  if (peer.Read(133).size() != 133) return std::string();
                  peer.Write(kAck + "C");
                  Expect(peer, Frame(1, Padded(data, 1024), true), "the block");
                  peer.Write(kAck);
                  Expect(peer, kEot, "the EOT");
                  return kAck;
                }},
        EndCase{"MLinkSenderHearsE", pr_MLINK, true, 700, MLinkReceiverUpToE}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
