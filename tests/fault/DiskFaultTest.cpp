// A download whose target refuses the bytes: a full disk (/dev/full), a
// folder that does not exist, a "folder" that is a file, and, when the
// tests do not run as root (root writes anyway), a read-only folder. The
// transfer fails, the sender is told in the protocol's own way, and the
// port goes on working.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "FaultPair.h"

using namespace faulttest;

namespace {

enum class Target { FullDisk, MissingFolder, ParentIsFile, ReadOnlyFolder };

struct DiskCase {
  protType protocol;
  Target target;
};

std::string CaseName(const ::testing::TestParamInfo<DiskCase>& info) {
  const char* targets[] = {"FullDisk", "MissingFolder", "ParentIsFile", "ReadOnlyFolder"};
  return std::string(Label(info.param.protocol)) + "_" +
         targets[static_cast<int>(info.param.target)];
}

std::string TargetPath(Pair& pair, Target target) {
  switch (target) {
    case Target::FullDisk:
      return "/dev/full";
    case Target::MissingFolder:
      return pair.dir.File("no such folder/received.bin");
    case Target::ParentIsFile:
      WriteFile(pair.dir.File("plain"), "a file");
      return pair.dir.File("plain/received.bin");
    case Target::ReadOnlyFolder:
      mkdir(pair.dir.File("locked").c_str(), 0555);
      return pair.dir.File("locked/received.bin");
  }
  return {};
}

// What our receiver says when the file can't be made, and when it refuses
// to write any more: XMODEM and YMODEM cancel before inviting; ZMODEM and
// M-LINK fail before saying anything (the M-LINK receiver still closes its
// line with CR). Once data has come, each cancels in its own way.
struct Refusal {
  std::string unmade;
  std::string full;
};

Refusal RefusalOf(protType p) {
  const std::string cancel = CancelSequence();
  if (p <= pr_XMODEM_CRC_1024) return {cancel, cancel};
  if (p <= pr_YMODEM_G) return {" " + cancel, cancel};
  if (p == pr_ZMODEM) return {"", cancel};
  return {"\r", "A\r"};
}

class DiskFault : public ::testing::TestWithParam<DiskCase> {};

TEST_P(DiskFault, DownloadFailsWithTheAbortAndThePortWorks) {
  const DiskCase& c = GetParam();
  Pair pair(c.protocol, 0, 20 * 1024, 5);
  pair.target = TargetPath(pair, c.target);
  pair.Start(false);
  ASSERT_TRUE(pair.WaitIdle(pair.ours(), 10s));
  EXPECT_EQ(pair.ours().TranResult.load(), 0);
  const Refusal refusal = RefusalOf(c.protocol);
  if (c.target == Target::FullDisk && c.protocol != pr_MLINK) {
    // The sender heard the refusal: it ends by itself, as a failure. (The
    // M-LINK sender tries again after a pause instead.)
    ASSERT_TRUE(pair.WaitIdle(pair.peer(), 5s));
    EXPECT_EQ(pair.peer().TranResult.load(), 0);
  }
  pair.Settle();
  // The peer's watcher may still be handing the last bytes over.
  const auto heard = [&](const std::function<bool(const std::string&)>& done) {
    return WaitFor([&] { return done(pair.HeardByPeer()); }, 2s);
  };
  if (c.target == Target::FullDisk) {
    EXPECT_EQ(pair.ours().Status.TranSize.load(), 0) << "nothing was stored";
    EXPECT_TRUE(heard([&](const std::string& h) { return h.find(refusal.full) != h.npos; }))
        << pair.HeardByPeer();
  } else {
    EXPECT_FALSE(FileExists(pair.target));
    EXPECT_TRUE(heard([&](const std::string& h) { return h == refusal.unmade; }))
        << pair.HeardByPeer();
  }
  pair.target = pair.dir.File("received.bin");
  EXPECT_TRUE(pair.WorksAgain(false));
}

std::vector<DiskCase> AllCases() {
  std::vector<DiskCase> cases;
  for (protType p : kProtocols) {
    for (Target t : {Target::FullDisk, Target::MissingFolder, Target::ParentIsFile})
      cases.push_back({p, t});
    if (geteuid() != 0) cases.push_back({p, Target::ReadOnlyFolder});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Targets, DiskFault, ::testing::ValuesIn(AllCases()), CaseName);

}  // namespace
