// Senders that lie, scripted against our receiver: names that climb out of
// the folder, name another place, carry control bytes or run to 300 bytes;
// sizes past 32 bits or below zero. The file goes to the chosen path and
// nowhere else, RecvName holds the name as bytes, and the transfer ends with
// no more than the sender sent.

#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "FaultPair.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

using namespace faulttest;
using namespace zwire;

namespace {

const std::string kData = "the file's own bytes\r\n", kAck = "\x06";

// A sender's side of one file, as far as our receiver goes along with it.
void SendAs(ScriptedLine& peer, const std::string& name, const std::string& size) {
  const protType p = peer.comm().Protocol.load();
  const std::string zrinit = HexHeader(ZRINIT, 0x23000000);
  if (p == pr_YMODEM) {
    const std::string header = name + '\0' + size + " 0";
    if (peer.Read(2) != " C") return;
    peer.Write(Frame(0, Padded(header, header.size() < 128 ? 128 : 1024, '\0'), true));
    if (peer.Read(2) != kAck + "C") return;
    peer.Write(Frame(1, Padded(kData, 128), true));
    if (peer.Read(1) != kAck) return;
    peer.Write("\x04");
    if (peer.Read(2) != kAck + "C") return;
    peer.Write(Frame(0, std::string(128, '\0'), true));
    peer.Read(1);
  } else if (p == pr_ZMODEM) {
    const std::string info = name + '\0' + size + " 13414537017 100644";
    if (peer.Read(zrinit.size()).empty()) return;
    peer.Write(BinHeader(ZFILE, 0, true) +
               Subpacket(Padded(info, std::max<size_t>(info.size() + 1, 128), '\0'), 'k', true));
    if (peer.Read(BinHeader(ZRPOS, 0, true).size() + 1) != "*" + BinHeader(ZRPOS, 0, true)) return;
    peer.Write(BinHeader(ZDATA, 0, true) + Subpacket(kData, 'h', true) +
               BinHeader(ZEOF, static_cast<uint32_t>(kData.size()), true));
    if (peer.Read(zrinit.size()).empty()) return;
    peer.Write(HexHeader(ZFIN, 0));
    peer.Read(HexHeader(ZFIN, 0).size());
    peer.Write("OO");
  } else {
    if (peer.Read(1, 10s) != "M") return;
    peer.Write(name + " " + size + " 1997/06/01 09:05:03\r");
    if (peer.Read(1) != "M") return;
    peer.Write(kData);
    peer.Read(1);
  }
}

const std::pair<std::string, std::string> kLies[] = {{"../../kelfault-up.bin", "22"},
                                                     {"/tmp/kelfault-abs.bin", "22"},
                                                     {"c\x01\x07\x08\x0d\x7f\x9b.bin", "22"},
                                                     {std::string(300, 'n'), "22"},
                                                     {"sized.bin", "2147483648"},
                                                     {"sized.bin", "-5"},
                                                     {"sized.bin", "99999999999999999999"},
                                                     {"sized.bin", "4294967318"}};

class HostilePeer : public ::testing::TestWithParam<protType> {};

// One receiver per lie, side by side, each with a folder of its own.
TEST_P(HostilePeer, FileGoesToTheChosenPathAndTheTransferEnds) {
  TempDir dir;
  std::vector<std::unique_ptr<ScriptedLine>> peers;
  std::vector<std::thread> scripts;
  for (const auto& [name, size] : kLies) {
    const std::string folder = dir / std::to_string(peers.size());
    mkdir(folder.c_str(), 0755);
    ScriptedLine& peer = *peers.emplace_back(std::make_unique<ScriptedLine>(GetParam()));
    ShortenWaits(peer.comm());
    peer.comm().StartDownload(folder + "/chosen.bin");
    scripts.emplace_back([&peer, &name, &size] { SendAs(peer, name, size); });
  }
  for (auto& t : scripts) t.join();
  for (size_t i = 0; i < peers.size(); ++i) {
    SCOPED_TRACE("lie " + std::to_string(i));
    TKELCOMM& comm = peers[i]->comm();
    ASSERT_TRUE(peers[i]->station->WaitIdle(30s));
    const std::string folder = dir / std::to_string(i), kept = ReadFile(folder + "/chosen.bin");
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

}  // namespace
