// velk-run's command lines read with getopt_long (glibc's and musl's alike): "--name=value",
// "--name value", "--" and unambiguous abbreviations come with it; an argument that is a
// negative number is a reading, not an option. Every mistake is one Failure with status 2.
#pragma once

#include <getopt.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loader/failure.h"

namespace velk_run {

constexpr int kUsageError = 2;  // the command line; nothing was run
extern const char kUsage[];     // what --help prints

// velk-run's own output (--help, --version, --decode, velk-run test's results): lost, it fails
// the run.
void WriteOut(const char* what, std::string_view text);

velk::Failure UsageError(const std::string& message);

// Calls `take` with each option's value (`options`' val, and its argument or null) in the order
// given; returns the other arguments, those after "--" included, in order.
std::vector<std::string> ReadOptions(int argc, char** argv, const option* options,
                                     const std::function<void(int, const char*)>& take);

// The whole text, bar surrounding blanks, as a decimal integer (signed, no "0x") in [low, high].
std::optional<long long> ParseDecimal(std::string_view text, long long low, long long high);
// The whole text as a decimal number from `low` to `high`, or a mistake worded with `what`.
long long WholeNumber(const std::string& option, const std::string& text, long long low,
                      long long high, const char* what);
// A file named on the command line: any path but ''.
std::string FileArgument(const char* option, const char* path);
// A plug-in named without a slash is a file in the current directory, not a library for the
// loader to search for.
inline std::string NoSearch(const std::string& plugin) {
  return plugin.find('/') == std::string::npos ? "./" + plugin : plugin;
}
// A value given at most once.
template <typename Value>
void SetOnce(std::optional<Value>& option, const std::string& name, Value value) {
  if (option) throw UsageError(name + " is given twice");
  option = std::move(value);
}

}  // namespace velk_run
