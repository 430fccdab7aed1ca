// Our ZMODEM sender against our ZMODEM receiver, each on its own component,
// joined by a virtual line: sizes around the subpacket boundaries, both
// check modes, bit errors that the receiver's ZRPOS recovers from, and a
// cancel on either side.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Reference.h"
#include "Stations.h"
#include "ZmodemWire.h"


namespace {

// The ZRINIT our receiver offers, as its hex header goes, without CR LF.
std::string ZrinitHex(uint8_t flags) {
  const std::string h = zwire::HexHeader(1, static_cast<uint32_t>(flags) << 24);
  return h.substr(0, h.size() - 2);
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Two components joined through the test: bytes pass unchanged from the
// sender to the receiver; on the way back a ZRINIT offering CRC-32 can be
// turned into one without it, so the sender has to use CRC-16.
class Pair {
 public:
  Pair(bool crc16, VirtualLine::Options options = {})
      : crc16_(crc16),
        txName_(UniqueLineName("ztx")),
        rxName_(UniqueLineName("zrx")),
        txLine_(VirtualLine::Create(txName_, options)),
        rxLine_(VirtualLine::Create(rxName_)) {
    sender = std::make_unique<Station>("virtual:" + txName_, pr_ZMODEM);
    receiver = std::make_unique<Station>("virtual:" + rxName_ + "/1", pr_ZMODEM);
    for (VirtualLine::End* end : {&txLine_->end(1), &rxLine_->end(0)}) {
      end->SetRts(true);
      end->SetDtr(true);
    }
    relay_ = std::thread([this] { Relay(); });
  }
  ~Pair() {
    sender.reset();
    receiver.reset();
    stop_ = true;
    relay_.join();
    VirtualLine::Remove(txName_);
    VirtualLine::Remove(rxName_);
  }
  // Offers a file of data from the sender and starts the receiver.
  void Start(const TempDir& dir, const std::string& name, const std::string& data) {
    WriteFile(dir.File(name), data);
    sender->comm.StartUpload(dir.File(name));
    receiver->comm.StartDownload(dir.File("received"));
  }
  bool WaitBothIdle(std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] { return sender->comm.TranMode.load() == 0 && receiver->comm.TranMode.load() == 0; },
        timeout);
  }
  // Bytes from the far end of each component's line, as a host would type.
  void TypeAtSender(const std::string& bytes) { txLine_->end(1).Write(bytes); }
  void TypeAtReceiver(const std::string& bytes) { rxLine_->end(0).Write(bytes); }
  std::unique_ptr<Station> sender, receiver;

 private:
  // The longest end of bytes that could begin pattern: it waits for the
  // rest, unless nothing more comes.
  static size_t PartialMatch(const std::string& bytes, const std::string& pattern) {
    for (size_t n = std::min(bytes.size(), pattern.size() - 1); n > 0; --n)
      if (bytes.compare(bytes.size() - n, n, pattern, 0, n) == 0) return n;
    return 0;
  }

  void Relay() {
    const std::string offered = ZrinitHex(0x23), plain = ZrinitHex(0x03);
    std::string back;
    while (!stop_) {
      std::string forth = txLine_->end(1).ReadFor(1, 2ms);
      forth += txLine_->end(1).Read();
      if (!forth.empty()) rxLine_->end(0).Write(forth);
      const std::string fresh = rxLine_->end(0).Read();
      back += fresh;
      if (!crc16_) {
        txLine_->end(1).Write(back);
        back.clear();
        continue;
      }
      for (size_t at; (at = back.find(offered)) != std::string::npos;)
        back.replace(at, offered.size(), plain);
      const size_t keep = fresh.empty() ? 0 : PartialMatch(back, offered);
      txLine_->end(1).Write(back.substr(0, back.size() - keep));
      back.erase(0, back.size() - keep);
    }
  }

  bool crc16_;
  std::string txName_, rxName_;
  std::shared_ptr<VirtualLine> txLine_, rxLine_;
  std::atomic<bool> stop_{false};
  std::thread relay_;
};

struct LoopCase {
  size_t size;
  bool crc16;
};

std::string CaseName(const ::testing::TestParamInfo<LoopCase>& info) {
  return std::string(info.param.crc16 ? "Crc16_" : "Crc32_") + std::to_string(info.param.size);
}

class ZmodemLoopback : public ::testing::TestWithParam<LoopCase> {};

TEST_P(ZmodemLoopback, DeliversTheFileExactly) {
  const LoopCase& c = GetParam();
  TempDir dir;
  Pair pair(c.crc16);
  const std::string data = RandomBytes(c.size, static_cast<uint32_t>(c.size));
  pair.Start(dir, "Loop Data.BIN", data);
  TKELCOMM& tx = pair.sender->comm;
  TKELCOMM& rx = pair.receiver->comm;
  ASSERT_TRUE(pair.WaitBothIdle(30s));
  EXPECT_EQ(tx.TranResult.load(), 1);
  EXPECT_EQ(rx.TranResult.load(), 1);
  EXPECT_TRUE(ReadFile(dir.File("received")) == data);
  EXPECT_EQ(tx.Status.TranSize.load(), static_cast<int32_t>((c.size + 1023) / 1024 * 1024));
  EXPECT_EQ(tx.Status.ErrorCount.load(), 0);
  EXPECT_EQ(rx.Status.RecvName.get(), "loop data.bin");
  EXPECT_EQ(rx.Status.FileSize.load(), static_cast<int32_t>(c.size));
  // Both windows have their handlers back.
  pair.TypeAtSender("tx");
  pair.TypeAtReceiver("rx");
  EXPECT_TRUE(WaitFor([&] { return EndsWith(pair.sender->window.Bytes(), "tx"); }, 2s));
  EXPECT_TRUE(WaitFor([&] { return EndsWith(pair.receiver->window.Bytes(), "rx"); }, 2s));
}

std::vector<LoopCase> Sizes() {
  std::vector<LoopCase> cases;
  for (bool crc16 : {false, true})
    for (size_t size : {1, 1023, 1024, 1025, 1500, 2048, 1 << 20}) cases.push_back({size, crc16});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, ZmodemLoopback, ::testing::ValuesIn(Sizes()), CaseName);

// An empty file is never offered: the receiver waits until it is cancelled
// and keeps the empty file it made.
TEST(ZmodemLoopbackEmpty, SenderRefusesAndTheReceiverWaitsUntilCancelled) {
  TempDir dir;
  Pair pair(false);
  WriteFile(dir.File("empty"), "");
  TKELCOMM& tx = pair.sender->comm;
  TKELCOMM& rx = pair.receiver->comm;
  tx.StartUpload(dir.File("empty"));
  EXPECT_EQ(tx.TranMode.load(), 0);
  EXPECT_EQ(tx.TranResult.load(), 0);
  rx.StartDownload(dir.File("received"));
  const std::string offer = ZrinitHex(0x23) + "\r\n";
  EXPECT_EQ(pair.sender->window.WaitBytes(offer.size(), 2s), offer) << "the receiver's ZRINIT";
  rx.RequestCancel();
  ASSERT_TRUE(pair.WaitBothIdle(5s));
  EXPECT_EQ(rx.TranResult.load(), 0);
  EXPECT_EQ(ReadFile(dir.File("received")), "");
}

struct NoiseCase {
  double rate;
  size_t size;
  uint64_t seed;
};

class ZmodemNoisyLine : public ::testing::TestWithParam<NoiseCase> {};

// Damaged subpackets are sent again from the receiver's ZRPOS until the file
// is whole.
TEST_P(ZmodemNoisyLine, FileArrivesIntactThroughRepositioning) {
  const NoiseCase& c = GetParam();
  TempDir dir;
  VirtualLine::Options options;
  options.bitErrorRate = c.rate;
  options.seed = c.seed;
  Pair pair(false, options);
  const std::string data = RandomBytes(c.size, 99);
  pair.Start(dir, "noisy.bin", data);
  TKELCOMM& tx = pair.sender->comm;
  TKELCOMM& rx = pair.receiver->comm;
  ASSERT_TRUE(pair.WaitBothIdle(60s));
  EXPECT_EQ(tx.TranResult.load(), 1);
  EXPECT_EQ(rx.TranResult.load(), 1);
  EXPECT_TRUE(ReadFile(dir.File("received")) == data);
  EXPECT_GT(tx.Status.TranSize.load(), static_cast<int32_t>(c.size)) << "some data went twice";
}

INSTANTIATE_TEST_SUITE_P(BitErrors, ZmodemNoisyLine,
                         ::testing::Values(NoiseCase{1e-5, 32 * 1024, 20240611},
                                           NoiseCase{1e-4, 4 * 1024, 20240611}),
                         [](const auto& info) {
                           return std::string(info.param.rate < 5e-5 ? "OneIn1e5" : "OneIn1e4");
                         });

class ZmodemCancel : public ::testing::TestWithParam<bool> {};

// A cancel on either side ends both transfers within a few seconds, as
// failures; the receiver keeps what it had.
TEST_P(ZmodemCancel, EndsBothSidesQuickly) {
  const bool senderCancels = GetParam();
  TempDir dir;
  VirtualLine::Options paced;
  paced.speed = 115200;
  Pair pair(false, paced);
  pair.Start(dir, "big.bin", RandomBytes(1 << 20, 3));
  TKELCOMM& tx = pair.sender->comm;
  TKELCOMM& rx = pair.receiver->comm;
  ASSERT_TRUE(WaitFor([&] { return rx.Status.TranSize.load() >= 8192; }, 10s));
  (senderCancels ? tx : rx).RequestCancel();
  ASSERT_TRUE(pair.WaitBothIdle(5s));
  EXPECT_EQ(tx.TranResult.load(), 0);
  EXPECT_EQ(rx.TranResult.load(), 0);
  const size_t kept = ReadFile(dir.File("received")).size();
  EXPECT_GE(kept, 8192u);
  EXPECT_LT(kept, size_t{1} << 20);
}

INSTANTIATE_TEST_SUITE_P(Sides, ZmodemCancel, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "Sender" : "Receiver");
});

}  // namespace
