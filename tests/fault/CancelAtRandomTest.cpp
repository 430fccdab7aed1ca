// The user's cancel at a moment drawn from a seed: before the first block,
// or somewhere in the data, on the sending or the receiving side, with each
// protocol. The transfer ends as a failure and the next one works.

#include <gtest/gtest.h>

#include <random>

#include "FaultPair.h"

using namespace faulttest;

namespace {

struct CancelCase {
  protType protocol;
  uint32_t seed;
};

class CancelAtRandom : public ::testing::TestWithParam<CancelCase> {};

TEST_P(CancelAtRandom, EndsTheTransferAndTheNextOneWorks) {
  const CancelCase& c = GetParam();
  std::mt19937 rng(c.seed * 131 + c.protocol);
  const bool oursSends = rng() % 2 == 0;
  constexpr size_t kSize = 48 * 1024;
  // A quarter of the cancels come before any data has moved.
  const int32_t at = rng() % 4 == 0 ? 0 : static_cast<int32_t>(rng() % (kSize / 2));
  SCOPED_TRACE(std::string(oursSends ? "upload" : "download") + ", cancelled at " +
               std::to_string(at));
  Pair pair(c.protocol, 115200, kSize, c.seed);
  pair.Start(oursSends);
  ASSERT_TRUE(pair.WaitReceived(oursSends, at, 20s));
  ASSERT_NE(pair.ours().TranMode.load(), 0);
  pair.ours().RequestCancel();
  ASSERT_TRUE(pair.WaitIdle(pair.ours(), 5s)) << "still running after the cancel";
  EXPECT_EQ(pair.ours().TranResult.load(), 0);
  if (!oursSends) {
    EXPECT_TRUE(IsStartOf(c.protocol, pair.data, ReadFile(pair.target)));
  }
  pair.Settle();
  EXPECT_TRUE(pair.WorksAgain(oursSends));
}

std::vector<CancelCase> AllCases() {
  std::vector<CancelCase> cases;
  for (protType p : kProtocols)
    for (uint32_t seed : {1u, 2u, 3u}) cases.push_back({p, seed});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Seeds, CancelAtRandom, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<CancelCase>& info) {
                           return std::string(Label(info.param.protocol)) + "_" +
                                  std::to_string(info.param.seed);
                         });

}  // namespace
