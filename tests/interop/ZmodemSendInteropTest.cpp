// Our ZMODEM sender against lrzsz's rz: a plain transfer, a resumed one, a
// file rz skips, rz asking for every control byte escaped, and rz damaging
// subpackets on purpose. The payload holds every byte value
// and the "@" CR pairs that the escaping must protect.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ostream>
#include <string>

#include "Peers.h"

namespace {

std::string Payload(size_t randomBytes) {
  std::string data;
  for (int b = 0; b < 256; ++b) data += static_cast<char>(b);
  for (int i = 0; i < 64; ++i) data += i % 2 ? "\xC0\r" : "@\r";
  return data + RandomBytes(randomBytes, 31);
}

struct SendCase {
  const char* label;
  const char* command;  // rz, run in the test's folder
  size_t size;          // random bytes after the fixed part
  bool halfPresent;     // recv.bin holds the first half of the file already
  bool blocked;         // a folder named recv.bin is in the way: rz skips
};

std::ostream& operator<<(std::ostream& os, const SendCase& c) { return os << c.label; }

class ZmodemSendInterop : public ::testing::TestWithParam<SendCase> {};

// The sender announces "Recv.BIN"; rz writes the lower-cased name it gets.
// lrzsz's rz never skips a file merely because it exists (the sender offers
// to resume), so the skip is provoked by a name rz cannot write.
TEST_P(ZmodemSendInterop, RzEndsWithTheWholeFile) {
  const SendCase& c = GetParam();
  ASSERT_TRUE(ProgramsInstalled({"socat", "rz"}));
  TempDir dir;
  const std::string data = Payload(c.size);
  ASSERT_TRUE(WriteFile(dir / "data.bin", data));
  if (c.halfPresent) {
    ASSERT_TRUE(WriteFile(dir / "recv.bin", data.substr(0, data.size() / 2)));
  }
  if (c.blocked) {
    ASSERT_EQ(mkdir((dir / "recv.bin").c_str(), 0755), 0);
  }
  LrzszPeer peer(dir, c.command);
  ASSERT_TRUE(peer.Ready());
  auto comm = OpenOurSide(peer.device(), pr_ZMODEM);
  comm->StartUpload(dir / "data.bin", "Recv.BIN");
  ASSERT_TRUE(WaitTransferEnd(*comm, 60000)) << peer.Log();
  // rz asks for "OO" three times, 10 s apart: with injected errors it may
  // miss ours and leave only after its last try.
  ASSERT_TRUE(peer.WaitExit(40000)) << peer.Log();
  EXPECT_EQ(comm->TranResult.load(), 1) << peer.Log();
  const int32_t sent = comm->Status.TranSize.load();
  if (c.blocked) {
    EXPECT_EQ(peer.Log().find("Bytes received"), std::string::npos) << peer.Log();
    struct stat st {};
    EXPECT_TRUE(stat((dir / "recv.bin").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    EXPECT_EQ(sent, 0);
    return;
  }
  EXPECT_EQ(peer.ExitCode(), 0) << peer.Log();
  EXPECT_TRUE(ReadFile(dir / "recv.bin") == data) << peer.Log();
  const auto whole = static_cast<int32_t>((data.size() + 1023) / 1024 * 1024);
  if (std::string(c.command).find("--errors") != std::string::npos) {
    EXPECT_GT(sent, whole) << "damaged subpackets went again";
    return;
  }
  if (c.halfPresent)
    EXPECT_LE(sent, whole / 2 + 1024) << "only the missing half went";
  else
    EXPECT_EQ(sent, whole);
  EXPECT_EQ(peer.Log().find("Bad CRC"), std::string::npos) << peer.Log();
}

INSTANTIATE_TEST_SUITE_P(
    Lrzsz, ZmodemSendInterop,
    ::testing::Values(SendCase{"Plain", "rz -vv", 200000, false, false},
                      SendCase{"Small", "rz", 10, false, false},
                      SendCase{"ResumeHalf", "rz --resume", 100000, true, false},
                      SendCase{"SkipExisting", "rz -vv", 20000, false, true},
                      SendCase{"EscapeControls", "rz -e -vv", 100000, false, false},
                      SendCase{"InjectedErrors", "rz --errors 5000", 60000, false, false}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
