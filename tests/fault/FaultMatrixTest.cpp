// Faults in the middle of a transfer, for each family and direction: the
// carrier or CTS goes, or the user cancels at a moment drawn from a seed;
// or the target takes no bytes. The transfer fails, a download keeps what it
// had, and the windows and the next transfer work again.

#include <random>

#include "FaultPair.h"

using namespace faulttest;

namespace {

enum Fault { Carrier, Cts, Cancel, FullDisk, MissingFolder, ParentIsFile };
const char* const kFaultNames[] = {"Carrier",  "Cts",           "Cancel",
                                   "FullDisk", "MissingFolder", "ParentIsFile"};

struct Row {
  protType protocol;
  Fault fault;
  bool oursSends;
};

class FaultMatrix : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrix, TransferFailsKeepsItsPartAndThePortWorksAgain) {
  const auto [protocol, fault, oursSends] = GetParam();
  const bool disk = fault >= FullDisk;
  const auto seed = static_cast<uint32_t>(protocol * 16 + fault * 2 + oursSends);
  Pair pair(protocol, disk ? 0 : 230400, 48 * 1024, seed);
  if (fault == FullDisk) pair.target = "/dev/full";
  if (fault == MissingFolder) pair.target = pair.dir / "no such folder/received.bin";
  if (fault == ParentIsFile && WriteFile(pair.dir / "plain", ""))
    pair.target = pair.dir / "plain/x";
  pair.Start(oursSends);
  std::mt19937 random(seed);  // a quarter of the cancels come before any data
  const int32_t at = fault != Cancel ? 8192 : random() % 4 ? random() % 24576 : 0;
  if (!disk) {
    ASSERT_TRUE(WaitFor([&] { return pair.receiving(oursSends).Status.TranSize >= at; }, 60s));
    ASSERT_NE(pair.ours().TranMode.load(), 0) << "the fault comes during the transfer";
    if (fault == Carrier) pair.line->end(1).SetFarRlsd(false);
    if (fault == Cts) pair.line->end(1).SetFarCts(false);
    if (fault == Cancel) pair.ours().RequestCancel();
  }
  ASSERT_TRUE(pair.a.WaitIdle(30s)) << "still running after the fault";
  EXPECT_EQ(pair.ours().TranResult.load(), 0);
  if (!oursSends && !disk) {
    const std::string kept = ReadFile(pair.target);
    EXPECT_GE(kept.size(), static_cast<size_t>(at)) << "the part received is kept";
    EXPECT_LT(kept.size(), pair.data.size());
    EXPECT_EQ(Kept(protocol, pair.data).compare(0, kept.size(), kept), 0) << "not the start";
  }
  EXPECT_TRUE(fault != FullDisk || pair.ours().Status.TranSize.load() == 0) << "nothing stored";
  EXPECT_FALSE(fault >= MissingFolder && FileExists(pair.target)) << "nothing made";
  pair.Settle();
  pair.ExpectWorksAgain(oursSends);
}

std::vector<Row> AllRows() {
  std::vector<Row> rows;
  for (protType p : kFamilies) {
    for (Fault f : {Carrier, Cts, Cancel}) rows.insert(rows.end(), {{p, f, true}, {p, f, false}});
    for (Fault f : {FullDisk, MissingFolder, ParentIsFile}) rows.push_back({p, f, false});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(AllRows()), [](const auto& info) {
  const Row& r = info.param;
  return Label(r.protocol) + "_" + kFaultNames[r.fault] +
         (r.fault >= FullDisk ? ""
          : r.oursSends       ? "_Upload"
                              : "_Download");
});

}  // namespace
