// velk-run watching its worker from outside, as a service supervisor watches its children: the
// worker, a child process, loads and drives the plug-in and announces each step in the progress
// page; velk-run waits for it, passes on the signals sent to velk-run itself, tells how the
// worker ended from waitpid and the page, and ends as the worker did.
#pragma once

#include <functional>

#include "runner/progress.h"

namespace velk_run {

// Runs `work`, which never returns, in the worker. Returns the run's status, or ends velk-run by
// the signal that ended the worker, after one line saying so.
int Supervise(const std::function<void(Progress&)>& work);

}  // namespace velk_run
