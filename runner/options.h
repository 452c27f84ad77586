// The runner's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velk_run {

struct Options {
  bool help = false;
  std::optional<std::string> decode;  // --decode HEX: only decode a record
  std::optional<std::string> plugin;  // none: the plug-in built next to the runner
  std::uint32_t data_id = 0;
  std::optional<std::string> config;   // --config FILE
  std::optional<std::string> restore;  // --restore HEX
  std::vector<std::string> readings;   // none: read them from standard input
};

// Throws std::invalid_argument with a one-line message naming the offending argument.
Options ParseOptions(const std::vector<std::string>& arguments);

extern const char kUsage[];

}  // namespace velk_run
