// The ZMODEM frame layer on its own: what it puts on the line, byte for
// byte, and what it makes of the bytes it is given. Bytes to read are placed
// straight into the engine's receive ring; bytes sent are read from the far
// end of a virtual line.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TransferSupport.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

using namespace xfertest;

namespace {

using Clock = std::chrono::steady_clock;

struct FrameBench {
  FrameBench() : E(peer.station->comm.Engine()), Z(E) {
    E.Check.CheckMode = kCheckCrc16;
    E.FlushRing();
  }
  void Feed(const std::string& bytes) {
    E.Deliver(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  // Everything sent so far (the line carries it at once).
  std::string Sent(size_t n) { return peer.Read(n, 2s); }
  bool NothingMore() { return peer.Read(1, 50ms).empty(); }
  struct Hunted {
    uint8_t form;
    ZHeader h{};
    int32_t value = 77;  // 77 when the hunt left the value as it was
    bool bad;
  };
  Hunted Hunt(bool badBefore = true) {
    Hunted r{};
    r.bad = badBefore;
    r.form = ZGetHeader(Z, r.h, r.value, r.bad);
    return r;
  }
  struct Received {
    uint16_t count = 99;
    uint8_t frameEnd = 99;
    bool bad;
    std::string data;
  };
  Received Receive(bool badBefore = false) {
    Received r{};
    r.bad = badBefore;
    ZReceiveData(Z, E.Block.data(), r.count, r.frameEnd, r.bad);
    r.data.assign(reinterpret_cast<const char*>(E.Block.data()), std::min<uint16_t>(r.count, 1024));
    return r;
  }

  ScriptedLine peer{pr_ZMODEM};
  TKelEngine& E;
  TZFrame Z;
};

// ---- Sending ----------------------------------------------------------------

TEST(ZmodemFrameSend, HexHeaderCarriesValueLowByteFirstInLowercaseWithCrLf) {
  FrameBench b;
  b.E.Check.CheckMode = kCheckCrc32;
  b.Z.LastSent = '@';
  ZSendHexHeader(b.Z, ZStoreHeader(ZACK, 0x12345678));
  const std::string sent = b.Sent(20);
  EXPECT_EQ(sent.substr(0, 14),
            "**\x18"
            "B0378563412");
  EXPECT_EQ(sent, zwire::HexHeader(ZACK, 0x12345678));
  EXPECT_EQ(sent.substr(18), "\r\n");
  EXPECT_TRUE(b.NothingMore()) << "no XON after a hex header";
  EXPECT_EQ(b.E.Check.CheckMode, kCheckCrc32) << "the check mode comes back as it was";
  EXPECT_EQ(b.Z.LastSent, '@') << "hex digits don't count for the CR rule";
}

struct BinCase {
  uint8_t mode;
  uint8_t type;
  uint32_t value;
};

TEST(ZmodemFrameSend, BinaryHeaderUsesTheCheckModesFormAndEscapes) {
  const BinCase cases[] = {
      {kCheckCrc16, ZRPOS, 0},          {kCheckCrc32, ZRPOS, 0},
      {kCheckCrc16, ZDATA, 0x00181113}, {kCheckCrc32, ZDATA, 0x00181113},
      {kCheckCrc16, ZACK, 0x0D409010},  {kCheckCrc32, ZEOF, 0xFFFFFFFF},
      {kCheckCrc32, ZFILE, 0x03000000},
  };
  for (const BinCase& c : cases) {
    FrameBench b;
    b.E.Check.CheckMode = c.mode;
    ZSendBinHeader(b.Z, ZStoreHeader(c.type, static_cast<int32_t>(c.value)));
    const std::string want = zwire::BinHeader(c.type, c.value, c.mode == kCheckCrc32);
    EXPECT_EQ(b.Sent(want.size()), want) << int(c.mode) << " " << c.value;
    EXPECT_TRUE(b.NothingMore());
  }
  // One lead-in byte "*" only.
  FrameBench b;
  ZSendBinHeader(b.Z, ZStoreHeader(ZFIN, 0));
  EXPECT_EQ(b.Sent(3),
            "*\x18"
            "A");
}

TEST(ZmodemFrameSend, SubpacketOfEachFrameEndWithEachCheck) {
  const std::string data = std::string("plain \x18\x11\x13\x10 bytes @\r \x7F\xFF", 20) + "end";
  for (uint8_t mode : {kCheckCrc16, kCheckCrc32}) {
    for (char end : {'h', 'i', 'j', 'k'}) {
      FrameBench b;
      b.E.Check.CheckMode = mode;
      const auto started = Clock::now();
      ZSendData(b.Z, reinterpret_cast<const uint8_t*>(data.data()),
                static_cast<uint16_t>(data.size()), static_cast<uint8_t>(end));
      std::string want = zwire::Subpacket(data, end, mode == kCheckCrc32);
      if (end == 'k') want += '\x11';
      EXPECT_EQ(b.Sent(want.size()), want) << int(mode) << end;
      EXPECT_TRUE(b.NothingMore());
      if (end == 'k') {
        EXPECT_GE(Clock::now() - started, 250ms) << "quiet after ZCRCW";
      }
    }
  }
}

struct EscapeCase {
  const char* label;
  std::string before;  // sent first, through ZSendEscaped byte by byte
  std::string block;   // then through ZSendEscapedBlock
  std::string wire;    // what the block becomes
};

TEST(ZmodemFrameSend, EscapesTheControlSetAndCrAfterAt) {
  const EscapeCase cases[] = {
      {"cr after 0x40", "", "@\r", "@\x18M"},
      {"cr after 0xC0", "", "\xC0\r", "\xC0\x18M"},
      {"0x8D after 0x40", "", "@\x8D", "@\x18\xCD"},
      {"cr after other", "", "A\r\r", "A\r\r"},
      {"cr first", "", "\r", "\r"},
      {"rub and 0xFF plain", "", "\x7F\xFF", "\x7F\xFF"},
      {"control set, both halves", "", "\x10\x11\x13\x18\x90\x91\x93\x98",
       "\x18P\x18Q\x18S\x18X\x18\xD0\x18\xD1\x18\xD3\x18\xD8"},
      {"other controls plain", "", std::string("\x00\x01\x0A\x1B\x12", 5),
       std::string("\x00\x01\x0A\x1B\x12", 5)},
      {"LastSent shared by both forms", "@", "\r", "\x18M"},
      {"cr after an escaped byte", "\x11", "\r", "\r"},
  };
  for (const EscapeCase& c : cases) {
    FrameBench b;
    for (char ch : c.before) ZSendEscaped(b.Z, static_cast<uint8_t>(ch));
    const std::string first = b.Sent(zwire::Escape(c.before).size());
    EXPECT_EQ(first, zwire::Escape(c.before)) << c.label;
    ZSendEscapedBlock(b.Z, reinterpret_cast<const uint8_t*>(c.block.data()),
                      static_cast<int>(c.block.size()));
    EXPECT_EQ(b.Sent(c.wire.size()), c.wire) << c.label;
    EXPECT_TRUE(b.NothingMore()) << c.label;
  }
}

TEST(ZmodemFrameSend, PeerAskingForEscapedControlsGetsThemAll) {
  FrameBench b;
  b.Z.EscapeControls = true;
  const std::string block("\x00\x01\x1F\x80\x9F\x20\x7F\xFF", 8);
  ZSendEscapedBlock(b.Z, reinterpret_cast<const uint8_t*>(block.data()), 8);
  EXPECT_EQ(b.Sent(13), std::string("\x18@\x18"
                                    "A\x18_\x18\xC0\x18\xDF \x7F\xFF",
                                    13));
}

TEST(ZmodemFrameSend, AbortSequenceIsEightCanPacedThenEightBs) {
  FrameBench b;
  b.Feed("stale");
  const auto started = Clock::now();
  ZCancel(b.Z);
  EXPECT_GE(Clock::now() - started, 700ms);
  EXPECT_EQ(b.Sent(16), std::string(8, '\x18') + std::string(8, '\x08'));
  EXPECT_FALSE(ZPending(b.Z)) << "waiting input discarded";
}

TEST(ZmodemFrameSend, CommandTextSkipsDdAndPausesAtDe) {
  FrameBench b;
  const auto started = Clock::now();
  SendCommandText(b.Z,
                  "rz\xDD\r\xDE"
                  "x");
  EXPECT_GE(Clock::now() - started, 2000ms);
  EXPECT_EQ(b.Sent(4), "rz\rx");
  EXPECT_TRUE(b.NothingMore());
}

// ---- Reading: under both ways of taking bytes from the ring -----------------

class ZmodemFrameRead : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { b.Z.ReadAhead = GetParam(); }
  FrameBench b;
};

TEST_P(ZmodemFrameRead, ReadByteDecodesEscapesAndFrameEnds) {
  const struct {
    std::string in;
    uint16_t out;
  } cases[] = {
      {"A", 0x41},        {"\x11\x91\x13\x93Q", 'Q'}, {"\x7F", 0x7F},       {"\x18\x11h", 0x168},
      {"\x18\x6C", 0x7F}, {"\x18\x6D", 0xFF},         {"\x18M", 0x0D},      {"\x18\xCD", 0x8D},
      {"\x18P", 0x10},    {"\x18\x18", 0x118},        {"\x18h", 0x168},     {"\x18i", 0x169},
      {"\x18j", 0x16A},   {"\x18k", 0x16B},           {"\x18\x01", 0xFFFF}, {"\x18\x61", 0xFFFF},
  };
  for (const auto& c : cases) {
    b.Feed(c.in);
    EXPECT_EQ(ZReadByte(b.Z), c.out) << c.in;
    EXPECT_FALSE(ZPending(b.Z)) << c.in;
  }
}

TEST_P(ZmodemFrameRead, HeaderHuntTable) {
  using namespace zwire;
  const struct {
    const char* label;
    std::string in;
    uint8_t form;  // ZGetHeader's result
    uint8_t type;
    bool bad;
    int32_t value;
  } cases[] = {
      {"two CAN", "\x18\x18", CAN, HeaderCancelled, false, 77},
      {"star CAN CAN", "*\x18\x18", CAN, HeaderCancelled, false, 77},
      {"lone letters skipped", "ABC" + HexHeader(ZACK, 5), ZHEX, ZACK, false, 5},
      {"star then other", "*x*\x18z" + BinHeader(ZRPOS, 9, false), ZBIN, ZRPOS, false, 9},
      {"one CAN then other", "\x18x\x18" + HexHeader(ZFIN, 3), ZHEX, ZFIN, false, 3},
      {"uppercase hex", HexHeader(ZRINIT, 0x23000000, true), ZHEX, ZRINIT, false, 0x23000000},
      {"xon and noise first", "\x11\x8d\x8a" + HexHeader(ZNAK, 1), ZHEX, ZNAK, false, 1},
      {"binary crc-16", BinHeader(ZDATA, 0x00181113, false), ZBIN, ZDATA, false, 0x00181113},
      {"binary crc-32", BinHeader(ZDATA, 0x12345678, true), ZBIN32, ZDATA, false, 0x12345678},
      {"damaged hex",
       "**\x18"
       "B0300000000ffff\r\n",
       0, HeaderTimeout, true, 77},
      {"bad hex digit",
       "**\x18"
       "B03000000g0ffff\r\n",
       0, HeaderTimeout, true, 77},
      {"bad escape in binary",
       "*\x18"
       "A\x18\x01" +
           std::string(6, 'x'),
       0, HeaderTimeout, true, 77},
  };
  for (const auto& c : cases) {
    b.E.FlushRing();
    b.Feed(c.in);
    b.E.Check.CheckMode = kCheckCrc16;
    const auto r = b.Hunt();
    EXPECT_EQ(r.form, c.form) << c.label;
    EXPECT_EQ(r.h[0], c.type) << c.label;
    EXPECT_EQ(r.bad, c.bad) << c.label;
    EXPECT_EQ(r.value, c.value) << c.label;
    EXPECT_EQ(b.E.Check.CheckMode, kCheckCrc16) << c.label;
  }
}

TEST_P(ZmodemFrameRead, HuntEndsAtOnceOnTheUsersCancel) {
  b.Feed("garbage");
  b.peer.station->comm.RequestCancel();
  const auto started = Clock::now();
  const auto r = b.Hunt(false);
  EXPECT_LT(Clock::now() - started, 500ms);
  EXPECT_EQ(r.form, 0);
  EXPECT_TRUE(r.bad);
  EXPECT_EQ(r.h[0], HeaderTimeout);
}

TEST_P(ZmodemFrameRead, HexHeaderTakesItsCrLfAndNoMore) {
  b.Feed(zwire::HexHeader(ZRINIT, 0) + "\x11*");
  ASSERT_EQ(b.Hunt().form, ZHEX);
  EXPECT_EQ(ZReadByte(b.Z), '*') << "CR LF taken, the XON skipped as flow control";
  EXPECT_FALSE(ZPending(b.Z));
  if (!GetParam()) {
    b.Feed(zwire::HexHeader(ZRINIT, 0) + "rest");
    ASSERT_EQ(b.Hunt().form, ZHEX);
    EXPECT_EQ(b.E.RxCount(), 4) << "without read-ahead only the decoded bytes leave the ring";
  }
}

// A peer puts XON behind a hex header (ZSINIT) and the line may add XON or
// XOFF anywhere: a bare one is not data. Only 1024 bytes fit a subpacket;
// ZDLE CAN cuts one short without making it bad.
TEST_P(ZmodemFrameRead, SubpacketTable) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  all += "@\r";
  const std::string flow = std::string("ab\x11\x13\x91\x93", 6) + RandomBytes(600, 9);
  std::string flowWire = "\x11" + zwire::Subpacket(flow, 'k', false);
  flowWire.insert(300, "\x11");
  const std::string full = RandomBytes(1024, 5);
  std::string flipped = zwire::Subpacket("0123456789", 'k', false);
  flipped[3] ^= 0x01;
  struct Case {
    std::string label, in;
    bool crc32, bad;
    uint8_t frameEnd;
    uint16_t count;
    std::string data;
  };
  std::vector<Case> cases = {
      {"bare flow control", flowWire, false, false, ZCRCW, 606, flow},
      {"crc error", flipped, false, true, 'k', 10, flipped.substr(0, 10)},
      {"zdle can ends it, not bad", "0123\x18\x18\x18\x18", false, false, ZFrameCancelled, 4,
       "0123"},
      {"bad escape",
       "01\x18\x02"
       "3",
       false, true, 0, 2, "01"},
      {"zdle can in the check", "01\x18k\x18\x18", false, false, ZFrameCancelled, 2, "01"},
      {"zero length", zwire::Subpacket("", 'j', false), false, false, ZCRCQ, 0, ""},
  };
  for (bool crc32 : {false, true}) {
    for (char end : {'h', 'i', 'j', 'k'})
      cases.push_back({std::string(1, end), zwire::Subpacket(all, end, crc32), crc32, false,
                       static_cast<uint8_t>(end), 258, all});
    cases.push_back({"1024", zwire::Subpacket(full, 'i', crc32), crc32, false, ZCRCG, 1024, full});
    cases.push_back(
        {"1025th byte", zwire::Subpacket(full + "x", 'i', crc32), crc32, true, 99, 1024, full});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label + (c.crc32 ? " crc-32" : " crc-16"));
    b.E.Check.CheckMode = c.crc32 ? kCheckCrc32 : kCheckCrc16;
    b.E.Block[1024] = 0;
    b.Feed(c.in + "after");
    const auto r = b.Receive();
    EXPECT_EQ(r.bad, c.bad);
    if (c.frameEnd != 99) {
      EXPECT_EQ(r.frameEnd, c.frameEnd);
    }
    EXPECT_EQ(r.count, c.count);
    EXPECT_TRUE(r.data == c.data);
    EXPECT_EQ(b.E.Block[1024], 0) << "nothing written past the buffer's 1024 bytes";
    ZFlushRing(b.Z);
  }
}

TEST_P(ZmodemFrameRead, SubpacketReadsNothingWhenAlreadyBad) {
  const std::string packet = zwire::Subpacket("abc", 'k', false);
  b.Feed(packet);
  b.E.Block[0] = 'z';
  const auto r = b.Receive(true);
  EXPECT_TRUE(r.bad);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(b.E.Block[0], 0) << "the first 128 bytes are cleared";
  EXPECT_EQ(b.E.RxCount(), static_cast<int32_t>(packet.size()));
}

INSTANTIATE_TEST_SUITE_P(Bulk, ZmodemFrameRead, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ReadAhead" : "ByteByByte"; });

// Bytes that never form a header end the hunt after 10 s, as silence would.
TEST(ZmodemFrameHunt, GarbageForTenSecondsEndsTheHunt) {
  FrameBench b;
  b.Z.ReadAhead = true;
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    while (!stop) {
      b.Feed("no header here *x");
      std::this_thread::sleep_for(5ms);
    }
  });
  const auto started = Clock::now();
  const auto r = b.Hunt(false);
  const auto took = Clock::now() - started;
  stop = true;
  feeder.join();
  EXPECT_EQ(r.form, 0);
  EXPECT_TRUE(r.bad);
  EXPECT_EQ(r.h[0], HeaderTimeout);
  EXPECT_GE(took, 10s);
  EXPECT_LT(took, 11s);
}

}  // namespace
