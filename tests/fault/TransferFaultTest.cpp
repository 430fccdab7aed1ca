// Faults in a transfer, each family and direction: the carrier or CTS goes,
// the user cancels at a moment drawn from a seed, or the target takes no
// bytes. The transfer fails, a download keeps its part, and all works again.
// And a peer that floods our receiver with garbage or starts a header and
// never ends it: the receiver invites again and takes a sound sender; M-LINK,
// which never retries as a receiver, refuses at once; a cancel still ends it.

#include <algorithm>
#include <random>
#include <tuple>

#include "FaultPair.h"

using namespace faulttest;
using namespace std::string_literals;

namespace {

enum Fault { Carrier, Cts, Cancel, FullDisk, MissingFolder };
const char* const kFaultNames[] = {"Carrier", "Cts", "Cancel", "FullDisk", "MissingFolder"};

using Row = std::tuple<protType, Fault, bool>;  // and whether ours sends

class FaultMatrix : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrix, TransferFailsKeepsItsPartAndThePortWorksAgain) {
  const auto [protocol, fault, oursSends] = GetParam();
  const bool disk = fault >= FullDisk;
  const auto seed = static_cast<uint32_t>(protocol * 16 + fault * 2 + oursSends);
  Pair pair(protocol, disk ? 0 : 230400, 48 * 1024, seed);
  if (fault == FullDisk) pair.target = "/dev/full";
  if (fault == MissingFolder) pair.target = pair.dir / "no such folder/received.bin";
  pair.Start(oursSends);
  std::mt19937 random(seed);  // a quarter of the cancels come before any data
  const int32_t at = fault != Cancel ? 8192 : random() % 4 ? random() % 24576 : 0;
  if (!disk) {
    ASSERT_TRUE(WaitFor(
        [&] { return (oursSends ? pair.peer() : pair.ours()).Status.TranSize >= at; }, 60s));
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
  EXPECT_FALSE(fault == MissingFolder && FileExists(pair.target)) << "nothing made";
  pair.ExpectWorksAgain(oursSends);
}

std::vector<Row> AllRows() {
  std::vector<Row> rows;
  for (protType p : {pr_XMODEM_CRC_1024, pr_YMODEM, pr_ZMODEM, pr_MLINK}) {
    for (Fault f : {Carrier, Cts, Cancel}) rows.insert(rows.end(), {{p, f, true}, {p, f, false}});
    for (Fault f : {FullDisk, MissingFolder}) rows.push_back({p, f, false});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(AllRows()), [](const auto& info) {
  const Row& r = info.param;
  return Label(std::get<0>(r)) + "_" + kFaultNames[std::get<1>(r)] +
         (std::get<2>(r) ? "_Upload" : "_Download");
});

// XMODEM in its sum form: after a CRC receiver's NAK the late sender tries
// sums, and only its fifth try of the first block comes with a CRC. And the
// M-LINK size never ends.
using Receiver = std::tuple<protType, std::string, std::string>;  // invite, a header's start
const Receiver kReceivers[] = {{pr_XMODEM_SUM_128, "\025", "\001\001\376" + std::string(60, 'x')},
                               {pr_YMODEM, "C", "\001\000\377stalled.bin\00012"s},
                               {pr_ZMODEM, "\030B01", "**\030B0400"},
                               {pr_MLINK, "M", "stalled.bin 12"}};

// How often what reached the peer (its ring, not wrapped here; its window).
size_t Count(Pair& pair, const std::string& what) {
  TKelEngine& e = pair.peer().Engine();
  std::string heard;
  for (int32_t i = 0; i < e.RxHead(); ++i) heard += static_cast<char>(e.RxRingAt(i));
  heard += pair.b.window.Bytes();
  size_t n = 0;
  for (size_t at = heard.find(what); at != heard.npos; at = heard.find(what, at + 1)) ++n;
  return n;
}

enum Trouble { StalledHeader, Flood, CancelInFlood };
const char* const kTroubleNames[] = {"StalledHeader", "Flood", "CancelInFlood"};
class Stall : public ::testing::TestWithParam<std::tuple<Receiver, Trouble>> {};

TEST_P(Stall, ReceiverRecoversOrACancelEndsIt) {
  const auto& [receiver, trouble] = GetParam();
  const auto& [protocol, invite, headerStart] = receiver;
  Pair pair(protocol, 1'000'000, 3000, 11);  // bit/s: 100 KB of garbage take a second
  std::string garbage = RandomBytes(trouble == Flood ? 200'000 : 1'000'000, 7);
  std::replace(garbage.begin(), garbage.end(), '\x18', '\x19');  // two CAN are a sender's cancel
  pair.ours().StartDownload(pair.target);
  ASSERT_TRUE(trouble > Flood || WaitFor([&] { return Count(pair, invite) == 1; }, 30s));
  pair.line->end(1).Write(trouble == StalledHeader ? headerStart : garbage);
  if (trouble == CancelInFlood) {
    EXPECT_TRUE(WaitFor([&] { return pair.ours().Engine().RxHead() > 2000; }, 10s));
    pair.ours().RequestCancel();
    ASSERT_TRUE(pair.a.WaitIdle(30s));
    EXPECT_EQ(pair.ours().TranResult.load(), 0);
    EXPECT_GT(pair.line->end(1).Pending(), 0u) << "the garbage still comes";
    return;
  }
  ASSERT_TRUE(WaitFor([&] { return pair.line->end(1).Pending() == 0; }, 30s));
  const size_t before = Count(pair, invite);
  // A ZMODEM sender speaks first, so it starts once the receiver invited.
  if (protocol <= pr_YMODEM_G) pair.peer().StartUpload(pair.source);
  if (protocol == pr_MLINK) {
    ASSERT_TRUE(pair.a.WaitIdle(30s));
    EXPECT_EQ(pair.ours().TranResult.load(), 0);
    EXPECT_TRUE(WaitFor([&] { return Count(pair, "A") > 0; }, 10s)) << "the sender hears no";
  } else {
    ASSERT_TRUE(WaitFor([&] { return Count(pair, invite) > before; }, 30s));
    if (protocol == pr_ZMODEM) pair.peer().StartUpload(pair.source);
    ASSERT_TRUE(pair.WaitBothIdle(60s));
    EXPECT_EQ(pair.ours().TranResult.load(), 1);
    EXPECT_EQ(ReadFile(pair.target), Kept(protocol, pair.data));
  }
  pair.ExpectWorksAgain(false);
}

INSTANTIATE_TEST_SUITE_P(Peers, Stall,
                         ::testing::Combine(::testing::ValuesIn(kReceivers),
                                            ::testing::Values(StalledHeader, Flood, CancelInFlood)),
                         [](const auto& info) {
                           return Label(std::get<0>(std::get<0>(info.param))) + "_" +
                                  kTroubleNames[std::get<1>(info.param)];
                         });

}  // namespace
