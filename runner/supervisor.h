// velk-run watching its worker from outside, as a service supervisor watches its children: the
// worker, a child process, loads and drives the plug-in and says where it is in its progress
// page; velk-run waits for it, passes on the signals sent to velk-run itself, and tells how it
// ended from waitpid and that page.
#pragma once

#include <functional>
#include <string_view>

#include "runner/ending.h"
#include "runner/progress.h"

namespace velk_run {

// What velk-run reads from its worker besides its end: what the worker writes to a channel (a
// pipe, given to `work`), handed on as it comes; and how long the worker may be silent on it
// before velk-run kills it (0: as long as it likes).
struct Watch {
  std::function<void(std::string_view)> channel;  // empty: no channel
  int silence_seconds = 0;
};

// Runs `work`, which never returns, in the worker (given -1 for the channel where there is
// none), and tells how the worker ended. The worker does not outlive velk-run, and a stop of
// its own (SIGSTOP, as to wait for a debugger) is said in a line as it happens.
Ending Supervise(const std::function<void(Progress&, int channel)>& work, const Watch& watch = {});

// Ends velk-run by `signal`, as the worker ended, so that the shell tells the same. Where cores
// are dumped, the worker's is the one: velk-run dumps none of its own, as timeout(1) does.
[[noreturn]] void EndBy(int signal);

}  // namespace velk_run
