#include "FlowLine.h"

#include <vector>

namespace {

std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  for (size_t start = 0;;) {
    const size_t comma = line.find(',', start);
    words.emplace_back(line.substr(start, comma - start));
    if (comma == std::string_view::npos) return words;
    start = comma + 1;
  }
}

}  // namespace

TFlowChoice PortFlowChoice(std::string_view line, int port) {
  const std::vector<std::string> words = SplitWords(line);
  if (port < 1 || static_cast<size_t>(port) > words.size()) return fcRtsCts;
  return FlowChoiceFromWord(words[static_cast<size_t>(port - 1)]).value_or(fcRtsCts);
}

std::string WithPortFlowChoice(std::string_view line, int port, TFlowChoice choice) {
  if (port < 1) return std::string(line);
  std::vector<std::string> words = SplitWords(line);
  if (words.size() < static_cast<size_t>(port)) words.resize(static_cast<size_t>(port));
  words[static_cast<size_t>(port - 1)] =
      choice == fcRtsCts ? std::string() : std::string(FlowChoiceWord(choice));
  while (!words.empty() && words.back().empty()) words.pop_back();
  std::string joined;
  for (size_t i = 0; i < words.size(); ++i) joined += (i ? "," : "") + words[i];
  return joined;
}
