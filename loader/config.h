// A device's JSON configuration as the daemon hands it over, read from a file: bounded, so that
// /dev/zero is refused at once instead of filling memory, and exactly one JSON value.
#pragma once

#include <cstddef>
#include <string>

#include <json/value.h>

namespace velk {

// A configuration with thousands of signals is a few megabytes.
constexpr std::size_t kMaxConfigBytes = 16 * 1024 * 1024;

// The configuration in the file at `path`: exactly one JSON value, nothing after it. Throws
// Failure naming the file when it cannot be read (missing, a directory), is over
// kMaxConfigBytes, does not fit in memory, or is not one JSON value (with the parser's message
// and position).
Json::Value ReadConfig(const std::string& path);

}  // namespace velk
