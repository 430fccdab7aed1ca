// Faults in the middle of a transfer, one row per fault, protocol family and
// direction: the carrier or CTS goes, the user cancels at a moment drawn
// from a seed, or the target refuses the bytes (a full disk, a missing
// folder, a parent that is a file). The transfer fails, a download keeps
// what it had, the window gets its bytes back and the next transfer works.

#include <gtest/gtest.h>

#include <random>

#include "FaultPair.h"

using namespace faulttest;

namespace {

enum class Fault { Carrier, Cts, Cancel, FullDisk, MissingFolder, ParentIsFile };
const char* const kFaultNames[] = {"Carrier",  "Cts",           "Cancel",
                                   "FullDisk", "MissingFolder", "ParentIsFile"};

struct Row {
  protType protocol;
  Fault fault;
  bool oursSends;
};

bool Disk(Fault f) { return f >= Fault::FullDisk; }

std::string TargetPath(Pair& pair, Fault fault) {
  if (fault == Fault::FullDisk) return "/dev/full";
  if (fault == Fault::MissingFolder) return pair.dir / "no such folder/received.bin";
  WriteFile(pair.dir / "plain", "a file");
  return pair.dir / "plain/received.bin";
}

class FaultMatrix : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrix, TransferFailsKeepsItsPartAndThePortWorksAgain) {
  const Row& c = GetParam();
  const auto seed =
      static_cast<uint32_t>(c.protocol * 16 + static_cast<int>(c.fault) * 2 + c.oursSends);
  Pair pair(c.protocol, Disk(c.fault) ? 0 : 230400, 48 * 1024, seed);
  if (Disk(c.fault)) pair.target = TargetPath(pair, c.fault);
  pair.Start(c.oursSends);
  // A quarter of the cancels come before any data has moved.
  std::mt19937 random(seed);
  const int32_t at = c.fault != Fault::Cancel ? 8192 : random() % 4 ? random() % 24576 : 0;
  if (!Disk(c.fault)) {
    ASSERT_TRUE(pair.WaitReceived(c.oursSends, at));
    ASSERT_NE(pair.ours().TranMode.load(), 0) << "the fault comes during the transfer";
    if (c.fault == Fault::Carrier) pair.line->end(1).SetFarRlsd(false);
    if (c.fault == Fault::Cts) pair.line->end(1).SetFarCts(false);
    if (c.fault == Fault::Cancel) pair.ours().RequestCancel();
  }
  ASSERT_TRUE(pair.a->WaitIdle(30s)) << "still running after the fault";
  EXPECT_EQ(pair.ours().TranResult.load(), 0);
  if (!c.oursSends && !Disk(c.fault)) {
    const std::string kept = ReadFile(pair.target);
    EXPECT_GE(kept.size(), static_cast<size_t>(at)) << "the part received is kept";
    EXPECT_LT(kept.size(), pair.data.size());
    EXPECT_TRUE(IsStartOf(c.protocol, pair.data, kept));
  }
  if (c.fault == Fault::FullDisk) {
    EXPECT_EQ(pair.ours().Status.TranSize.load(), 0);
  }
  if (c.fault >= Fault::MissingFolder) {
    EXPECT_FALSE(FileExists(pair.target));
  }
  pair.Settle();
  pair.target = pair.dir / "received.bin";
  EXPECT_TRUE(pair.WorksAgain(c.oursSends));
}

std::vector<Row> AllRows() {
  std::vector<Row> rows;
  for (protType p : kFamilies) {
    for (Fault f : {Fault::Carrier, Fault::Cts, Fault::Cancel})
      for (bool oursSends : {true, false}) rows.push_back({p, f, oursSends});
    for (Fault f : {Fault::FullDisk, Fault::MissingFolder, Fault::ParentIsFile})
      rows.push_back({p, f, false});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(AllRows()), [](const auto& info) {
  return std::string(Label(info.param.protocol)) + "_" +
         kFaultNames[static_cast<int>(info.param.fault)] +
         (Disk(info.param.fault) ? ""
          : info.param.oursSends ? "_Upload"
                                 : "_Download");
});

}  // namespace
