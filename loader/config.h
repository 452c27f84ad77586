// A device's JSON configuration as the daemon hands it over, read from a file: bounded, so that
// /dev/zero is refused at once instead of filling memory, and exactly one JSON value.
#pragma once

#include <cstddef>
#include <string>

#include <json/value.h>

namespace velk {

// A configuration with thousands of signals is a few megabytes.
constexpr std::size_t kMaxConfigBytes = 16 * 1024 * 1024;

// The configuration in the file at `path` ("-": standard input): exactly one JSON value,
// nothing after it. Throws Failure naming the file when it cannot be read (missing, a
// directory), is over kMaxConfigBytes, does not fit in memory, or is not one JSON value (with
// the parser's message and position).
Json::Value ReadConfig(const std::string& path);
// The whole file at `path` ("-": standard input), refused past `limit` bytes before it is read
// whole; Failures call it `named`.
std::string ReadText(const std::string& path, std::size_t limit, const std::string& named);
// The same for a configuration in `text`, which `named` names in the Failure.
Json::Value ParseConfig(const std::string& text, const std::string& named);

}  // namespace velk
