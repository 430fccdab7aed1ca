#include "KelComm.h"

#include <chrono>

const std::array<const char*, kProtocolCount> ProtocolNames = {
    "XMODEM [SUM] 128byte",
    "XMODEM [CRC] 128byte",
    "XMODEM [CRC] 1024byte",
    "YMODEM",
    "YMODEM-G",
    "ZMODEM",
    "M-LINK",
};

uint32_t GetTickCount() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

TKELCOMM::TKELCOMM() = default;

// The watcher calls into this object: it must have left before the members
// below are destroyed.
TKELCOMM::~TKELCOMM() { Close(); }

uint32_t TKELCOMM::ModemBits() const {
  auto dev = Device();
  return dev ? dev->ModemStatus() : 0;
}

bool TKELCOMM::CarrierOn() const {
  if (!IsOpen()) return false;
  return (ModemBits() & MS_RLSD_ON) != 0;
}

bool TKELCOMM::LineReady() const {
  if (!IsOpen()) return false;
  return (ModemBits() & MS_CTS_ON) != 0;
}
