// The runner's text inputs: raw readings, data identifiers and records given as hex.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace velk_run {

// A decimal integer that fits in 16 bits, optionally signed, surrounding blanks allowed.
std::optional<short> ParseReading(const std::string& text);
std::optional<std::uint32_t> ParseDataId(const std::string& text);
// Exactly 30 hex digits, either case.
std::optional<std::array<unsigned char, 15> > ParseRecordHex(const std::string& text);

}  // namespace velk_run
