#include "runner/clock.h"

#include <time.h>

#include <optional>
#include <utility>

namespace velk_run {

namespace {

std::optional<std::time_t> fixed_clock;  // none: the machine's
std::time_t clock_step = 0;
bool first_round = true;

}  // namespace

void FixClock(std::time_t first, std::time_t step) {
  fixed_clock = first;
  clock_step = step;
  first_round = true;
}

void NextRound() {
  if (fixed_clock && !std::exchange(first_round, false)) *fixed_clock += clock_step;
}

}  // namespace velk_run

// The plug-in reads the time through the C library's time(), as Boost's second_clock does.
extern "C" std::time_t time(std::time_t* result) noexcept {
  timespec real{};
  if (!velk_run::fixed_clock) clock_gettime(CLOCK_REALTIME, &real);
  const std::time_t moment = velk_run::fixed_clock.value_or(real.tv_sec);
  if (result != nullptr) *result = moment;
  return moment;
}
