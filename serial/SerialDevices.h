#pragma once
// The serial devices a user can choose from: adapters under their stable
// names first, then the kernel's names of USB adapters, modems and built-in
// ports. Plain functions, any thread; nothing is opened.

#include <string>
#include <vector>

// The paths present under root (normally "/dev"): serial/by-id/*, ttyUSB*,
// ttyACM* and ttyS*, in that order, each group sorted with its numbers in
// numeric order (ttyS2 before ttyS10). A folder that cannot be read adds
// nothing.
std::vector<std::string> ListSerialDevices(const std::string& root = "/dev");

// The device a port uses when its settings line is empty: /dev/ttyS0 for
// COM1 up to /dev/ttyS3 for COM4.
std::string DefaultSerialDevice(int port);
