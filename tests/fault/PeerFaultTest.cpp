// Peers that lie or vanish. Scripted senders announce names that leave the
// folder or carry control bytes or run to 300 bytes, and sizes past 32 bits or
// below zero: the file goes to the chosen path only, RecvName holds the name's
// bytes, and no more than was sent is kept. lrzsz killed in a transfer (socat
// then closes the pty under us): the transfer fails with its part kept, and
// the port opens again.

#include <signal.h>

#include <filesystem>

#include "FaultPair.h"
#include "Peers.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

using namespace faulttest;
using namespace zwire;

namespace {

const std::string kData = "the file's own bytes\r\n", kAck = "\x06";  // 22 bytes, an ACK
using Script = std::vector<std::pair<std::string, std::string>>;      // what we say, the answer

// A sender's side of one file, as far as our receiver goes along with it.
Script SenderOf(protType p, const std::string& name, const std::string& size) {
  const std::string header = name + '\0' + size + (p == pr_ZMODEM ? " 13414537017 100644" : " 0");
  const std::string info = Padded(header, header.size() < 128 ? 128 : 1024, '\0');
  const std::string zrinit = HexHeader(ZRINIT, 0x23000000);
  if (p == pr_YMODEM)
    return {{" C", Frame(0, info, true)},
            {kAck + "C", Frame(1, Padded(kData, 128), true)},
            {kAck, "\x04"},
            {kAck + "C", Frame(0, std::string(128, '\0'), true)}};
  if (p == pr_ZMODEM)
    return {{zrinit, BinHeader(ZFILE, 0, true) + Subpacket(info, 'k', true)},
            {"*" + BinHeader(ZRPOS, 0, true),
             BinHeader(ZDATA, 0, true) + Subpacket(kData, 'h', true) + BinHeader(ZEOF, 22, true)},
            {zrinit, HexHeader(ZFIN, 0)},
            {HexHeader(ZFIN, 22), "OO"}};
  return {{"M", name + " " + size + " 1997/06/01 09:05:03\r"}, {"M", kData}};
}

const std::pair<std::string, std::string> kLies[] = {
    {"../../kelfault-up.bin", "22"},       {"/tmp/kelfault-abs.bin", "22"},
    {std::string(300, 'n'), "22"},         {"c\x01\x07\x08\x0d\x7f\x9b.bin", "22"},
    {"sized.bin", "2147483648"},           {"sized.bin", "-5"},
    {"sized.bin", "99999999999999999999"}, {"sized.bin", "4294967318"}};

class HostilePeer : public ::testing::TestWithParam<protType> {};

TEST_P(HostilePeer, FileGoesToTheChosenPathAndTheTransferEnds) {
  TempDir dir;
  for (size_t i = 0; i < std::size(kLies); ++i) {
    SCOPED_TRACE("lie " + std::to_string(i));
    const std::string folder = dir / std::to_string(i);
    std::filesystem::create_directory(folder);
    ScriptedLine peer(GetParam());
    TKELCOMM& comm = peer.comm();
    comm.Times = kShortWaits;
    comm.StartDownload(folder + "/chosen.bin");
    const Script script = SenderOf(GetParam(), kLies[i].first, kLies[i].second);
    for (size_t n = 0;
         n < script.size() && peer.Read(script[n].first.size(), 10s) == script[n].first; ++n)
      peer.Write(script[n].second);
    ASSERT_TRUE(peer.station->WaitIdle(30s));
    const std::string kept = ReadFile(folder + "/chosen.bin");
    EXPECT_EQ(Padded(kData, 128).compare(0, kept.size(), kept), 0) << "only what was sent";
    EXPECT_GE(comm.Status.FileSize.load(), 0);
    if (kLies[i].second != "22") continue;
    EXPECT_EQ(comm.TranResult.load(), 1);
    EXPECT_EQ(kept, kData);
    EXPECT_EQ(comm.Status.RecvName.get(), kLies[i].first) << "held as bytes";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), std::size(kLies));
  EXPECT_FALSE(FileExists("/kelfault-up.bin") || FileExists("/tmp/kelfault-abs.bin"));
}

INSTANTIATE_TEST_SUITE_P(Receivers, HostilePeer, ::testing::Values(pr_YMODEM, pr_ZMODEM, pr_MLINK),
                         [](const auto& info) { return Label(info.param); });

using KillRow = std::tuple<protType, bool, const char*>;  // ours sends?, the lrzsz command
class PeerKilled : public ::testing::TestWithParam<KillRow> {};

TEST_P(PeerKilled, TransferFailsKeepsItsPartAndThePortOpensAgain) {
  const auto [protocol, oursSends, command] = GetParam();
  ASSERT_TRUE(ProgramsInstalled({"socat", "sx", "sb", "rz"}));
  TempDir dir;
  const std::string data = RandomBytes(1 << 20, 9), kept = dir / (oursSends ? "recv" : "ours");
  TKELCOMM comm;
  CommCollector window(comm);
  comm.Protocol = protocol;
  comm.Times = kShortWaits;
  const auto open = [&](LrzszPeer& peer) {
    ASSERT_TRUE(peer.Ready());
    comm.SetDevicePath(peer.device());
    comm.Open();
  };
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  {
    // The shell tells the peer's id; fd 3 keeps the pty as the peer's input.
    LrzszPeer peer(dir, "exec 3<&0; " + std::string(command) + " <&3 & echo $! >pid; wait $!");
    open(peer);
    oursSends ? comm.StartUpload(dir / "data.bin", "recv") : comm.StartDownload(kept);
    ASSERT_TRUE(WaitFor([&] { return comm.Status.TranSize >= 65536; }, 30s)) << peer.Log();
    ASSERT_EQ(kill(std::atoi(ReadFile(dir / "pid").c_str()), SIGKILL), 0);
    ASSERT_TRUE(WaitTransferEnd(comm, 30000)) << peer.Log();
    EXPECT_EQ(comm.TranResult.load(), 0);
    const std::string part = ReadFile(kept);
    EXPECT_GE(part.size(), oursSends ? 0u : 65536u) << "the part received is kept";
    EXPECT_EQ(data.compare(0, part.size(), part), 0);
    comm.Close();
  }
  LrzszPeer next(dir, "printf HOST-TEXT");
  open(next);
  EXPECT_TRUE(WaitFor([&] { return window.Bytes().find("HOST-TEXT") != std::string::npos; }, 10s))
      << "the port opens again and its window receives";
}

INSTANTIATE_TEST_SUITE_P(Lrzsz, PeerKilled,
                         ::testing::Values(KillRow{pr_XMODEM_CRC_128, false, "sx data.bin"},
                                           KillRow{pr_YMODEM, false, "sb data.bin"},
                                           KillRow{pr_ZMODEM, true, "rz"}),
                         [](const auto& info) { return Label(std::get<0>(info.param)); });

}  // namespace
