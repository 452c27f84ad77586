// The clock the plug-in reads through time(), which velk-run defines: the plug-in's calls bind to
// it, velk-run being the first object the loader searches (exports.list). It is the machine's,
// or, fixed, one that stands at a given moment for the first round and moves on by a step
// before each later round.
#pragma once

#include <ctime>

namespace velk_run {

void FixClock(std::time_t first, std::time_t step);
// A round is about to run: a fixed clock moves on, but before the first.
void NextRound();

}  // namespace velk_run
