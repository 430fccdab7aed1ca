#pragma once
// Checks and blocks computed here, independently of the engine's own code,
// so that a test compares the engine with the protocols and not with itself.

#include <cstdint>
#include <string>

uint16_t Crc16Of(const std::string& data);  // XMODEM's CRC (0x1021, from 0)
uint32_t Crc32Of(const std::string& data);  // the common CRC-32 (as zip's)
uint8_t SumOf(const std::string& data);
// An XMODEM block as it goes on the line: header, number, complement, data
// (1024 bytes make an STX block), check.
std::string Frame(int number, const std::string& data, bool crc);
// Eight CAN, then eight BS.
std::string CancelSequence();
