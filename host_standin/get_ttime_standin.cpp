// The stand-in's get_ttime: the host's record time, read off a Boost local time.
#include "host/dran_records.h"
#include "host_standin/host_journal.h"

// Worked out on every call, with nothing kept between calls: devices on other threads stamp
// their rounds at the same time.
ttime get_ttime(boost::posix_time::ptime time) {
  ttime stamp{};
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
  standin::HostJournal& journal = standin::HostJournal::Instance();
  if (journal.Recording()) {
    standin::HostCall call("get_ttime");
    call.AddTime("time", stamp);
    journal.Record(call);
  }
  journal.Intercept("get_ttime");
  return stamp;
}
