// The stand-in's get_ttime: the host's record time, read off a Boost local time.
#include "host/dran_records.h"
#include "host_standin/host_journal.h"

ttime get_ttime(boost::posix_time::ptime time) {
  // A round stamps with the second it runs in: the calendar is worked out once per second.
  static boost::posix_time::ptime last_time;
  static ttime stamp{};
  if (time.is_special() || last_time.is_special() || time != last_time) {
    last_time = time;
    stamp = ttime{};
    if (!time.is_special()) {
      const auto date = time.date();
      const auto clock = time.time_of_day();
      stamp.year = static_cast<std::uint16_t>(date.year());
      stamp.month = static_cast<std::uint8_t>(date.month());
      stamp.day = static_cast<std::uint8_t>(date.day());
      stamp.hour = static_cast<std::uint8_t>(clock.hours());
      stamp.minute = static_cast<std::uint8_t>(clock.minutes());
      stamp.second = static_cast<std::uint8_t>(clock.seconds());
    }
  }
  standin::HostJournal& journal = standin::HostJournal::Instance();
  if (journal.Recording()) {
    standin::HostCall call("get_ttime");
    call.AddTime("time", stamp);
    journal.Record(call);
  }
  journal.Intercept("get_ttime");
  return stamp;
}
