#pragma once
// The far end of a line as a script: pairs of what the peer writes and what
// it must then read back, whole. A pair of empty strings is a pause in which
// our side must stay quiet.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Stations.h"

using PeerScript = std::vector<std::string>;

inline PeerScript operator+(PeerScript a, const PeerScript& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Control bytes as <hex>, for failure messages.
inline std::string Shown(const std::string& bytes) {
  std::string out;
  char hex[8];
  for (unsigned char c : bytes.substr(0, 96)) {
    std::snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7F ? "%c" : "<%02x>", c);
    out += hex;
  }
  return out;
}

// Stops at the first pair that goes wrong.
inline bool Play(ScriptedLine& peer, const PeerScript& script) {
  for (size_t i = 0; i + 1 < script.size(); i += 2) {
    const std::string &write = script[i], &expect = script[i + 1];
    if (write.empty() && expect.empty()) {
      EXPECT_EQ(peer.Read(1, 200ms), "") << "step " << i / 2 << " waits for the peer";
    }
    peer.Write(write);
    const std::string got = peer.Read(expect.size());
    if (got != expect) {
      ADD_FAILURE() << "step " << i / 2 << ": " << Shown(got) << "\ninstead of " << Shown(expect);
      return false;
    }
  }
  return true;
}

// Starts our side; bytes reach the transfer once its worker has taken the
// receive handler over (it sets TranResult then).
inline void Start(TKELCOMM& comm, const std::string& path, bool upload) {
  if (upload)
    comm.StartUpload(path);
  else
    comm.StartDownload(path);
  ASSERT_TRUE(WaitFor([&] { return comm.TranResult.load() == 1; }, 10s));
}
