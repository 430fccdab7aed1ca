#include "FaultPair.h"

#include "Engine.h"

namespace faulttest {

const char* Label(protType p) {
  static const char* const labels[] = {"XSum",    "XCrc",   "X1k",  "Ymodem",
                                       "YmodemG", "Zmodem", "MLink"};
  return labels[p];
}

std::string Kept(protType p, const std::string& data) {
  if (p > pr_XMODEM_CRC_1024) return data;
  const size_t block = p == pr_XMODEM_CRC_1024 ? 1024 : 128;
  return Padded(data, (data.size() + block - 1) / block * block);
}

::testing::AssertionResult IsStartOf(protType p, const std::string& data, const std::string& kept) {
  const std::string whole = Kept(p, data);
  if (kept.size() <= whole.size() && whole.compare(0, kept.size(), kept) == 0)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << kept.size() << " bytes kept are not the file's start";
}

Pair::Pair(protType protocol, int speed, size_t size, uint32_t seed)
    : protocol(protocol),
      name(UniqueLineName("fault")),
      line(VirtualLine::Create(name, {.speed = speed})),
      data(RandomBytes(size, seed)),
      source(dir.File("source.bin")),
      target(dir.File("received.bin")) {
  a = std::make_unique<Station>("virtual:" + name, protocol);
  b = std::make_unique<Station>("virtual:" + name + "/1", protocol);
  WriteFile(source, data);
}

Pair::~Pair() {
  a.reset();
  b.reset();
  VirtualLine::Remove(name);
}

void Pair::Start(bool oursSends) {
  TKELCOMM& sender = oursSends ? ours() : peer();
  sender.StartUpload(source);
  receiver(oursSends).StartDownload(target);
}

bool Pair::WaitReceived(bool oursSends, int32_t bytes, std::chrono::milliseconds timeout) {
  TKELCOMM& rx = receiver(oursSends);
  return WaitFor([&] { return rx.Status.TranSize.load() >= bytes; }, timeout);
}

bool Pair::WaitIdle(TKELCOMM& comm, std::chrono::milliseconds timeout) {
  return WaitFor([&] { return comm.TranMode.load() == 0; }, timeout);
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
  EXPECT_TRUE(WaitIdle(peer(), 10s)) << "the peer ends when cancelled";
  EXPECT_TRUE(WaitIdle(ours(), 10s));
  EXPECT_TRUE(
      WaitFor([&] { return line->end(0).Pending() == 0 && line->end(1).Pending() == 0; }, 20s));
  line->SetOptions({});
}

::testing::AssertionResult Pair::WorksAgain(bool oursSends) {
  const std::string toOurs = "\r\nhost text for ours\r\n", toPeer = "\r\nfor the peer\r\n";
  line->end(1).Write(toOurs);
  line->end(0).Write(toPeer);
  const auto heard = [](Station& s, const std::string& text) {
    return WaitFor([&] { return s.window.Bytes().find(text) != std::string::npos; }, 2s);
  };
  if (!heard(*a, toOurs) || !heard(*b, toPeer))
    return ::testing::AssertionFailure() << "a window does not receive";
  const protType again = protocol == pr_MLINK ? pr_XMODEM_CRC_1024 : protocol;
  ours().Protocol = again;
  peer().Protocol = again;
  data = RandomBytes(5000, 77);
  WriteFile(source, data);
  target = dir.File("again.bin");
  Start(oursSends);
  if (!WaitIdle(ours(), 20s) || !WaitIdle(peer(), 5s))
    return ::testing::AssertionFailure() << "the next transfer does not end";
  if (ours().TranResult.load() != 1 || peer().TranResult.load() != 1)
    return ::testing::AssertionFailure() << "the next transfer fails";
  if (ReadFile(target) != Kept(again, data))
    return ::testing::AssertionFailure() << "the next file arrives damaged";
  return ::testing::AssertionSuccess();
}

}  // namespace faulttest
