#include "runner/input_parsing.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "host_standin/record_format.h"

namespace velk_run {

namespace {

// The whole text, bar surrounding blanks, as a decimal integer within [low, high].
std::optional<long long> ParseInteger(const std::string& text, long long low, long long high) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::nullopt;
  const std::size_t last = text.find_last_not_of(" \t\r");
  const std::string digits = text.substr(first, last - first + 1);
  const char* start = digits.c_str();
  // strtoll would accept "0x10" and leading blanks after a sign; readings are plain decimals.
  const char* body = (*start == '-' || *start == '+') ? start + 1 : start;
  if (*body < '0' || *body > '9') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(start, &end, 10);
  // The end of the text, not the first NUL: "5\0garbage" is no reading.
  if (errno != 0 || end != start + digits.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<short> ParseReading(const std::string& text) {
  const auto value = ParseInteger(text, -32768, 32767);
  if (!value) return std::nullopt;
  return static_cast<short>(*value);
}

std::optional<std::uint32_t> ParseDataId(const std::string& text) {
  if (text.find('-') != std::string::npos) return std::nullopt;
  const auto value = ParseInteger(text, 0, 4294967295LL);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::optional<std::array<unsigned char, 15> > ParseRecordHex(const std::string& text) {
  if (text.size() != 30) return std::nullopt;
  const auto bytes = standin::FromHex(text);
  if (!bytes) return std::nullopt;
  std::array<unsigned char, 15> record{};
  std::copy(bytes->begin(), bytes->end(), record.begin());
  return record;
}

}  // namespace velk_run
