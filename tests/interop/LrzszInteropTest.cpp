// Our protocols against lrzsz (sx/rx, sb/rb, sz/rz), each way, with the rows
// where a peer's habits once tripped us; then on a paced line that damages
// bits, where the acknowledged protocols repeat what was hit.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "Peers.h"

namespace {

// Every byte value, the "@" CR pairs that ZMODEM's escaping must protect,
// then random bytes.
std::string Payload(size_t size, uint32_t seed) {
  std::string data = RandomBytes(size, seed);
  for (size_t i = 0; i < size && i < 256; ++i) data[i] = static_cast<char>(i);
  for (size_t i = 300; i + 2 <= size && i < 2000; i += 97) data.replace(i, 2, "@\r");
  return data;
}

enum class Before { Nothing, HalfThere, FolderInTheWay };

struct Row {
  const char* label;
  protType protocol;
  bool oursSends;
  const char* peer;  // run in the test's folder: it sends data.bin or writes recv.bin
  size_t size;
  size_t unit = 0;  // XMODEM: the received file is filled to a multiple of this
  Before before = Before::Nothing;
  bool mayFail = false;  // a clean failure on both sides is acceptable too
  int batch = 1;         // ours sends this many files in one session
};

std::ostream& operator<<(std::ostream& os, const Row& r) { return os << r.label; }

// Runs one row on line options (unpaced when default); returns the bytes sent.
void RunRow(const Row& r, VirtualLine::Options options = {}) {
  ASSERT_TRUE(ProgramsInstalled({"socat", "sx", "rx", "sb", "rb", "sz", "rz"}));
  TempDir dir;
  const std::string data = Payload(r.size, static_cast<uint32_t>(r.size) + r.protocol);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  if (r.before == Before::HalfThere) WriteFile(dir / "recv.bin", data.substr(0, r.size / 2));
  if (r.before == Before::FolderInTheWay) mkdir((dir / "recv.bin").c_str(), 0755);
  LrzszPeer peer(dir, r.peer);
  ASSERT_TRUE(peer.Ready());
  PtyBridge bridge(peer.device(), options);
  ASSERT_TRUE(bridge.ok());
  auto comm = OpenOurSide(bridge.OurDevice(), r.protocol);
  std::vector<TUploadFile> files{{dir / "data.bin", "Recv.BIN"}};
  for (int i = 1; i < r.batch; ++i) {
    files.push_back({dir / ("data" + std::to_string(i)), "recv" + std::to_string(i)});
    ASSERT_TRUE(WriteFile(files.back().Path, Payload(r.size / (i + 1), i)));
  }
  r.oursSends ? comm->StartUploads(files) : comm->StartDownload(dir / "ours.bin");
  ASSERT_TRUE(WaitTransferEnd(*comm, 60000)) << peer.Log();
  // rz asks for "OO" three times, 10 s apart, and may miss ours on a noisy line.
  ASSERT_TRUE(peer.WaitExit(40000)) << peer.Log();
  if (r.mayFail && comm->TranResult.load() == 0) {
    EXPECT_NE(peer.ExitCode(), 0) << "a failure on both sides, not a silent loss";
    return;
  }
  EXPECT_EQ(comm->TranResult.load(), r.before == Before::FolderInTheWay ? 0 : 1) << peer.Log();
  if (r.before == Before::FolderInTheWay) {
    EXPECT_EQ(comm->Status.TranSize.load(), 0) << "the skipped file is not sent";
    return;
  }
  EXPECT_EQ(peer.ExitCode(), 0) << peer.Log();
  const std::string target = dir / (r.oursSends ? "recv.bin" : "ours.bin");
  EXPECT_TRUE(FileExists(target)) << "an empty file is made too";
  const std::string got = ReadFile(target);
  EXPECT_TRUE(got == (r.unit ? PaddedTo(data, r.unit) : data)) << got.size() << " bytes";
  for (int i = 1; i < r.batch; ++i)
    EXPECT_EQ(ReadFile(dir / files[i].Name), ReadFile(files[i].Path)) << files[i].Name;
  if (!r.oursSends && r.protocol >= pr_YMODEM) {
    EXPECT_EQ(comm->Status.RecvName.get(), "data.bin");
    EXPECT_EQ(comm->Status.FileSize.load(), static_cast<int32_t>(r.size));
  }
  if (r.before == Before::HalfThere) {
    EXPECT_LE(comm->Status.TranSize.load(), static_cast<int32_t>(r.size / 2 + 2048));
  }
}

class Lrzsz : public ::testing::TestWithParam<Row> {};
class LrzszNoisyLine : public ::testing::TestWithParam<Row> {};

TEST_P(Lrzsz, FileArrivesWhole) { RunRow(GetParam()); }

TEST_P(LrzszNoisyLine, DamagedBlocksAreRepeated) {
  RunRow(GetParam(), {.speed = 115200, .bitErrorRate = 3e-5, .seed = GetParam().size});
}

const auto kName = [](const auto& info) { return std::string(info.param.label); };

INSTANTIATE_TEST_SUITE_P(
    Peers, Lrzsz,
    ::testing::Values(Row{"SumToRx", pr_XMODEM_SUM_128, true, "rx recv.bin", 3000, 128},
                      Row{"SxToSum", pr_XMODEM_SUM_128, false, "sx data.bin", 3000, 128},
                      Row{"CrcToRx", pr_XMODEM_CRC_128, true, "rx -c recv.bin", 3000, 128},
                      Row{"SxToCrc", pr_XMODEM_CRC_128, false, "sx data.bin", 3000, 128},
                      Row{"OneKToRx", pr_XMODEM_CRC_1024, true, "rx -c recv.bin", 2100, 1024},
                      Row{"SxOneKToOneK", pr_XMODEM_CRC_1024, false, "sx -k data.bin", 3000, 128},
                      Row{"YmodemToRb", pr_YMODEM, true, "rb", 897},
                      Row{"YmodemBatchToRb", pr_YMODEM, true, "rb", 5000, 0, {}, false, 3},
                      Row{"SbToYmodem", pr_YMODEM, false, "sb -k data.bin", 897},
                      Row{"SbEmptyToYmodem", pr_YMODEM, false, "sb -k data.bin", 0},
                      Row{"SbToYmodemG", pr_YMODEM_G, false, "sb -k data.bin", 70000},
                      Row{"Sb128ToYmodemG", pr_YMODEM_G, false, "sb data.bin", 3000},
                      Row{"ZmodemToRz", pr_ZMODEM, true, "rz", 100000},
                      Row{"ZmodemBatchToRz", pr_ZMODEM, true, "rz", 30000, 0, {}, false, 3},
                      Row{"SzToZmodem", pr_ZMODEM, false, "sz data.bin", 100000},
                      Row{"SzCrc16", pr_ZMODEM, false, "sz --16-bit-crc data.bin", 70000},
                      Row{"SzEscapeAll", pr_ZMODEM, false, "sz -e data.bin", 70000},
                      Row{"Sz8k", pr_ZMODEM, false, "sz -8 data.bin", 70000, 0, {}, true},
                      Row{"RzEscapeAll", pr_ZMODEM, true, "rz -e", 70000},
                      Row{"RzResumes", pr_ZMODEM, true, "rz --resume", 70000, 0, Before::HalfThere},
                      Row{"RzSkips", pr_ZMODEM, true, "rz", 20000, 0, Before::FolderInTheWay}),
    kName);

INSTANTIATE_TEST_SUITE_P(
    Peers, LrzszNoisyLine,
    ::testing::Values(Row{"OneKToRx", pr_XMODEM_CRC_1024, true, "rx -c recv.bin", 8000, 1024},
                      Row{"SbToYmodem", pr_YMODEM, false, "sb -k data.bin", 8003},
                      Row{"ZmodemToRz", pr_ZMODEM, true, "rz", 8010},
                      Row{"SzToZmodem", pr_ZMODEM, false, "sz data.bin", 8005}),
    kName);

}  // namespace
