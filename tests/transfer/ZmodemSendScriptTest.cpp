// Our ZMODEM sender against a receiver scripted frame by frame on the far end
// of a virtual line. The peer builds and checks its frames with its own
// escaping and check code, so a fault shared by our sender and our frame
// layer still shows here.

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "Reference.h"
#include "Stations.h"
#include "Zmodem.h"
#include "ZmodemWire.h"

using zwire::BinHeader;
using zwire::HexHeader;

namespace {

const std::string kZrinit = HexHeader(ZRINIT, 0x23000000);  // CANFDX CANOVIO CANFC32

struct Header {
  char form = 0;  // 'A', 'B' or 'C'
  uint8_t type = 0xFF;
  int32_t value = 0;
};

struct Subpacket {
  std::string data;
  int end = 0;
};

std::string Check(const std::string& covered, bool crc32) {
  return crc32 ? zwire::Crc32Bytes(covered) : zwire::Crc16Bytes(covered);
}

// The receiving end's view of what our sender puts on the line.
class Peer {
 public:
  explicit Peer(ScriptedLine& line) : line_(line) {}

  unsigned char Raw() {
    if (at_ == buffer_.size()) {
      buffer_ = line_.Read(1, 10s);
      at_ = 0;
      if (buffer_.empty()) throw std::runtime_error("the sender went quiet");
      buffer_ += line_.line->end(1).Read();
    }
    return static_cast<unsigned char>(buffer_[at_++]);
  }
  std::string RawBytes(size_t n) {
    std::string s;
    while (s.size() < n) s += static_cast<char>(Raw());
    return s;
  }
  // A data byte, or 0x100 + a frame end.
  int Unit() {
    const unsigned char c = Raw();
    if (c != ZDLE) return c;
    const unsigned char d = Raw();
    if (d >= ZCRCE && d <= ZCRCW) return 0x100 + d;
    if (d == 0x6C || d == 0x6D) return d == 0x6C ? 0x7F : 0xFF;
    return d ^ 0x40;
  }
  std::string Units(size_t n) {
    std::string s;
    while (s.size() < n) {
      const int u = Unit();
      if (u > 0xFF) throw std::runtime_error("a frame end inside a header or check");
      s += static_cast<char>(u);
    }
    return s;
  }
  // Skips to the next header and checks it.
  Header NextHeader() {
    for (;;) {
      unsigned char c = Raw();
      if (c != ZPAD) continue;
      c = Raw();
      if (c == ZPAD) c = Raw();
      if (c != ZDLE) continue;
      const char form = static_cast<char>(Raw());
      if (form == 'B') return ReadHex();
      if (form == 'A' || form == 'C') return ReadBin(form);
    }
  }
  Subpacket NextSubpacket(bool crc32) {
    Subpacket p;
    int u;
    while ((u = Unit()) <= 0xFF) p.data += static_cast<char>(u);
    p.end = u - 0x100;
    EXPECT_EQ(Units(crc32 ? 4 : 2), Check(p.data + static_cast<char>(p.end), crc32))
        << "subpacket check";
    return p;
  }
  void Send(const std::string& bytes) { line_.Write(bytes); }

 private:
  static Header Decode(char form, const std::string& raw) {
    Header h{form, static_cast<uint8_t>(raw[0]), 0};
    for (int i = 4; i >= 1; --i) h.value = h.value << 8 | static_cast<unsigned char>(raw[i]);
    return h;
  }
  Header ReadHex() {
    const std::string digits = RawBytes(14);
    std::string raw;
    for (size_t i = 0; i < 14; i += 2)
      raw += static_cast<char>(std::stoi(digits.substr(i, 2), 0, 16));
    EXPECT_EQ(digits, zwire::Hex(raw)) << "lowercase hex";
    EXPECT_EQ(Crc16Of(raw), 0) << "hex header check";
    EXPECT_EQ(RawBytes(2), "\r\n");
    return Decode('B', raw);
  }
  Header ReadBin(char form) {
    const std::string raw = Units(5);
    EXPECT_EQ(Units(form == 'C' ? 4 : 2), Check(raw, form == 'C')) << "header check";
    return Decode(form, raw);
  }

  ScriptedLine& line_;
  std::string buffer_;
  size_t at_ = 0;
};

// Our sender on end 0 with a file of its own; the script plays the
// receiver on end 1.
struct Script {
  explicit Script(const std::string& content, const std::string& announce = "Data.BIN",
                  VirtualLine::Options options = {})
      : line(pr_ZMODEM, options), peer(line), data(content) {
    WriteFile(dir.File("file"), data);
    EXPECT_TRUE(SetModifiedOnSecondDay(dir.File("file")));
    comm().StartUpload(dir.File("file"), announce);
    EXPECT_EQ(comm().TranMode.load(), 1);
  }
  TKELCOMM& comm() { return line.station->comm; }

  // "rz" CR, ZRQINIT, and our ZRINIT; then the ZFILE header and its
  // information, which is returned.
  std::string InviteAndExpectFile(bool crc32) {
    EXPECT_EQ(peer.RawBytes(3), "rz\r");
    const Header h = peer.NextHeader();
    EXPECT_EQ(h.form, 'B');
    EXPECT_EQ(h.type, ZRQINIT);
    peer.Send(HexHeader(ZRINIT, (crc32 ? 0x23u : 0x03u) << 24));
    return ExpectFile(crc32);
  }
  std::string ExpectFile(bool crc32) {
    const Header h = peer.NextHeader();
    EXPECT_EQ(h.form, crc32 ? 'C' : 'A');
    EXPECT_EQ(h.type, ZFILE);
    EXPECT_EQ(h.value, 3 << 24) << "ZF0 = ZCRESUM, the other flags 0";
    const Subpacket info = peer.NextSubpacket(crc32);
    EXPECT_EQ(info.end, ZCRCW);
    EXPECT_EQ(peer.Raw(), 0x11) << "XON after ZCRCW";
    return info.data;
  }
  // A ZDATA header at from and the subpackets up to ZCRCE, then ZEOF.
  std::string ExpectData(bool crc32, int32_t from) {
    const Header h = peer.NextHeader();
    EXPECT_EQ(h.form, crc32 ? 'C' : 'A');
    EXPECT_EQ(h.type, ZDATA);
    EXPECT_EQ(h.value, from);
    std::string got;
    Subpacket p;
    do {
      got += (p = peer.NextSubpacket(crc32)).data;
    } while (p.end == ZCRCG);
    EXPECT_EQ(p.end, ZCRCE);
    const Header eof = peer.NextHeader();
    EXPECT_EQ(eof.type, ZEOF);
    EXPECT_EQ(eof.value, static_cast<int32_t>(data.size()));
    return got;
  }
  bool DataFrom(bool crc32, int32_t from) {
    return ExpectData(crc32, from) == data.substr(static_cast<size_t>(from));
  }
  // ZFIN in CRC-16 whatever the data used, our ZFIN, then "OO".
  void Finish() {
    const Header fin = peer.NextHeader();
    EXPECT_EQ(fin.type, ZFIN);
    EXPECT_EQ(fin.form, 'A');
    EXPECT_EQ(fin.value, 0);
    peer.Send(HexHeader(ZFIN, 0));
    EXPECT_EQ(peer.RawBytes(2), "OO");
  }
  // The receiver asks for the next file; the session ends as a success.
  void EndsWell() {
    peer.Send(kZrinit);
    Finish();
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(comm().TranResult.load(), 1);
  }
  bool WaitEnd() { return line.station->WaitIdle(5s); }

  TempDir dir;
  ScriptedLine line;
  Peer peer;
  std::string data;
};

struct AnswerCase {
  const char* name;
  std::string answer;
  bool sendsFin;
  uint8_t result;
};

class ZmodemSendFileAnswer : public ::testing::TestWithParam<AnswerCase> {};

// What follows the information when the receiver doesn't ask for data.
TEST_P(ZmodemSendFileAnswer, EndsWithoutData) {
  const AnswerCase& c = GetParam();
  Script s(RandomBytes(3000, 3));
  s.InviteAndExpectFile(true);
  s.peer.Send(c.answer);
  if (c.sendsFin)
    s.Finish();
  else
    EXPECT_EQ(s.peer.RawBytes(16), CancelSequence());
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_EQ(s.comm().TranResult.load(), c.result);
  EXPECT_EQ(s.comm().Status.TranSize.load(), 0);
  EXPECT_EQ(s.line.Read(1, 100ms), "") << "nothing after the end";
}

// ZSKIP: the receiver has the file already; ZNAK: not taken, so not a
// success, but no abort either.
INSTANTIATE_TEST_SUITE_P(
    Answers, ZmodemSendFileAnswer,
    ::testing::Values(AnswerCase{"SkipSucceeds", HexHeader(ZSKIP, 0), true, 1},
                      AnswerCase{"NakEndsWithoutAbort", HexHeader(ZNAK, 0), true, 0},
                      AnswerCase{"AbortIsAnswered", HexHeader(ZABORT, 0), false, 0},
                      AnswerCase{"CancelRightAfterRposIsHeard",
                                 HexHeader(ZRPOS, 0) + CancelSequence(), false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A ZRPOS in the middle of the stream stops it after the subpacket being
// sent; the data resumes from the position behind a new ZDATA. The XON that
// some receivers put after a hex header, arriving once the stream has
// resumed, must not stop it again.
TEST(ZmodemSender, RposMovesTheStreamBack) {
  VirtualLine::Options paced;
  paced.speed = 230400;
  Script s(RandomBytes(24 * 1024, 5), "Data.BIN", paced);
  s.InviteAndExpectFile(true);
  s.peer.Send(BinHeader(ZRPOS, 0, true));
  EXPECT_EQ(s.peer.NextHeader().type, ZDATA);
  EXPECT_EQ(s.peer.NextSubpacket(true).end, ZCRCG);
  s.peer.Send(HexHeader(ZRPOS, 512));
  Header h;
  do h = s.peer.NextHeader();
  while (h.type != ZDATA);
  EXPECT_EQ(h.value, 512);
  s.peer.Send("\x11\x13\x91 AB\r\n");
  std::string got;
  Subpacket p;
  do got += (p = s.peer.NextSubpacket(true)).data;
  while (p.end == ZCRCG);
  EXPECT_TRUE(got == s.data.substr(512)) << "one run from 512 to the end, uninterrupted";
  EXPECT_EQ(s.peer.NextHeader().type, ZEOF);
  s.EndsWell();
}

// Ten ZRPOS in a row during the data end the transfer with the abort
// sequence; nine are still answered with data.
TEST(ZmodemSender, TenRposInARowAbort) {
  Script s(RandomBytes(3000, 6));
  s.InviteAndExpectFile(false);
  s.peer.Send(HexHeader(ZRPOS, 0));
  for (int i = 1; i <= 10; ++i) {
    EXPECT_TRUE(s.DataFrom(false, 0)) << i;
    s.peer.Send(HexHeader(ZRPOS, 0));
  }
  EXPECT_EQ(s.peer.RawBytes(16), CancelSequence());
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_EQ(s.comm().TranResult.load(), 0);
  EXPECT_EQ(s.comm().Status.TranSize.load(), 10 * 3 * 1024);
}

// On a noisy line every reply may be a ZRPOS: as long as each reaches
// further into the file, the count of ten starts over.
TEST(ZmodemSender, RposThatMakeProgressDoNotUseUpTheLimit) {
  Script s(RandomBytes(3000, 9));
  s.InviteAndExpectFile(true);
  s.peer.Send(HexHeader(ZRPOS, 0));
  for (int32_t at = 0; at <= 2400; at += 200) {
    EXPECT_TRUE(s.DataFrom(true, at)) << at;
    s.peer.Send(HexHeader(ZRPOS, at));  // twice at the same place, then further on
    EXPECT_TRUE(s.DataFrom(true, at)) << at;
    s.peer.Send(HexHeader(ZRPOS, at + 200));
  }
  EXPECT_TRUE(s.DataFrom(true, 2600));
  s.EndsWell();
}

// A ZRINIT after ZFILE followed by quiet means the receiver lost the ZFILE:
// it goes again. One followed at once by ZRPOS was only a repeat.
TEST(ZmodemSender, FileInformationGoesAgainWhenTheReceiverLostIt) {
  Script s(RandomBytes(1500, 10));
  const std::string info = s.InviteAndExpectFile(true);
  s.peer.Send(kZrinit);
  EXPECT_EQ(s.ExpectFile(true), info);
  s.peer.Send(kZrinit + HexHeader(ZRPOS, 0));
  EXPECT_TRUE(s.DataFrom(true, 0)) << "data at once, no third ZFILE";
  s.EndsWell();
}

}  // namespace
