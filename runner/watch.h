// Watches the plug-in while it is loaded: a fatal signal, or a call of exit() or quick_exit()
// that the plug-in makes, ends the run with one line on standard error that says what the run
// was doing. A signal then goes on to the handler it would have met without the watch, so the
// status still names it and a core can be dumped; an exit call ends the run with status 1.
// Process-wide, as signal dispositions are: one watch at a time, started and stopped by the
// thread that drives the plug-in. Only the process that started it reports.
#pragma once

#include <string_view>

namespace velk_run::watch {

// From before the plug-in is loaded, `loading` being the words for that, until Stop, or until
// the process ends when the plug-in stays loaded.
void Start(std::string_view loading);
void Stop();

// What the run is doing now, as a report ends it: "during the reading on line 3 of standard
// input; the 2 readings before it were processed", "between steps; ...". In a step the plug-in
// runs; between steps velk-run's own code does, and a signal there is not blamed on the
// plug-in. Worded before the step begins, since a signal handler can word nothing.
void Doing(bool in_step, std::string_view words);

// velk-run's exit() and quick_exit(), which the plug-in's calls bind to: a call while the
// plug-in is watched is reported and ends the run with status 1; any other goes on to `real`,
// the C library's.
[[noreturn]] void ExitCalled(const char* function, int status, void (*real)(int));

}  // namespace velk_run::watch
