// Host records shared with the daemon: the time record that get_ttime fills and the
// queued threshold-rule evaluation. Owned by the host; the plug-in only copies or counts them.
#pragma once

#include <cstdint>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#pragma pack(push, 1)
// Local time as the host stores it in records: year (little-endian on the target),
// month 1-12, day 1-31, hour, minute, second.
struct ttime {
  std::uint16_t year;
  std::uint8_t month;
  std::uint8_t day;
  std::uint8_t hour;
  std::uint8_t minute;
  std::uint8_t second;
};
#pragma pack(pop)
static_assert(sizeof(ttime) == 7, "ttime is copied verbatim into 7 record bytes");

// One threshold rule waiting for the batch evaluation of a round. The host appends
// them (CheckThreshold) and evaluates them (DoBatchCheckThreshold).
struct rule_value {
  std::string key;
  std::string name;
  std::string expression;
  std::string message;
  float value = 0.0f;
  int level = 0;
};

// Renders a local time as the host's record time. Defined by the host.
ttime get_ttime(boost::posix_time::ptime time);
