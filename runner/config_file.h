// Reads a device configuration file as the daemon hands it over: one JSON value.
#pragma once

#include <json/value.h>

#include <string>

namespace velk_run {

// Throws std::runtime_error with a one-line message that names the file, and for a file
// that is not JSON carries the parser's message and position.
Json::Value LoadConfig(const std::string& path);

}  // namespace velk_run
