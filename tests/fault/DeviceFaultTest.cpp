// Devices that misbehave under the component: one already open elsewhere,
// and one whose other side goes away (a pty whose master closes, a virtual
// line whose far end is closed and whose name is removed), idle or in the
// middle of a transfer. The component reports the loss, nothing hangs, and
// closing works.

#include <gtest/gtest.h>

#include <memory>

#include "CommCollector.h"
#include "PtyPair.h"
#include "Reference.h"
#include "Stations.h"


namespace {

using Clock = std::chrono::steady_clock;

// Where the component's device comes from, and how its other side leaves.
struct Device {
  virtual ~Device() = default;
  virtual std::string Path() = 0;
  virtual void SendFromOtherSide(const std::string& bytes) = 0;
  virtual std::string ReadAtOtherSide(size_t n) = 0;
  virtual void Disappear() = 0;
};

struct PtyDevice : Device {
  std::string Path() override { return pty.slavePath(); }
  void SendFromOtherSide(const std::string& bytes) override { pty.WriteAll(bytes); }
  std::string ReadAtOtherSide(size_t n) override { return pty.Read(n); }
  void Disappear() override { pty.CloseMaster(); }
  PtyPair pty;
};

// The far end is a component of its own; it closes, then the line's name
// goes.
struct VirtualDevice : Device {
  VirtualDevice() : name(UniqueLineName("gone")), line(VirtualLine::Create(name)) {
    far = std::make_unique<Station>("virtual:" + name + "/1", pr_XMODEM_CRC_128);
  }
  ~VirtualDevice() override { VirtualLine::Remove(name); }
  std::string Path() override { return "virtual:" + name; }
  void SendFromOtherSide(const std::string& bytes) override { far->comm.WriteString(bytes); }
  std::string ReadAtOtherSide(size_t n) override { return far->window.WaitBytes(n, 2s); }
  void Disappear() override {
    far->comm.Close();
    VirtualLine::Remove(name);
  }
  std::string name;
  std::shared_ptr<VirtualLine> line;
  std::unique_ptr<Station> far;
};

std::unique_ptr<Device> MakeDevice(bool pty) {
  if (pty) return std::make_unique<PtyDevice>();
  return std::make_unique<VirtualDevice>();
}

class DeviceFault : public ::testing::TestWithParam<bool> {};

TEST_P(DeviceFault, SecondOpenFailsAndTheFirstKeepsWorking) {
  auto device = MakeDevice(GetParam());
  TKELCOMM first, second;
  CommCollector window(first);
  first.SetDevicePath(device->Path());
  second.SetDevicePath(device->Path());
  first.Open();
  try {
    second.Open();
    FAIL() << "a second open succeeded";
  } catch (const ECommOpenError& e) {
    EXPECT_EQ(e.ErrorCode, -1);
    EXPECT_STREQ(e.what(), "オープンエラー ErrorCode = -1");
  }
  EXPECT_FALSE(second.IsOpen());
  device->SendFromOtherSide("from the host");
  EXPECT_EQ(window.WaitBytes(13, 2s), "from the host");
  first.WriteString("to the host");
  EXPECT_EQ(device->ReadAtOtherSide(11), "to the host");
  first.Close();
}

TEST_P(DeviceFault, DeviceThatGoesIsReportedAndClosesPromptly) {
  for (bool transferring : {false, true}) {
    SCOPED_TRACE(transferring ? "during a download" : "idle");
    auto device = MakeDevice(GetParam());
    TempDir dir;
    TKELCOMM comm;
    CommCollector window(comm);
    comm.SetDevicePath(device->Path());
    comm.Protocol = pr_XMODEM_CRC_128;
    comm.SetEventMask({evCts, evRlsd});
    comm.Open();
    ASSERT_TRUE(comm.CarrierOn());
    if (transferring) {
      comm.StartDownload(dir.File("in.bin"));
      ASSERT_EQ(device->ReadAtOtherSide(1), "C") << "the receiver invites";
    }
    device->Disappear();
    const auto gone = Clock::now();
    EXPECT_TRUE(WaitFor(
        [&] {
          for (TCommEventMask events : window.Events())
            if (events.contains(evRlsd)) return true;
          return false;
        },
        1s))
        << "the carrier's loss is an event";
    EXPECT_FALSE(comm.CarrierOn());
    EXPECT_TRUE(WaitFor([&] { return comm.TranMode.load() == 0; }, 1s));
    EXPECT_LT(Clock::now() - gone, 1100ms);
    if (transferring) {
      EXPECT_EQ(comm.TranResult.load(), 0);
    }
    const auto closing = Clock::now();
    comm.Close();
    EXPECT_LT(Clock::now() - closing, 1s);
    EXPECT_FALSE(comm.IsOpen());
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeviceFault, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Pty" : "VirtualLine"; });

}  // namespace
