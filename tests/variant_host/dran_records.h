// Variant host headers (see dran_vdevice.h here): the records, laid out otherwise than in host/
// wherever the inner layout is the host's own choice.
#pragma once

#include <cstdint>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

// Seven packed bytes as the daemon's interface fixes them, the fields in the reverse order of
// host/'s.
#pragma pack(push, 1)
struct ttime {
  std::uint8_t second;
  std::uint8_t minute;
  std::uint8_t hour;
  std::uint8_t day;
  std::uint8_t month;
  std::uint16_t year;
};
#pragma pack(pop)
static_assert(sizeof(ttime) == 7, "ttime is 7 bytes");

// Four strings among other fields, in another order and with other types than host/'s, and
// larger. (The stand-in fills key, name, value and level; they keep their names.)
struct rule_value {
  int level = 0;
  double value = 0.0;
  std::string message;
  std::uint64_t sequence = 0;
  std::string name;
  std::string key;
  bool latched = false;
  std::string expression;
};

ttime get_ttime(boost::posix_time::ptime time);
