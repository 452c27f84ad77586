// What velk-run reads besides its lines of readings: the text form of a reading and the
// device's JSON configuration, from a file that is bounded, so /dev/zero is refused at once
// instead of filling memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <json/value.h>

namespace velk_run {

// A configuration with thousands of signals is a few megabytes.
constexpr std::size_t kMaxConfigBytes = 16 * 1024 * 1024;

// The whole text, bar surrounding blanks, as a plain decimal integer (optionally signed)
// within [low, high].
std::optional<long long> ParseDecimal(std::string_view text, long long low, long long high);
// A decimal integer that fits in 16 bits.
std::optional<short> ParseReading(std::string_view text);

// The configuration in the file at `path`: exactly one JSON value, nothing after it. Throws
// Failure naming the file when it cannot be read (missing, a directory), is over
// kMaxConfigBytes, does not fit in memory, or is not one JSON value (with the parser's message
// and position).
Json::Value ReadConfig(const std::string& path);

}  // namespace velk_run
