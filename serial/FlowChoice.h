#pragma once
// The three flow controls a user picks between, and the words that name them
// in the settings file and on the command line: "rtscts" (also the empty
// word, which files of older copies hold), "none" and "xonxoff".

#include <optional>
#include <string_view>

#include "Comm.h"

// In the order of the modem pane's list.
enum TFlowChoice : int { fcRtsCts, fcNone, fcXonXoff };

// The choice a word names; nothing for any other word.
std::optional<TFlowChoice> FlowChoiceFromWord(std::string_view word);
// The word of a choice, as the command line takes it.
std::string_view FlowChoiceWord(TFlowChoice choice);
TCommFlowControls FlowControlsOf(TFlowChoice choice);
