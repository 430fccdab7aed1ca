// Our ZMODEM receiver against a sender scripted frame by frame: the replies
// it sends, byte for byte, the file it writes, and how it ends.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "Reference.h"
#include "Stations.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

using namespace zwire;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kZrinit = HexHeader(ZRINIT, 0x23000000);  // CANFDX CANOVIO CANFC32

// Our ZRPOS: a binary header behind a second ZPAD.
std::string Rpos(uint32_t pos, bool crc32) { return "*" + BinHeader(ZRPOS, pos, crc32); }

std::string Shown(const std::string& bytes) {
  std::string out;
  char hex[8];
  for (unsigned char c : bytes) {
    std::snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7F ? "%c" : "<%02x>", c);
    out += hex;
  }
  return out;
}

// Every byte value and the "@" CR pair among random bytes.
std::string Payload(size_t size, uint32_t seed) {
  std::string data = RandomBytes(size, seed);
  for (size_t i = 0; i < size && i < 256; ++i) data[i] = static_cast<char>(i);
  if (size > 300) data.replace(290, 4, "@\r@\r");
  return data;
}

std::string FileInfo(const std::string& name, const std::string& rest) {
  std::string info = name + std::string(1, '\0') + rest;
  info.resize(std::max<size_t>(info.size(), 128), '\0');
  return info;
}

struct ReceiverScript {
  explicit ReceiverScript(bool crc32 = true) : crc32(crc32), path(dir.File("target.bin")) {
    comm().StartDownload(path);
    Expect(kZrinit, "first ZRINIT");
  }
  TKELCOMM& comm() { return peer.station->comm; }
  void Expect(const std::string& bytes, const std::string& what) {
    EXPECT_EQ(Shown(peer.Read(bytes.size())), Shown(bytes)) << what;
  }
  bool NothingMore(std::chrono::milliseconds quiet = 100ms) { return peer.Read(1, quiet).empty(); }
  void Offer(const std::string& name, size_t size) {
    peer.Write(BinHeader(ZFILE, 0, crc32) +
               Subpacket(FileInfo(name, std::to_string(size) + " 13414537017 100644"), 'k', crc32));
  }
  // ZDATA at pos and the data in 1024-byte ZCRCG subpackets, the last ZCRCE.
  void Stream(const std::string& data, size_t pos) {
    std::string out = BinHeader(ZDATA, static_cast<uint32_t>(pos), crc32);
    do {
      const size_t n = std::min<size_t>(1024, data.size() - pos);
      out += Subpacket(data.substr(pos, n), pos + n >= data.size() ? 'h' : 'i', crc32);
      pos += n;
    } while (pos < data.size());
    peer.Write(out + BinHeader(ZEOF, static_cast<uint32_t>(data.size()), crc32));
  }
  void Accept(const std::string& name, size_t size) {
    Offer(name, size);
    Expect(Rpos(0, crc32), "ZRPOS 0 in the offer's check");
  }
  // The transfer ends with result and the file holding data.
  void Ends(int result, const std::string& data) {
    ASSERT_TRUE(peer.station->WaitIdle(5s));
    EXPECT_EQ(comm().TranResult.load(), result);
    EXPECT_TRUE(ReadFile(path) == data) << ReadFile(path).size() << " bytes";
  }
  // The sender's end: its ZFIN, ours with the byte count, then what it says
  // last.
  void Finish(size_t received, const std::string& last = "OO") {
    Expect(kZrinit, "ZRINIT after the file");
    peer.Write(HexHeader(ZFIN, 0));
    Expect(HexHeader(ZFIN, static_cast<uint32_t>(received)), "ZFIN with the byte count");
    peer.Write(last);
  }
  bool crc32;
  TempDir dir;
  ScriptedLine peer{pr_ZMODEM};
  std::string path;
};

struct SizeCase {
  bool crc32;
  size_t size;
};

class ZmodemReceiveFile : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ZmodemReceiveFile, ArrivesWithTheRepliesOfTheProtocol) {
  const SizeCase c = GetParam();
  ReceiverScript s(c.crc32);
  const std::string data = Payload(c.size, static_cast<uint32_t>(c.size));
  s.peer.Write("rz\r" + HexHeader(ZRQINIT, 0));
  s.Expect(kZrinit, "ZRINIT again after ZRQINIT");
  s.Accept("Data.Bin", c.size);
  s.Stream(data, 0);
  s.Finish(c.size);
  s.Ends(1, data);
  EXPECT_EQ(s.comm().Status.RecvName.get(), "Data.Bin");
  EXPECT_EQ(s.comm().Status.FileSize.load(), static_cast<int32_t>(c.size));
  EXPECT_EQ(s.comm().Status.TranSize.load(), static_cast<int32_t>(c.size));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ZmodemReceiveFile,
                         ::testing::Values(SizeCase{true, 0}, SizeCase{true, 1025},
                                           SizeCase{false, 3000}),
                         [](const auto& info) {
                           return std::string(info.param.crc32 ? "Crc32_" : "Crc16_") +
                                  std::to_string(info.param.size);
                         });

// A sender that offers the file on our first ZRINIT gets a second one, the
// answer to its ZRQINIT, after the offer. It takes that for a lost offer and
// discards input up to the next ZPAD before it hunts for a header: the
// ZRPOS must still arrive whole, or both sides wait out a time-out.
TEST(ZmodemReceive, ZrposSurvivesASenderThatSkipsToTheNextZpadAfterACrossedZrinit) {
  for (const bool crc32 : {true, false}) {
    SCOPED_TRACE(crc32 ? "CRC-32" : "CRC-16");
    ReceiverScript s(crc32);
    const auto start = Clock::now();
    s.peer.Write("rz\r" + HexHeader(ZRQINIT, 0));
    s.Offer("a", 5);
    s.Expect(kZrinit, "the crossed ZRINIT");
    const std::string after = s.peer.Read(Rpos(0, crc32).size());
    const size_t skipped = after.find('*');
    ASSERT_NE(skipped, std::string::npos);
    EXPECT_EQ(Shown(after.substr(skipped + 1)), Shown(BinHeader(ZRPOS, 0, crc32)))
        << "what the sender hunts in after dropping the bytes through a ZPAD";
    s.Stream("hello", 0);
    s.Finish(5);
    s.Ends(1, "hello");
    EXPECT_LT(Clock::now() - start, 3s) << "no time-out on the way";
  }
}

// A host hangs up once the session is over; the file it delivered stays a
// success. sz repeats its ZFIN when our ZRINIT crosses its first one, and its
// "OO" may follow the repeat at once before it exits: the receiver must find
// the "OO" behind the header, not throw it away, and say nothing more.
TEST(ZmodemReceive, HangUpRightAfterTheSendersOoIsStillASuccess) {
  const struct {
    const char* name;
    std::string last;
  } rows[] = {{"OO", "OO"}, {"a repeated ZFIN, then OO", HexHeader(ZFIN, 0) + "OO"}};
  uint32_t seed = 7;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ReceiverScript s;
    const std::string data = Payload(1500, seed++);
    s.Accept("file.bin", 1500);
    s.Stream(data, 0);
    s.Finish(1500, row.last);
    s.peer.line->end(1).SetFarRlsd(false);
    s.Ends(1, data);
    EXPECT_TRUE(s.NothingMore()) << "no ZFIN again once the OO came";
  }
}

TEST(ZmodemReceive, FileInformationGivesNameAsBytesAndDecimalSize) {
  const struct {
    std::string info;
    std::string name;
    int32_t size;
  } cases[] = {
      {FileInfo("name", "1234 0123 0"), "name", 1234},
      {FileInfo("name", "1234"), "name", 1234},
      {FileInfo("name", "12x4 0"), "name", 0},
      {FileInfo("\x83\x65\x83\x58\x83\x67.TXT", "99999999999 0"), "\x83\x65\x83\x58\x83\x67.TXT",
       INT32_MAX},
      {FileInfo("dir/x", ""), "dir/x", 0},
  };
  for (const auto& c : cases) {
    ReceiverScript s;
    s.peer.Write(BinHeader(ZFILE, 0, true) + Subpacket(c.info, 'k', true));
    s.Expect(Rpos(0, true), "ZRPOS");
    EXPECT_EQ(s.comm().Status.RecvName.get(), c.name);
    EXPECT_EQ(s.comm().Status.FileSize.load(), c.size) << c.name;
    s.comm().RequestCancel();
    ASSERT_TRUE(s.peer.station->WaitIdle(5s));
    EXPECT_EQ(s.comm().TranResult.load(), 0);
  }
}

// A ZCOMMAND is answered as done and never run; a sender with no file to
// offer then ends on its second ZFIN, leaving an empty file.
TEST(ZmodemReceive, CommandIsNeverRunAndASenderWithoutFileEndsOnItsSecondZfin) {
  ReceiverScript s;
  const std::string marker = s.dir.File("ran");
  s.peer.Write(BinHeader(ZCOMMAND, 0x01000000, true) +
               Subpacket("touch " + marker + std::string(1, '\0'), 'k', true));
  s.Expect(HexHeader(ZCOMPL, 0), "ZCOMPL");
  s.peer.Write(HexHeader(ZFIN, 0));
  s.Expect(kZrinit, "ZRINIT once more");
  s.peer.Write(HexHeader(ZFIN, 0));
  s.Expect(HexHeader(ZFIN, 0), "ZFIN");
  s.peer.Write("OO");
  s.Ends(1, "");
  EXPECT_TRUE(FileExists(s.path));
  EXPECT_FALSE(FileExists(marker));
}

// The cancel arrives while the receiver is clearing the line after damage.
TEST(ZmodemReceive, SenderCancelDuringTheQuietSecondEndsAtOnce) {
  ReceiverScript s;
  const std::string data = Payload(2048, 9);
  s.Accept("a", 5000);
  std::string damaged = Subpacket(data.substr(1024), 'i', true);
  damaged[100] ^= 0x04;
  s.peer.Write(BinHeader(ZDATA, 0, true) + Subpacket(data.substr(0, 1024), 'i', true) + damaged);
  s.Expect("*", "one ZPAD");
  const auto cancelled = Clock::now();
  s.peer.Write(std::string(8, '\x18') + std::string(8, '\x08'));
  s.Ends(0, data.substr(0, 1024));
  EXPECT_LT(Clock::now() - cancelled, 3s);
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
    const std::string noise = "no header here *x";
    while (!stop) {
      E.Deliver(reinterpret_cast<const uint8_t*>(noise.data()), noise.size());
      std::this_thread::sleep_for(5ms);
    }
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
