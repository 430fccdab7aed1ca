#pragma once
// The KelTerm end of a demo line for the tests: our component on
// "virtual:NAME", with what reaches the window collected so that a test can
// wait for it with a deadline, byte for byte.

#include <iconv.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>

#include "DemoLine.h"
#include "KelComm.h"
#include "VirtualLine.h"

namespace demotest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A fresh line name for every call, so tests never meet on one line.
inline std::string UniqueName() {
  static std::atomic<int> counter{0};
  return "demo-test-" + std::to_string(++counter);
}

// UTF-8 to CP932, apart from the demo's own conversion.
inline std::string Sjis(std::string_view utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() * 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* dst = out.data();
  size_t inLeft = utf8.size(), outLeft = out.size();
  iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

inline const std::string kMenuPrompt = Sjis("番号を選んでください> ");
inline const std::string kProtocolPrompt = Sjis("プロトコル> ");

// The collected bytes come first: they outlive the component's watcher.
class Terminal {
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string received_;
  size_t mark_ = 0;

 public:
  explicit Terminal(const std::string& lineName) : line(lineName, 0) {
    comm.SetDevicePath("virtual:" + lineName);
    comm.OnCommReceive = [this](TComm* sender, uint16_t size) {
      std::string bytes(size, '\0');
      bytes.resize(static_cast<size_t>(sender->Read(bytes.data(), size)));
      std::lock_guard lock(mutex_);
      received_ += bytes;
      changed_.notify_all();
    };
    comm.OnCommEvent = [this](TComm*, TCommEventMask) {
      std::lock_guard lock(mutex_);  // the carrier is read under it
      changed_.notify_all();
    };
    comm.SetEventMask({evRlsd});
    comm.Open();
  }

  void Send(std::string_view bytes) { comm.WriteString(bytes); }
  // The next n bytes after what earlier calls took; fewer when they did not
  // come within the timeout.
  std::string Take(size_t n, Clock::duration timeout = 5s) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return received_.size() - mark_ >= n; });
    std::string got = received_.substr(mark_, n);
    mark_ += got.size();
    return got;
  }
  // Everything up to and including text; empty when it did not come.
  std::string Until(std::string_view text, Clock::duration timeout = 5s) {
    std::unique_lock lock(mutex_);
    size_t at = std::string::npos;
    changed_.wait_for(lock, timeout,
                      [&] { return (at = received_.find(text, mark_)) != std::string::npos; });
    if (at == std::string::npos) return std::string();
    std::string got = received_.substr(mark_, at + text.size() - mark_);
    mark_ = at + text.size();
    return got;
  }
  // True when nothing arrives for the whole span.
  bool StaysQuiet(Clock::duration span) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, span, [&] { return received_.size() > mark_; });
  }
  bool WaitCarrier(bool on, Clock::duration timeout = 5s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return comm.CarrierOn() == on; });
  }
  // Dials and waits for the host's menu prompt.
  bool DialHost() {
    Send("ATZ\rATDT03-1234-5678\r");
    return !Until(kMenuPrompt, 10s).empty() && comm.CarrierOn();
  }

  DemoLine line;  // first: the component below opens it
  TKELCOMM comm;
};

}  // namespace demotest
