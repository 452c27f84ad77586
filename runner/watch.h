// Watches the plug-in while it is loaded: a fatal signal, or a call of exit() or quick_exit()
// that it makes, ends the run with one line on standard error saying what the run was doing. A
// signal then meets the default action it would have met without the watch, so the status
// names it and a core can be dumped; an exit call ends the run with status 1. Process-wide, as
// signal dispositions are: one watch at a time, driven by the thread that drives the plug-in.
#pragma once

#include <string_view>

namespace velk_run::watch {

// From before the plug-in is loaded (`loading`, as Doing words it) until Stop, or until the
// process ends while the plug-in stays loaded.
void Start(std::string_view loading);
void Stop();

// What the run does now, as a report ends: "during the reading on line 3 of standard input;
// the 2 readings before it were processed". In a step the plug-in runs; between steps
// velk-run's code does, and a signal there is not blamed on the plug-in. Worded before the
// step, since a signal handler can word nothing.
void Doing(bool in_step, std::string_view words);

// Reports a call of `function` made while the plug-in is watched and ends the run; any other
// call, one in a process the plug-in forked among them, goes on to `real`.
[[noreturn]] void ExitCalled(const char* function, int status, void (*real)(int));

}  // namespace velk_run::watch
