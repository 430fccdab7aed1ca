// Senders that lie, scripted on the virtual line against our receiver: names
// that climb out of the folder, name another place, carry control bytes or
// run to 300 bytes; sizes past 32 bits or below zero. The file goes to the
// chosen path and nowhere else, RecvName holds the name as bytes, and the
// transfer ends.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "FaultPair.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

using namespace faulttest;

namespace {

const std::string kData = "the file's own bytes\r\n";
const std::string kAck = "\x06";

// A sender's side of one file under name and sizeText, as far as our
// receiver goes along with it.
void SendAs(ScriptedLine& peer, const std::string& name, const std::string& sizeText) {
  using namespace zwire;
  const protType p = peer.station->comm.Protocol.load();
  if (p == pr_YMODEM) {
    if (peer.Read(2) != " C") return;
    const std::string header = name + std::string(1, '\0') + sizeText + " 0";
    peer.Write(Frame(0, Padded(header, header.size() < 128 ? 128 : 1024, '\0'), true));
    if (peer.Read(2) != kAck + "C") return;
    peer.Write(Frame(1, Padded(kData, 128), true));
    if (peer.Read(1) != kAck) return;
    peer.Write("\x04");
    if (peer.Read(2) != kAck + "C") return;
    peer.Write(Frame(0, std::string(128, '\0'), true));
    peer.Read(1);
  } else if (p == pr_ZMODEM) {
    if (peer.Read(HexHeader(ZRINIT, 0x23000000).size()).empty()) return;
    std::string info = name + std::string(1, '\0') + sizeText + " 13414537017 100644";
    info.resize(std::max<size_t>(info.size() + 1, 128), '\0');
    peer.Write(BinHeader(ZFILE, 0, true) + Subpacket(info, 'k', true));
    if (peer.Read(BinHeader(ZRPOS, 0, true).size() + 1) != "*" + BinHeader(ZRPOS, 0, true)) return;
    peer.Write(BinHeader(ZDATA, 0, true) + Subpacket(kData, 'h', true) +
               BinHeader(ZEOF, static_cast<uint32_t>(kData.size()), true));
    if (peer.Read(HexHeader(ZRINIT, 0x23000000).size()).empty()) return;
    peer.Write(HexHeader(ZFIN, 0));
    peer.Read(HexHeader(ZFIN, 0).size());
    peer.Write("OO");
  } else {
    if (peer.Read(1, 8s) != "M") return;
    peer.Write(name + " " + sizeText + " 1997/06/01 09:05:03\r");
    if (peer.Read(1) != "M") return;
    peer.Write(kData);
    peer.Read(1);
  }
}

// Our receivers, one per case, run side by side: the M-LINK receiver's
// start pause then costs its time once.
struct Receivers {
  Receivers(protType p, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      mkdir(dir.File("case" + std::to_string(i)).c_str(), 0755);
      peers.push_back(std::make_unique<ScriptedLine>(p));
      peers.back()->station->comm.StartDownload(Target(i));
    }
  }
  std::string Target(size_t i) { return dir.File("case" + std::to_string(i)) + "/chosen.bin"; }
  void Run(const std::function<void(ScriptedLine&, size_t)>& script) {
    std::vector<std::thread> scripts;
    for (size_t i = 0; i < peers.size(); ++i)
      scripts.emplace_back([&, i] { script(*peers[i], i); });
    for (auto& t : scripts) t.join();
  }
  TKELCOMM& comm(size_t i) { return peers[i]->station->comm; }
  TempDir dir;
  std::vector<std::unique_ptr<ScriptedLine>> peers;
};

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  return names;
}

const std::vector<std::string> kHostileNames = {"../../kelfault-up.bin", "/tmp/kelfault-abs.bin",
                                                std::string("c\x01\x07\x08\x0d\x7f\x9b.bin"),
                                                std::string(300, 'n')};

class HostilePeer : public ::testing::TestWithParam<protType> {};

TEST_P(HostilePeer, AnnouncedNameNeverMovesTheFile) {
  Receivers r(GetParam(), kHostileNames.size());
  r.Run([&](ScriptedLine& peer, size_t i) { SendAs(peer, kHostileNames[i], "22"); });
  for (size_t i = 0; i < kHostileNames.size(); ++i) {
    SCOPED_TRACE("name " + std::to_string(i));
    ASSERT_TRUE(r.peers[i]->station->WaitIdle(5s));
    EXPECT_EQ(r.comm(i).TranResult.load(), 1);
    EXPECT_EQ(ReadFile(r.Target(i)), kData);
    EXPECT_EQ(Entries(r.dir.File("case" + std::to_string(i))),
              std::vector<std::string>{"chosen.bin"});
    EXPECT_EQ(r.comm(i).Status.RecvName.get(), kHostileNames[i]) << "held as bytes";
  }
  EXPECT_EQ(Entries(r.dir.File(".")).size(), kHostileNames.size());
  EXPECT_FALSE(FileExists("/kelfault-up.bin"));
  EXPECT_FALSE(FileExists("/tmp/kelfault-abs.bin"));
}

TEST_P(HostilePeer, SizesPast32BitsOrBelowZeroEndTheTransfer) {
  const std::vector<std::string> sizes = {"2147483648", "-5", "99999999999999999999", "4294967318"};
  Receivers r(GetParam(), sizes.size());
  r.Run([&](ScriptedLine& peer, size_t i) { SendAs(peer, "sized.bin", sizes[i]); });
  for (size_t i = 0; i < sizes.size(); ++i) {
    SCOPED_TRACE("size " + sizes[i]);
    // What follows a doubtful size is bounded by the protocol's waits: at
    // most a 10-second wait for the next header.
    ASSERT_TRUE(r.peers[i]->station->WaitIdle(12s));
    EXPECT_GE(r.comm(i).Status.FileSize.load(), 0);
    // A size beyond the data keeps the fill of the block that carried it.
    const std::string kept = ReadFile(r.Target(i));
    EXPECT_EQ(Padded(kData, 128).compare(0, kept.size(), kept), 0) << "only bytes the sender sent";
  }
}

INSTANTIATE_TEST_SUITE_P(Receivers, HostilePeer, ::testing::Values(pr_YMODEM, pr_ZMODEM, pr_MLINK),
                         [](const auto& info) { return std::string(Label(info.param)); });

}  // namespace
