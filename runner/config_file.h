// Reads a device configuration file as the daemon hands it over: one JSON value, at most
// kMaxConfigBytes long.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <string>

namespace velk_run {

// A configuration with thousands of signals is a few megabytes; past this a file is refused
// before it is read whole, so /dev/zero cannot fill memory.
constexpr std::size_t kMaxConfigBytes = 16 * 1024 * 1024;

// Throws std::runtime_error with a one-line message that names the file: one that cannot be
// opened or read (a directory) with the system's reason, one past the limit, and one that is
// not a single JSON value (trailing text included) with the parser's message and position.
Json::Value LoadConfig(const std::string& path);

}  // namespace velk_run
