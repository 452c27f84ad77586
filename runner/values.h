// The values velk-run takes from people, on its command line and in scenario files: cached
// records as hex digits and local times. Each parser says what it found, or why it found none.
#pragma once

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace velk_run {

using Record = std::array<unsigned char, 15>;

// 30 hex digits, either case.
std::optional<Record> RecordFromHex(std::string_view text);
// The value field of a record (bytes 4 to 7, in machine order).
float RecordValue(const Record& record);

// The moment that a local time "YYYY-MM-DD HH:MM:SS" names under the TZ in effect; else why it
// names none, to follow the text: "is not a local time ...".
std::optional<std::time_t> LocalTime(const std::string& text, std::string& why);

}  // namespace velk_run
