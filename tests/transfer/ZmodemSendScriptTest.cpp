// Our ZMODEM sender against a receiver scripted frame by frame on the far end
// of a virtual line. The peer builds and checks its frames with its own
// escaping and check code, so a fault shared by our sender and our frame
// layer still shows here.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <stdexcept>
#include <vector>

#include "TransferSupport.h"

using namespace xfertest;

namespace {

constexpr char kZpad = '*';
constexpr uint8_t kZdle = 0x18;
enum : uint8_t {
  ZRQINIT = 0,
  ZRINIT = 1,
  ZACK = 3,
  ZFILE = 4,
  ZSKIP = 5,
  ZNAK = 6,
  ZABORT = 7,
  ZFIN = 8,
  ZRPOS = 9,
  ZDATA = 10,
  ZEOF = 11,
  ZCRC = 13
};
constexpr int kZcrce = 0x68, kZcrcg = 0x69, kZcrcw = 0x6B;
constexpr uint8_t kCanFdxOvioFc32 = 0x23;

uint32_t Crc32Of(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int i = 0; i < 8; ++i) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

std::string HeaderBytes(uint8_t type, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  return {static_cast<char>(type), static_cast<char>(v), static_cast<char>(v >> 8),
          static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    const int low = c & 0x7F;
    if (low == 0x10 || low == 0x11 || low == 0x13 || low == 0x18) {
      out += static_cast<char>(kZdle);
      out += static_cast<char>(c ^ 0x40);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string HexHeader(uint8_t type, int32_t value = 0) {
  const std::string h = HeaderBytes(type, value);
  const uint16_t crc = Crc16Of(h);
  const std::string raw = h + static_cast<char>(crc >> 8) + static_cast<char>(crc);
  std::string out =
      "**\x18"
      "B";
  for (unsigned char c : raw) {
    out += "0123456789abcdef"[c >> 4];
    out += "0123456789abcdef"[c & 15];
  }
  return out + "\r\n";
}

std::string BinHeader(uint8_t type, int32_t value, bool crc32) {
  const std::string h = HeaderBytes(type, value);
  std::string check;
  if (crc32) {
    const uint32_t crc = Crc32Of(h);
    for (int s = 0; s < 32; s += 8) check += static_cast<char>(crc >> s);
  } else {
    const uint16_t crc = Crc16Of(h);
    check = {static_cast<char>(crc >> 8), static_cast<char>(crc)};
  }
  return std::string("*\x18") + (crc32 ? 'C' : 'A') + Escaped(h + check);
}

struct Header {
  char form = 0;  // 'A', 'B' or 'C'
  uint8_t type = 0xFF;
  int32_t value = 0;
};

struct Subpacket {
  std::string data;
  int end = 0;
};

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
    if (c != kZdle) return c;
    const unsigned char d = Raw();
    if (d >= kZcrce && d <= kZcrcw) return 0x100 + d;
    if (d == 0x6C) return 0x7F;
    if (d == 0x6D) return 0xFF;
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
  // Skips to the next header and checks it; lenient bytes before it are
  // returned in skipped.
  Header NextHeader(std::string* skipped = nullptr) {
    std::string before;
    for (;;) {
      unsigned char c = Raw();
      if (c != kZpad) {
        before += static_cast<char>(c);
        continue;
      }
      c = Raw();
      if (c == kZpad) c = Raw();
      if (c != kZdle) continue;
      const char form = static_cast<char>(Raw());
      if (skipped) *skipped = before;
      if (form == 'B') return ReadHex();
      if (form == 'A' || form == 'C') return ReadBin(form);
    }
  }
  Subpacket NextSubpacket(bool crc32) {
    Subpacket p;
    int u;
    while ((u = Unit()) <= 0xFF) p.data += static_cast<char>(u);
    p.end = u - 0x100;
    const std::string covered = p.data + static_cast<char>(p.end);
    const std::string check = Units(crc32 ? 4 : 2);
    EXPECT_EQ(check, CheckBytes(covered, crc32)) << "subpacket check";
    return p;
  }
  void Send(const std::string& bytes) { line_.Write(bytes); }

 private:
  static std::string CheckBytes(const std::string& covered, bool crc32) {
    if (!crc32) {
      const uint16_t crc = Crc16Of(covered);
      return {static_cast<char>(crc >> 8), static_cast<char>(crc)};
    }
    const uint32_t crc = Crc32Of(covered);
    std::string s;
    for (int i = 0; i < 32; i += 8) s += static_cast<char>(crc >> i);
    return s;
  }
  Header Decode(char form, const std::string& raw) {
    Header h{form, static_cast<uint8_t>(raw[0]), 0};
    for (int i = 4; i >= 1; --i) h.value = h.value << 8 | static_cast<unsigned char>(raw[i]);
    return h;
  }
  Header ReadHex() {
    const std::string digits = RawBytes(14);
    std::string raw;
    for (size_t i = 0; i < 14; i += 2)
      raw += static_cast<char>(std::stoi(digits.substr(i, 2), 0, 16));
    EXPECT_EQ(digits, [&] {
      std::string lower = digits;
      for (char& c : lower) c = static_cast<char>(std::tolower(c));
      return lower;
    }()) << "lowercase hex";
    EXPECT_EQ(Crc16Of(raw), 0) << "hex header check";
    EXPECT_EQ(RawBytes(2), "\r\n");
    return Decode('B', raw);
  }
  Header ReadBin(char form) {
    const std::string raw = Units(5);
    const std::string check = Units(form == 'C' ? 4 : 2);
    EXPECT_EQ(check, CheckBytes(raw, form == 'C').substr(0, check.size())) << "header check";
    return Decode(form, raw);
  }

  ScriptedLine& line_;
  std::string buffer_;
  size_t at_ = 0;
};

// A file whose modification time lies on 1970/01/02, local time.
void SetModifiedOnSecondDay(const std::string& path) {
  std::tm t{};
  t.tm_year = 70;
  t.tm_mon = 0;
  t.tm_mday = 2;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  const time_t when = mktime(&t);
  timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Our sender on end 0 with a file of its own; the script plays the
// receiver on end 1.
struct Script {
  explicit Script(const std::string& content, const std::string& announce = "Data.BIN",
                  VirtualLine::Options options = {})
      : line(pr_ZMODEM, options), peer(line), data(content) {
    WriteFile(dir.File("file"), data);
    SetModifiedOnSecondDay(dir.File("file"));
    comm().StartUpload(dir.File("file"), announce);
    EXPECT_EQ(comm().TranMode.load(), 1);
  }
  TKELCOMM& comm() { return line.station->comm; }

  // "rz" CR, ZRQINIT, and our ZRINIT.
  void Invite(bool crc32) {
    EXPECT_EQ(peer.RawBytes(3), "rz\r");
    const Header h = peer.NextHeader();
    EXPECT_EQ(h.form, 'B');
    EXPECT_EQ(h.type, ZRQINIT);
    peer.Send(HexHeader(ZRINIT, (crc32 ? kCanFdxOvioFc32 : 0x03) << 24));
  }
  // The ZFILE header and its information; returns the information.
  std::string ExpectFile(bool crc32) {
    const Header h = peer.NextHeader();
    EXPECT_EQ(h.form, crc32 ? 'C' : 'A');
    EXPECT_EQ(h.type, ZFILE);
    EXPECT_EQ(h.value, 3 << 24) << "ZF0 = ZCRESUM, the other flags 0";
    const Subpacket info = peer.NextSubpacket(crc32);
    EXPECT_EQ(info.end, kZcrcw);
    EXPECT_EQ(peer.Raw(), 0x11) << "XON after ZCRCW";
    return info.data;
  }
  // A ZDATA header at from and the subpackets up to ZCRCE, then ZEOF.
  std::string ExpectData(bool crc32, int32_t from, std::vector<Subpacket>* packets = nullptr) {
    const Header h = peer.NextHeader();
    EXPECT_EQ(h.form, crc32 ? 'C' : 'A');
    EXPECT_EQ(h.type, ZDATA);
    EXPECT_EQ(h.value, from);
    std::string got;
    Subpacket p;
    do {
      p = peer.NextSubpacket(crc32);
      got += p.data;
      if (packets) packets->push_back(p);
    } while (p.end == kZcrcg);
    EXPECT_EQ(p.end, kZcrce);
    const Header eof = peer.NextHeader();
    EXPECT_EQ(eof.type, ZEOF);
    EXPECT_EQ(eof.value, static_cast<int32_t>(data.size()));
    return got;
  }
  // ZFIN in CRC-16 whatever the data used, our ZFIN, then "OO".
  void Finish() {
    const Header fin = peer.NextHeader();
    EXPECT_EQ(fin.type, ZFIN);
    EXPECT_EQ(fin.form, 'A');
    EXPECT_EQ(fin.value, 0);
    peer.Send(HexHeader(ZFIN));
    EXPECT_EQ(peer.RawBytes(2), "OO");
  }
  bool WaitEnd() { return line.station->WaitIdle(5s); }

  ScratchDir dir;
  ScriptedLine line;
  Peer peer;
  std::string data;
};

struct DataCase {
  const char* name;
  size_t size;
  bool crc32;
  int32_t rpos;
  std::vector<size_t> lengths;  // of the subpackets, the last one ZCRCE
  int32_t tranSize;
};

class ZmodemSendData : public ::testing::TestWithParam<DataCase> {};

TEST_P(ZmodemSendData, StreamsSubpacketsFromTheRequestedPosition) {
  const DataCase& c = GetParam();
  Script s(RandomBytes(c.size, static_cast<uint32_t>(c.size)));
  s.Invite(c.crc32);
  s.ExpectFile(c.crc32);
  s.peer.Send(c.crc32 ? BinHeader(ZRPOS, c.rpos, true) : HexHeader(ZRPOS, c.rpos));
  std::vector<Subpacket> packets;
  const std::string got = s.ExpectData(c.crc32, c.rpos, &packets);
  EXPECT_TRUE(got == s.data.substr(static_cast<size_t>(c.rpos)));
  ASSERT_EQ(packets.size(), c.lengths.size());
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].data.size(), c.lengths[i]) << i;
    EXPECT_EQ(packets[i].end, i + 1 == packets.size() ? kZcrce : kZcrcg) << i;
  }
  s.peer.Send(HexHeader(ZRINIT, kCanFdxOvioFc32 << 24));
  s.Finish();
  // Nothing follows "OO" from the receiver: the sender ends at once, and
  // what the host prints next reaches the window.
  const auto afterOO = std::chrono::steady_clock::now();
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_LT(std::chrono::steady_clock::now() - afterOO, 900ms);
  s.peer.Send("$ ");
  EXPECT_EQ(s.line.station->window.WaitBytes(2, 2s), "$ ");
  EXPECT_EQ(s.comm().TranResult.load(), 1);
  EXPECT_EQ(s.comm().Status.TranSize.load(), c.tranSize);
  EXPECT_EQ(s.comm().Status.ErrorCount.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZmodemSendData,
    ::testing::Values(DataCase{"Crc32_2048", 2048, true, 0, {1024, 1024}, 2048},
                      DataCase{"Crc16_1500", 1500, false, 0, {1024, 476}, 2048},
                      DataCase{"Crc32_1500", 1500, true, 0, {1024, 476}, 2048},
                      DataCase{"RposForward1000", 2048, true, 1000, {1024, 24}, 2048},
                      DataCase{"RposAtTheEnd", 2048, true, 2048, {0}, 1024},
                      DataCase{"Crc16_1", 1, false, 0, {1}, 1024}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ZmodemSender, FileInformationIsLowerCasedNameSizeAndDate) {
  Script s(RandomBytes(1234, 1), "DATA.TXT");
  s.Invite(true);
  const std::string info = s.ExpectFile(true);
  EXPECT_EQ(info, Padded(std::string("data.txt\0", 9) + "1234 0250600", 128, '\0'));
  s.peer.Send(HexHeader(ZSKIP));
  s.Finish();
  ASSERT_TRUE(s.WaitEnd());
}

struct LongNameCase {
  size_t nameLength;
  std::string expectedTail;  // the information's last bytes
};

class ZmodemSendLongName : public ::testing::TestWithParam<LongNameCase> {};

// The information is cut to 128 bytes; a name that fills them keeps a 0x00
// as its last byte, so the receiver still finds where the name ends.
TEST_P(ZmodemSendLongName, InformationIsCutTo128Bytes) {
  const LongNameCase& c = GetParam();
  Script s(RandomBytes(2048, 2), std::string(c.nameLength, 'N'));
  s.Invite(true);
  const std::string info = s.ExpectFile(true);
  ASSERT_EQ(info.size(), 128u);
  EXPECT_EQ(info.substr(0, 100), std::string(100, 'n'));
  EXPECT_EQ(info.substr(128 - c.expectedTail.size()), c.expectedTail);
  s.peer.Send(HexHeader(ZSKIP));
  s.Finish();
  ASSERT_TRUE(s.WaitEnd());
}

INSTANTIATE_TEST_SUITE_P(Names, ZmodemSendLongName,
                         ::testing::Values(LongNameCase{120, std::string("\0"
                                                                         "2048 02",
                                                                         8)},
                                           LongNameCase{127, std::string("n\0", 2)},
                                           LongNameCase{200, std::string("n\0", 2)}));

struct AnswerCase {
  const char* name;
  std::string answer;
  bool sendsFin;
  bool aborts;
  uint8_t result;
};

class ZmodemSendFileAnswer : public ::testing::TestWithParam<AnswerCase> {};

// What follows the information when the receiver doesn't ask for data.
TEST_P(ZmodemSendFileAnswer, EndsWithoutData) {
  const AnswerCase& c = GetParam();
  Script s(RandomBytes(3000, 3));
  s.Invite(true);
  s.ExpectFile(true);
  s.peer.Send(c.answer);
  if (c.sendsFin) {
    s.Finish();
  } else {
    std::string tail = s.peer.RawBytes(16);
    EXPECT_EQ(tail, CancelSequence());
  }
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_EQ(s.comm().TranResult.load(), c.result);
  EXPECT_EQ(s.comm().Status.TranSize.load(), 0);
  EXPECT_EQ(s.line.Read(1, 100ms), "") << "nothing after the end";
}

INSTANTIATE_TEST_SUITE_P(Answers, ZmodemSendFileAnswer,
                         ::testing::Values(
                             // The receiver has the file already: no data, still the end exchange.
                             AnswerCase{"SkipSucceeds", HexHeader(ZSKIP), true, false, 1},
                             // Not taken, so not a success; but no abort either.
                             AnswerCase{"NakEndsWithoutAbort", HexHeader(ZNAK), true, false, 0},
                             AnswerCase{"AbortIsAnswered", HexHeader(ZABORT), false, true, 0},
                             AnswerCase{"CancelIsAnswered", std::string(5, '\x18'), false, true,
                                        0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CheckCase {
  const char* name;
  bool crc32;
  int32_t request;
  size_t covered;  // bytes of the file the answer covers
};

class ZmodemSendCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ZmodemSendCheck, AnswersZcrcWithTheComplementedCheck) {
  const CheckCase& c = GetParam();
  Script s(RandomBytes(5000, 4));
  s.Invite(c.crc32);
  s.ExpectFile(c.crc32);
  s.peer.Send(HexHeader(ZCRC, c.request));
  const Header h = s.peer.NextHeader();
  EXPECT_EQ(h.form, 'B');
  EXPECT_EQ(h.type, ZCRC);
  const std::string part = s.data.substr(0, c.covered);
  const int32_t expected = c.crc32 ? static_cast<int32_t>(Crc32Of(part))
                                   : ~static_cast<int32_t>(static_cast<int16_t>(Crc16Of(part)));
  EXPECT_EQ(h.value, expected);
  // The file is where it was: the data that follows starts at the ZRPOS.
  s.peer.Send(HexHeader(ZRPOS, 0));
  EXPECT_TRUE(s.ExpectData(c.crc32, 0) == s.data);
  s.peer.Send(HexHeader(ZRINIT, kCanFdxOvioFc32 << 24));
  s.Finish();
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_EQ(s.comm().TranResult.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(Requests, ZmodemSendCheck,
                         ::testing::Values(CheckCase{"Crc32_10", true, 10, 9},
                                           CheckCase{"Crc16_10", false, 10, 9},
                                           CheckCase{"Crc32_0IsTheWholeFile", true, 0, 5000}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RposCase {
  const char* name;
  std::string reply;  // ZRPOS 512 as the receiver sends it
  std::string late;   // what it sends once the data has resumed
};

class ZmodemSendRpos : public ::testing::TestWithParam<RposCase> {};

// A ZRPOS in the middle of the stream stops it after the subpacket being
// sent; the data resumes from the position behind a new ZDATA. The XON that
// some receivers put after a hex header, arriving once the stream has
// resumed, must not stop it again.
TEST_P(ZmodemSendRpos, MovesTheStreamBack) {
  VirtualLine::Options paced;
  paced.speed = 230400;
  Script s(RandomBytes(24 * 1024, 5), "Data.BIN", paced);
  s.Invite(true);
  s.ExpectFile(true);
  s.peer.Send(BinHeader(ZRPOS, 0, true));
  const Header data = s.peer.NextHeader();
  EXPECT_EQ(data.type, ZDATA);
  EXPECT_EQ(s.peer.NextSubpacket(true).end, kZcrcg);
  s.peer.Send(GetParam().reply);
  Header h;
  do h = s.peer.NextHeader();
  while (h.type != ZDATA);
  EXPECT_EQ(h.value, 512);
  s.peer.Send(GetParam().late);
  std::string got;
  Subpacket p;
  do got += (p = s.peer.NextSubpacket(true)).data;
  while (p.end == kZcrcg);
  EXPECT_TRUE(got == s.data.substr(512)) << "one run from 512 to the end, uninterrupted";
  EXPECT_EQ(s.peer.NextHeader().type, ZEOF);
  s.peer.Send(HexHeader(ZRINIT, kCanFdxOvioFc32 << 24));
  s.Finish();
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_EQ(s.comm().TranResult.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(Replies, ZmodemSendRpos,
                         ::testing::Values(RposCase{"Binary", BinHeader(ZRPOS, 512, true), ""},
                                           RposCase{"HexThenXon", HexHeader(ZRPOS, 512), "\x11"},
                                           RposCase{"HexThenNoise", HexHeader(ZRPOS, 512),
                                                    "\x11\x13\x91 AB\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Ten ZRPOS in a row during the data end the transfer with the abort
// sequence; nine are still answered with data.
TEST(ZmodemSender, TenRposInARowAbort) {
  Script s(RandomBytes(3000, 6));
  s.Invite(false);
  s.ExpectFile(false);
  s.peer.Send(HexHeader(ZRPOS, 0));
  for (int i = 1; i <= 10; ++i) {
    EXPECT_TRUE(s.ExpectData(false, 0) == s.data) << i;
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
  s.Invite(true);
  s.ExpectFile(true);
  s.peer.Send(HexHeader(ZRPOS, 0));
  for (int32_t at = 0; at <= 2400; at += 200) {
    EXPECT_TRUE(s.ExpectData(true, at) == s.data.substr(static_cast<size_t>(at))) << at;
    // Twice at the same place, then further on.
    s.peer.Send(HexHeader(ZRPOS, at));
    EXPECT_TRUE(s.ExpectData(true, at) == s.data.substr(static_cast<size_t>(at))) << at;
    s.peer.Send(HexHeader(ZRPOS, at + 200));
  }
  EXPECT_TRUE(s.ExpectData(true, 2600) == s.data.substr(2600));
  s.peer.Send(HexHeader(ZRINIT, kCanFdxOvioFc32 << 24));
  s.Finish();
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_EQ(s.comm().TranResult.load(), 1);
}

// A ZRINIT after ZFILE followed by quiet means the receiver lost the ZFILE:
// it goes again. One followed at once by ZRPOS was only a repeat.
TEST(ZmodemSender, FileInformationGoesAgainWhenTheReceiverLostIt) {
  Script s(RandomBytes(1500, 10));
  s.Invite(true);
  const std::string info = s.ExpectFile(true);
  s.peer.Send(HexHeader(ZRINIT, kCanFdxOvioFc32 << 24));
  EXPECT_EQ(s.ExpectFile(true), info);
  s.peer.Send(HexHeader(ZRINIT, kCanFdxOvioFc32 << 24) + HexHeader(ZRPOS, 0));
  EXPECT_TRUE(s.ExpectData(true, 0) == s.data) << "data at once, no third ZFILE";
  s.peer.Send(HexHeader(ZRINIT, kCanFdxOvioFc32 << 24));
  s.Finish();
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_EQ(s.comm().TranResult.load(), 1);
}

// Two CAN during the invitation stop it at once, without an abort sequence.
TEST(ZmodemSender, CancelDuringTheInvitationEndsAtOnce) {
  Script s(RandomBytes(100, 7));
  EXPECT_EQ(s.peer.RawBytes(3), "rz\r");
  EXPECT_EQ(s.peer.NextHeader().type, ZRQINIT);
  s.peer.Send("\x18\x18");
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_EQ(s.comm().TranResult.load(), 0);
  EXPECT_EQ(s.line.Read(1, 100ms), "");
}

// A header the sender doesn't expect during the data is answered with ZNAK
// and counted; the receiver's next ZRPOS carries on.
TEST(ZmodemSender, UnexpectedHeaderDuringTheDataIsNakedAndCounted) {
  Script s(RandomBytes(2000, 8));
  s.Invite(true);
  s.ExpectFile(true);
  s.peer.Send(HexHeader(ZRPOS, 0));
  EXPECT_TRUE(s.ExpectData(true, 0) == s.data);
  s.peer.Send(HexHeader(ZFILE));
  const Header nak = s.peer.NextHeader();
  EXPECT_EQ(nak.type, ZNAK);
  EXPECT_EQ(nak.form, 'C');
  s.peer.Send(HexHeader(ZRPOS, 1000));
  EXPECT_TRUE(s.ExpectData(true, 1000) == s.data.substr(1000));
  s.peer.Send(HexHeader(ZRINIT, kCanFdxOvioFc32 << 24));
  s.Finish();
  ASSERT_TRUE(s.WaitEnd());
  EXPECT_EQ(s.comm().TranResult.load(), 1);
  EXPECT_EQ(s.comm().Status.ErrorCount.load(), 1);
}

}  // namespace
