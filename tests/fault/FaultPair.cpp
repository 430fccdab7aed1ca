#include "FaultPair.h"

#include "Engine.h"

namespace faulttest {

const char* Label(protType p) {
  static const char* const labels[] = {"XSum",    "XCrc",   "X1k",  "Ymodem",
                                       "YmodemG", "Zmodem", "MLink"};
  return labels[p];
}

std::string Kept(protType p, const std::string& data) {
  return p > pr_XMODEM_CRC_1024 ? data : PaddedTo(data, p == pr_XMODEM_CRC_1024 ? 1024 : 128);
}

::testing::AssertionResult IsStartOf(protType p, const std::string& data, const std::string& kept) {
  const std::string whole = Kept(p, data);
  if (kept.size() <= whole.size() && whole.compare(0, kept.size(), kept) == 0)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << kept.size() << " bytes kept are not the file's start";
}

void ShortenWaits(TKELCOMM& comm) {
  comm.Times.PatienceMs = 1500;
  comm.Times.StartPauseMs = 300;
}

Pair::Pair(protType protocol, int speed, size_t size, uint32_t seed)
    : protocol(protocol),
      name(UniqueLineName("fault")),
      line(VirtualLine::Create(name, {.speed = speed})),
      data(RandomBytes(size, seed)),
      source(dir / "source.bin"),
      target(dir / "received.bin") {
  a = std::make_unique<Station>("virtual:" + name, protocol);
  b = std::make_unique<Station>("virtual:" + name + "/1", protocol);
  ShortenWaits(ours());
  ShortenWaits(peer());
  WriteFile(source, data);
}

Pair::~Pair() {
  a.reset();
  b.reset();
  VirtualLine::Remove(name);
}

void Pair::Start(bool oursSends) {
  (oursSends ? ours() : peer()).StartUpload(source);
  receiver(oursSends).StartDownload(target);
}

bool Pair::WaitReceived(bool oursSends, int32_t bytes) {
  return WaitFor([&] { return receiver(oursSends).Status.TranSize.load() >= bytes; }, 60s);
}

std::string Pair::HeardByPeer() {
  TKelEngine& e = peer().Engine();
  std::string heard;
  for (int32_t i = 0; i < e.RxHead(); ++i) heard += static_cast<char>(e.RxRingAt(i));
  return heard + b->window.Bytes();
}

void Pair::Settle() {
  line->end(1).SetFarCts(true);
  line->end(1).SetFarRlsd(true);
  peer().RequestCancel();
  EXPECT_TRUE(b->WaitIdle(30s)) << "the peer ends when cancelled";
  EXPECT_TRUE(a->WaitIdle(30s));
  EXPECT_TRUE(WaitFor([&] { return line->end(0).Pending() + line->end(1).Pending() == 0; }, 30s));
  line->SetOptions({});
}

::testing::AssertionResult Pair::WorksAgain(bool oursSends) {
  const std::string toOurs = "\r\nhost text for ours\r\n", toPeer = "\r\nfor the peer\r\n";
  line->end(1).Write(toOurs);
  line->end(0).Write(toPeer);
  const auto heard = [](Station& s, const std::string& text) {
    return WaitFor([&] { return s.window.Bytes().find(text) != std::string::npos; }, 10s);
  };
  if (!heard(*a, toOurs) || !heard(*b, toPeer))
    return ::testing::AssertionFailure() << "a window does not receive";
  data = RandomBytes(5000, 77);
  WriteFile(source, data);
  target = dir / "again.bin";
  Start(oursSends);
  if (!a->WaitIdle(60s) || !b->WaitIdle(30s))
    return ::testing::AssertionFailure() << "the next transfer does not end";
  if (ours().TranResult.load() != 1 || peer().TranResult.load() != 1)
    return ::testing::AssertionFailure() << "the next transfer fails";
  if (ReadFile(target) != Kept(protocol, data))
    return ::testing::AssertionFailure() << "the next file arrives damaged";
  return ::testing::AssertionSuccess();
}

}  // namespace faulttest
