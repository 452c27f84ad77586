// Text forms of the host's records for people and tests: records as lower-case hex and the
// record time as "YYYY-MM-DD HH:MM:SS".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host/dran_records.h"

namespace standin {

std::string ToHex(const unsigned char* bytes, std::size_t length);
void AppendHex(const unsigned char* bytes, std::size_t length, std::string& text);
// Empty when the text is not an even number of hex digits.
std::optional<std::vector<unsigned char>> FromHex(const std::string& text);

std::string FormatTime(const ttime& time);

}  // namespace standin
