// The line lost in the middle of a transfer: the carrier drops, or CTS does,
// while our side sends or receives with each protocol. The transfer must end
// at once as a failure, keep what it had received, give the window its bytes
// back and leave the port fit for the next transfer. A line that never had a
// carrier is judged by CTS alone.

#include <gtest/gtest.h>

#include "FaultPair.h"

using namespace faulttest;

namespace {

enum class Loss { Carrier, Cts };

struct LossCase {
  protType protocol;
  bool oursSends;
  Loss loss;
};

std::string CaseName(const ::testing::TestParamInfo<LossCase>& info) {
  const LossCase& c = info.param;
  return std::string(Label(c.protocol)) + (c.oursSends ? "_Upload_" : "_Download_") +
         (c.loss == Loss::Carrier ? "Carrier" : "Cts");
}

class LineLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(LineLoss, EndsTheTransferAtOnceAndThePortWorksAfterwards) {
  const LossCase& c = GetParam();
  Pair pair(c.protocol, 115200, 96 * 1024, 7 + c.protocol);
  pair.Start(c.oursSends);
  constexpr int32_t kMiddle = 8 * 1024;
  ASSERT_TRUE(pair.WaitReceived(c.oursSends, kMiddle, 20s));
  ASSERT_EQ(pair.ours().TranMode.load(), c.oursSends ? 1 : 2);
  if (c.loss == Loss::Carrier)
    pair.line->end(1).SetFarRlsd(false);
  else
    pair.line->end(1).SetFarCts(false);
  ASSERT_TRUE(pair.WaitIdle(pair.ours(), 1s)) << "still running after the line went";
  EXPECT_EQ(pair.ours().TranResult.load(), 0);
  if (!c.oursSends) {
    const std::string kept = ReadFile(pair.target);
    EXPECT_GE(kept.size(), static_cast<size_t>(kMiddle)) << "the partly received file is kept";
    EXPECT_LT(kept.size(), pair.data.size());
    EXPECT_TRUE(IsStartOf(c.protocol, pair.data, kept));
  }
  pair.Settle();
  EXPECT_TRUE(pair.WorksAgain(c.oursSends));
}

std::vector<LossCase> AllCases() {
  std::vector<LossCase> cases;
  for (protType p : kProtocols)
    for (bool oursSends : {true, false})
      for (Loss loss : {Loss::Carrier, Loss::Cts}) cases.push_back({p, oursSends, loss});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Matrix, LineLoss, ::testing::ValuesIn(AllCases()), CaseName);

// A bare serial line without RLSD wired: the carrier is off from the start,
// and going on and off again in the middle means nothing either.
TEST(LineWithoutCarrier, TransfersRunOnCtsAlone) {
  for (protType p : {pr_XMODEM_CRC_1024, pr_YMODEM_G, pr_ZMODEM}) {
    for (bool oursSends : {true, false}) {
      SCOPED_TRACE(std::string(Label(p)) + (oursSends ? " upload" : " download"));
      Pair pair(p, 230400, 24 * 1024, 3);
      pair.line->end(1).SetFarRlsd(false);
      pair.line->end(0).SetFarRlsd(false);
      ASSERT_FALSE(pair.ours().CarrierOn());
      pair.Start(oursSends);
      ASSERT_TRUE(pair.WaitReceived(oursSends, 4096, 10s));
      pair.line->end(1).SetFarRlsd(true);
      pair.line->end(1).SetFarRlsd(false);
      ASSERT_TRUE(pair.WaitIdle(pair.ours(), 10s));
      ASSERT_TRUE(pair.WaitIdle(pair.peer(), 5s));
      EXPECT_EQ(pair.ours().TranResult.load(), 1);
      EXPECT_EQ(pair.peer().TranResult.load(), 1);
      EXPECT_TRUE(ReadFile(pair.target) == Kept(p, pair.data));
    }
  }
}

}  // namespace
