#pragma once
// The settings line of the ports' flow control: one word per port, COM1 to
// COM4, separated by commas ("", "none", "xonxoff"; empty is RTS/CTS). Files
// of other copies leave the line empty, which means RTS/CTS everywhere.

#include <string>
#include <string_view>

#include "FlowChoice.h"

constexpr size_t kFlowControlLine = 9;

// The choice for a port; a missing or unknown word gives RTS/CTS.
TFlowChoice PortFlowChoice(std::string_view line, int port);
// The line with the port's word replaced and the other words kept as they
// were; trailing empty words are left out, so RTS/CTS everywhere is "".
std::string WithPortFlowChoice(std::string_view line, int port, TFlowChoice choice);
