// One scenario's run, on both sides of velk-run's worker: the worker drives the device through
// the scenario's steps as velk-run's session drives any run, its log going to a file and its
// events to a channel, with a line on the channel after each step; velk-run reads the channel
// as it comes and hands each step, with its log, to the checker.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "runner/progress.h"
#include "runner/scenario.h"
#include "runner/scenario_check.h"

namespace velk_run {

// The worker's files, temporary ones that velk-run reads after: its standard output (the
// plug-in's log) and standard error (velk-run's failure lines, and what the plug-in writes
// there itself).
struct WorkerFiles {
  WorkerFiles();
  ~WorkerFiles();
  WorkerFiles(const WorkerFiles&) = delete;
  WorkerFiles& operator=(const WorkerFiles&) = delete;
  // velk-run's failure lines in the worker's standard error.
  std::vector<std::string> FailureLines() const;

  int log = -1;
  int errors = -1;
};

[[noreturn]] void RunScenario(const Scenario& scenario, const std::string& plugin, int channel,
                              const WorkerFiles& files, Progress& progress);

class StepReader {
 public:
  StepReader(Checker& checker, std::size_t steps, int log)
      : checker_(checker), steps_(steps), log_(log) {}
  void Take(std::string_view chunk);  // what came on the channel
  // The worker has ended; the step it was in did not end. How many steps it began.
  std::size_t Finish();

 private:
  void StepEnded(std::string_view line);
  std::vector<std::string> LogUpTo(off_t end);

  Checker& checker_;
  const std::size_t steps_;
  const int log_;
  std::string partial_;  // the start of a line still to come whole
  StepSeen step_;
  std::size_t number_ = 0;  // the step under way; 0: the configuration
  off_t log_from_ = 0;
};

}  // namespace velk_run
