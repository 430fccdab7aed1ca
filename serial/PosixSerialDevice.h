#pragma once
// A termios device: a serial port (/dev/ttyS*, /dev/ttyUSB*, ...) or a
// pseudo-terminal standing in for one.

#include <memory>
#include <string>

#include "SerialDevice.h"

// Opens path non-blocking and exclusive, raw, CLOCAL and CREAD. Null, with
// errno set, when it can't be opened or is in use.
std::shared_ptr<SerialDevice> OpenPosixDevice(const std::string& path);
