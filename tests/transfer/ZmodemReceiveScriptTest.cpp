// Our ZMODEM receiver against a sender scripted frame by frame: the replies
// it sends, byte for byte, the file it writes, and how it ends.

#include <atomic>
#include <thread>

#include "PeerScript.h"
#include "Reference.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

using namespace zwire;
using namespace std::string_literals;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kZrinit = HexHeader(ZRINIT, 0x23000000);  // CANFDX CANOVIO CANFC32

// Our ZRPOS: a binary header behind a second ZPAD, for a sender that drops
// everything up to the next ZPAD before it hunts for a header.
std::string Rpos(bool crc32, uint32_t at = 0) { return "*" + BinHeader(ZRPOS, at, crc32); }

// Every byte value and the "@" CR pair among random bytes.
std::string Payload(size_t size, uint32_t seed) {
  std::string data = RandomBytes(size, seed);
  for (size_t i = 0; i < size && i < 256; ++i) data[i] = static_cast<char>(i);
  if (size > 300) data.replace(290, 4, "@\r@\r");
  return data;
}

std::string Offer(size_t size, bool crc32, const std::string& name = "Data.Bin") {
  std::string info = name + '\0' + std::to_string(size) + " 13414537017 0";
  return BinHeader(ZFILE, 0, crc32) + Subpacket(Padded(info, 128, '\0'), 'k', crc32);
}

// ZDATA and the data in 1024-byte subpackets, the last ZCRCE, then ZEOF.
std::string Stream(const std::string& data, bool crc32) {
  std::string out = BinHeader(ZDATA, 0, crc32);
  size_t pos = 0;
  do {
    const size_t n = std::min<size_t>(1024, data.size() - pos);
    out += Subpacket(data.substr(pos, n), pos + n >= data.size() ? 'h' : 'i', crc32);
    pos += n;
  } while (pos < data.size());
  return out + BinHeader(ZEOF, static_cast<uint32_t>(data.size()), crc32);
}

// The data, then the sender's end: its ZFIN, ours with the byte count.
PeerScript DataAndEnd(const std::string& data, bool crc32) {
  return {Stream(data, crc32), kZrinit, HexHeader(ZFIN, 0),
          HexHeader(ZFIN, static_cast<uint32_t>(data.size()))};
}

struct Receiver {
  Receiver() { Start(comm(), path, false); }
  TKELCOMM& comm() { return peer.station->comm; }
  void Ends(int result, const std::string& data) {
    ASSERT_TRUE(peer.station->WaitIdle(5s));
    EXPECT_EQ(comm().TranResult.load(), result);
    EXPECT_TRUE(ReadFile(path) == data) << ReadFile(path).size() << " bytes";
  }
  TempDir dir;
  ScriptedLine peer{pr_ZMODEM};
  std::string path = dir.File("target.bin");
};

// The last row offers the file on our first ZRINIT and gets a second one,
// the answer to its ZRQINIT, after the offer: the ZRPOS must still arrive
// whole behind its second ZPAD, or both sides wait out a time-out.
TEST(ZmodemReceive, FileArrivesWithTheRepliesOfTheProtocol) {
  const struct {
    bool crc32;
    size_t size;
    bool crossed;
  } rows[] = {{true, 0, false}, {true, 1025, false}, {false, 3000, false}, {true, 5, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size);
    Receiver r;
    const std::string data = Payload(row.size, static_cast<uint32_t>(row.size));
    const std::string hello = "rz\r" + HexHeader(ZRQINIT, 0), offer = Offer(row.size, row.crc32);
    ASSERT_TRUE(Play(
        r.peer, (row.crossed ? PeerScript{"", kZrinit, hello + offer, kZrinit + Rpos(row.crc32)}
                             : PeerScript{"", kZrinit, hello, kZrinit, offer, Rpos(row.crc32)}) +
                    DataAndEnd(data, row.crc32)));
    r.peer.Write("OO");
    r.Ends(1, data);
    EXPECT_EQ(r.comm().Status.TranSize.load(), static_cast<int32_t>(row.size));
  }
}

// A host hangs up once the session is over; the file it delivered stays a
// success. A sender may repeat its ZFIN when our ZRINIT crosses its first
// one, and its "OO" follow the repeat at once before it exits: the receiver
// must find the "OO" behind the header and say nothing more.
TEST(ZmodemReceive, HangUpRightAfterTheSendersOoIsStillASuccess) {
  for (const std::string& last : {"OO"s, HexHeader(ZFIN, 0) + "OO"}) {
    SCOPED_TRACE(last);
    Receiver r;
    const std::string data = Payload(1500, 7);
    ASSERT_TRUE(Play(
        r.peer, PeerScript{"", kZrinit, Offer(1500, true), Rpos(true)} + DataAndEnd(data, true)));
    r.peer.Write(last);
    r.peer.line->end(1).SetFarRlsd(false);
    r.Ends(1, data);
    EXPECT_EQ(r.peer.Read(1, 100ms), "") << "no ZFIN again once the OO came";
  }
}

// Further files are skipped and leave the status to ours; a sender that
// goes on offering them is let go at its hundredth offer, as a success.
TEST(ZmodemReceive, EndlessFurtherOffersEndAtTheHundredth) {
  Receiver r;
  const std::string data = Payload(1500, 5), more = Offer(9, true, "more");
  PeerScript script = {"", kZrinit, Offer(1500, true), Rpos(true), Stream(data, true), kZrinit};
  for (int i = 1; i < 100; ++i) script = script + PeerScript{more, HexHeader(ZSKIP, 0) + kZrinit};
  ASSERT_TRUE(Play(r.peer, script + PeerScript{more, HexHeader(ZFIN, 1500), "OO", ""}));
  r.Ends(1, data);
  EXPECT_EQ(r.comm().Status.RecvName.get(), "Data.Bin");
}

// A ZCOMMAND is answered as done and never run; a sender with no file to
// offer then ends on its second ZFIN, leaving an empty file.
TEST(ZmodemReceive, CommandIsNeverRunAndASenderWithoutFileEndsOnItsSecondZfin) {
  Receiver r;
  const std::string marker = r.dir.File("ran");
  ASSERT_TRUE(Play(r.peer, {"", kZrinit,
                            BinHeader(ZCOMMAND, 0x01000000, true) +
                                Subpacket("touch " + marker + std::string(1, '\0'), 'k', true),
                            HexHeader(ZCOMPL, 0), HexHeader(ZFIN, 0), kZrinit, HexHeader(ZFIN, 0),
                            HexHeader(ZFIN, 0), "OO", ""}));
  r.Ends(1, "");
  EXPECT_TRUE(FileExists(r.path));
  EXPECT_FALSE(FileExists(marker));
}

// Damage, even a byte damaged into a second ZDLE (as a sender's cancel
// begins), is answered at once with "*" and ZRPOS. What the sender had sent
// before it heard (a good subpacket, a ZDATA of an earlier run) is skipped
// without a word; only a quiet line brings the ZRPOS again. The resent data
// completes the file.
TEST(ZmodemReceive, DamageIsAskedForAgainAtOnceAndStaleDataIsSkipped) {
  Receiver r;
  const std::string data = Payload(4096, 9);
  std::string damaged = Subpacket(data.substr(1024, 1024), 'i', true);
  damaged.replace(100, 2, "\x18\x18");  // as a flipped bit can make: no sender's cancel
  const std::string stale = Subpacket(data.substr(2048, 1024), 'i', true) +
                            BinHeader(ZDATA, 3072, true) + Subpacket(data.substr(3072), 'h', true);
  std::string resent = Stream(data, true);
  resent.replace(
      0, BinHeader(ZDATA, 0, true).size() + Subpacket(data.substr(0, 1024), 'i', true).size(),
      BinHeader(ZDATA, 1024, true));
  ASSERT_TRUE(
      Play(r.peer, PeerScript{"", kZrinit, Offer(4096, true), Rpos(true),
                              BinHeader(ZDATA, 0, true) +
                                  Subpacket(data.substr(0, 1024), 'i', true) + damaged + stale,
                              "*" + Rpos(true, 1024), "", "", "", Rpos(true, 1024), resent, kZrinit,
                              HexHeader(ZFIN, 0), HexHeader(ZFIN, 4096)}));
  r.peer.Write("OO");
  r.Ends(1, data);
}

// Bytes that never form a header end the hunt after the patience, as
// silence would.
TEST(ZmodemReceive, GarbageForThePatienceEndsTheHunt) {
  ScriptedLine peer(pr_ZMODEM);
  TKelEngine& E = peer.station->comm.Engine();
  peer.station->comm.Times.PatienceMs = 500;
  TZFrame Z(E);
  Z.ReadAhead = true;
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    for (const std::string noise = "no header here *x"; !stop; std::this_thread::sleep_for(5ms))
      E.Deliver(reinterpret_cast<const uint8_t*>(noise.data()), noise.size());
  });
  ZHeader h{};
  int32_t value = 0;
  bool bad = false;
  const uint8_t form = ZGetHeader(Z, h, value, bad);
  stop = true;
  feeder.join();
  EXPECT_EQ(form, 0);
  EXPECT_TRUE(bad);
  EXPECT_EQ(h[0], HeaderTimeout);
}

}  // namespace
