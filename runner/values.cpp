#include "runner/values.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <tuple>

namespace velk_run {

std::optional<Record> RecordFromHex(std::string_view text) {
  Record record{};
  if (text.size() != 2 * record.size()) return std::nullopt;
  for (std::size_t i = 0; i < record.size(); ++i) {
    const char* digits = text.data() + 2 * i;
    if (std::from_chars(digits, digits + 2, record[i], 16).ptr != digits + 2) return std::nullopt;
  }
  return record;
}

float RecordValue(const Record& record) {
  float value = 0.0f;
  std::memcpy(&value, record.data() + 4, sizeof(value));
  return value;
}

// A day of the calendar, at a time the zone has: not one that the change to summer time skips
// (of an hour that repeats, mktime's choice), and not a leap second, which Boost's ptime, and
// so the plug-in's clock, takes for the second after it.
std::optional<std::time_t> LocalTime(const std::string& text, std::string& why) {
  const std::string form = "0000-00-00 00:00:00";
  bool valid = text.size() == form.size();
  for (std::size_t i = 0; valid && i < form.size(); ++i) {
    valid = form[i] == '0' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0
                           : text[i] == form[i];
  }
  std::tm asked{};
  valid = valid && std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &asked.tm_year, &asked.tm_mon,
                               &asked.tm_mday, &asked.tm_hour, &asked.tm_min, &asked.tm_sec) == 6;
  if (valid && asked.tm_sec == 60) {
    why = "is a leap second, which the plug-in's clock takes for the second after it";
    return std::nullopt;
  }
  asked.tm_year -= 1900;
  asked.tm_mon -= 1;
  asked.tm_isdst = -1;
  std::tm local = asked;
  const std::time_t moment = mktime(&local);
  // Any other (a 13th month, a 30th of February, a skipped hour) converts back to another time.
  const auto fields = [](const std::tm& t) {
    return std::tie(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  };
  std::tm back{};
  valid = valid && localtime_r(&moment, &back) != nullptr && fields(back) == fields(asked);
  if (!valid) {
    why = "is not a local time 'YYYY-MM-DD HH:MM:SS' of the time zone in effect";
    return std::nullopt;
  }
  return moment;
}

}  // namespace velk_run
