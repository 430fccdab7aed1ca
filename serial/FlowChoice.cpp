#include "FlowChoice.h"

std::optional<TFlowChoice> FlowChoiceFromWord(std::string_view word) {
  if (word.empty() || word == "rtscts") return fcRtsCts;
  if (word == "none") return fcNone;
  if (word == "xonxoff") return fcXonXoff;
  return std::nullopt;
}

std::string_view FlowChoiceWord(TFlowChoice choice) {
  switch (choice) {
    case fcNone:
      return "none";
    case fcXonXoff:
      return "xonxoff";
    default:
      return "rtscts";
  }
}

TCommFlowControls FlowControlsOf(TFlowChoice choice) {
  switch (choice) {
    case fcNone:
      return {};
    case fcXonXoff:
      return {cfcXonXoff};
    default:
      return {cfcRtsCts};
  }
}
