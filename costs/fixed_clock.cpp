// Preloaded into every program the instruction counter runs: the clock stands still at one
// second, so that a count does not depend on when it was taken. The local-time conversion takes
// more or fewer instructions on other dates, and a run that crosses a second writes its time
// text once more.
#include <ctime>

extern "C" std::time_t time(std::time_t* result) noexcept {
  const std::time_t kFixed = 1796774400;  // 2026-12-08 00:00:00 UTC
  if (result != nullptr) *result = kFixed;
  return kFixed;
}
