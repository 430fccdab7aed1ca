// The demo modem's command set and call handling, seen from the KelTerm end
// of the line: echo, result codes in words and digits, dialling with its
// delays and the carrier, the "+++" escape with its guard times, and the
// ways a call ends.
#include <gtest/gtest.h>

#include "DemoTerminal.h"

namespace demotest {
namespace {

TEST(DemoModemTest, CommandsAnswerByteForByte) {
  // In order: each row starts in the state the one before left.
  const struct {
    const char *send, *reply;
  } rows[] = {
      {"AT\r", "AT\r\r\nOK\r\n"},
      {"at e1 v1\r", "at e1 v1\r\r\nOK\r\n"},
      {"ATE1V1Q0S0=2\r", "ATE1V1Q0S0=2\r\r\nOK\r\n"},
      {"AT&F\r\n", "AT&F\r\r\nOK\r\n"},  // the LF is neither echoed nor a command
      {"ATX9\r", "ATX9\r\r\nERROR\r\n"},
      {"ATE1J\r", "ATE1J\r\r\nERROR\r\n"},
      {"ATX\b\r", "ATX\b\r\r\nOK\r\n"},          // back-space edits the line
      {"hello\rAT\r", "hello\rAT\r\r\nOK\r\n"},  // no AT: no command, no answer
      {"ATI\r", "ATI\r\r\nKelTerm demo modem 1.0\r\n\r\nOK\r\n"},
      {"ATH0\r", "ATH0\r\r\nOK\r\n"},
      {"ATO\r", "ATO\r\r\nNO CARRIER\r\n"},  // no call to return to
      {"ATA\r", "ATA\r\r\nNO CARRIER\r\n"},  // no call comes in
      {"ATE0\r", "ATE0\r\r\nOK\r\n"},
      {"AT\r", "\r\nOK\r\n"},
      {"ATV0\r", "0\r"},  // the answer already in digits
      {"AT\r", "0\r"},
      {"ATE2\r", "4\r"},
      {"ATZ\r", "\r\nOK\r\n"},  // back to echo and words
      {"AT\r", "AT\r\r\nOK\r\n"},
  };
  Terminal t(UniqueName());
  for (const auto& row : rows) {
    t.Send(row.send);
    EXPECT_EQ(t.Take(std::string(row.reply).size()), row.reply) << "after " << row.send;
  }
  EXPECT_TRUE(t.StaysQuiet(100ms));
  EXPECT_FALSE(t.comm.CarrierOn());
}

TEST(DemoModemTest, DialConnectsAfterADelayExceptTheDeadNumber) {
  Terminal t(UniqueName());
  EXPECT_TRUE(t.comm.LineReady()) << "CTS";
  EXPECT_TRUE(t.comm.DsrState());
  EXPECT_FALSE(t.comm.CarrierOn()) << "no carrier before a call";

  auto start = Clock::now();
  t.Send("ATD999-999-9999\r");
  EXPECT_EQ(t.Until("NO CARRIER\r\n", 8s), "ATD999-999-9999\r\r\nNO CARRIER\r\n");
  EXPECT_GE(Clock::now() - start, 2500ms);
  EXPECT_FALSE(t.comm.CarrierOn());

  start = Clock::now();
  t.Send("ATDP 03-1234-5678\r");
  EXPECT_EQ(t.Until("CONNECT 38400\r\n", 5s), "ATDP 03-1234-5678\r\r\nCONNECT 38400\r\n");
  EXPECT_GE(Clock::now() - start, 1200ms);
  EXPECT_TRUE(t.WaitCarrier(true));
  EXPECT_FALSE(t.Until(kMenuPrompt).empty()) << "the host answers";
}

// Plus signs count as the escape only with a second of silence before and
// after them; otherwise they are data and reach the host (here echoed).
TEST(DemoModemTest, EscapeNeedsSilenceAroundThePlusSigns) {
  Terminal t(UniqueName());
  ASSERT_TRUE(t.DialHost());
  t.Send("4");
  ASSERT_FALSE(t.Until(Sjis("終わります.\r\n")).empty()) << "echo mode";
  const std::pair<std::string, bool> rows[] = {{"x+++", false}, {"+++x", false}, {"+++", true}};
  for (const auto& [data, escapes] : rows) {
    ASSERT_TRUE(t.StaysQuiet(1100ms)) << "no escape before " << data;
    const auto sent = Clock::now();
    t.Send(data);
    EXPECT_EQ(t.Take(data.size()), data) << "passed on as data";
    if (escapes) {
      EXPECT_EQ(t.Until("OK\r\n", 3s), "\r\nOK\r\n");
      EXPECT_GE(Clock::now() - sent, 1s);
    }
  }
  EXPECT_TRUE(t.comm.CarrierOn()) << "the escape keeps the call";
  t.Send("ATO\r");
  EXPECT_EQ(t.Until("38400\r\n", 2s), "ATO\r\r\nCONNECT 38400\r\n");
  t.Send("back\r");
  EXPECT_EQ(t.Take(6), "back\r\n") << "online again, the host where it was";

  // The window's hang-up: "+++", a pause, "ATH" CR LF.
  ASSERT_TRUE(t.StaysQuiet(1100ms));
  t.Send("+++");
  EXPECT_EQ(t.Until("OK\r\n", 3s), "+++\r\nOK\r\n");
  t.Send("ATH\r\n");
  EXPECT_EQ(t.Until("OK\r\n"), "ATH\r\r\nOK\r\n");
  EXPECT_TRUE(t.WaitCarrier(false));
  t.Send("AT\r");
  EXPECT_EQ(t.Until("OK\r\n"), "AT\r\r\nOK\r\n");
}

// Lowering DTR ends a call and a dial in progress; the modem keeps its
// settings (here numeric results) and takes commands again.
TEST(DemoModemTest, DroppingDtrHangsUp) {
  const std::string name = UniqueName();
  Terminal t(name);
  VirtualLine::End& kelterm = VirtualLine::Find(name)->end(0);
  t.Send("ATV0D123\r");
  EXPECT_EQ(t.Until("1\r", 5s), "ATV0D123\r1\r");
  ASSERT_TRUE(t.WaitCarrier(true));
  ASSERT_FALSE(t.Until(kMenuPrompt).empty());
  kelterm.SetDtr(false);
  EXPECT_TRUE(t.WaitCarrier(false));
  kelterm.SetDtr(true);
  t.Send("AT\r");
  EXPECT_EQ(t.Until("0\r"), "AT\r0\r");

  t.Send("ATD456\r");
  EXPECT_EQ(t.Take(7), "ATD456\r");
  kelterm.SetDtr(false);
  EXPECT_TRUE(t.StaysQuiet(2s)) << "the dial was abandoned";
  EXPECT_FALSE(t.comm.CarrierOn());
}

}  // namespace
}  // namespace demotest
