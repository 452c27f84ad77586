// How velk-run's worker ended, told from outside: from its status as waitpid gives it and from
// its progress page. First what happened, as a value a test can check without a process; then
// the line that says it.
#pragma once

#include <string>

#include "runner/progress.h"

namespace velk_run {

struct Ending {
  enum class Kind {
    kFinished,  // the worker's own end: its status is the run's
    kExited,    // the process exited before its run was done, or with another status
    kCrashed,   // a signal of a fault of its own (or abort()) in a step
    kPassedOn,  // the signal that velk-run was sent and passed on
    kKilled,    // any other signal, or one between steps
    kHung,      // silent for longer than velk-run waits, and killed by velk-run
  };
  Kind kind = Kind::kFinished;
  int code = 0;  // the exit status, or the signal
  bool core_dumped = false;
  int silent_seconds = 0;  // kHung: how long velk-run waited for a word
  Progress::Seen page;

  bool BySignal() const {
    return kind == Kind::kCrashed || kind == Kind::kPassedOn || kind == Kind::kKilled;
  }
  // velk-run's status for it: the worker's own, 1, or 128 and the signal.
  int RunStatus() const;
};

// `sent` is the signal that ended the worker where velk-run passed it on (0: none);
// `silent_seconds`, how long the worker had been silent when velk-run killed it (0: it did not).
Ending Classify(int wait_status, const Progress::Seen& page, int sent, int silent_seconds);
// The failure line for it, without "velk-run: "; empty for a finished run.
std::string Worded(const Ending& ending);
std::string SignalName(int signal);

}  // namespace velk_run
