// Checking a scenario's run against the scenario: each step's value, flags, log lines and events
// as the worker tells them, the host's scripted answers used up, and how the run ended. Every
// difference is one line that names the step, the event and the member, with both values.
// With --update, what was seen is written into the scenario's expectations instead.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "runner/scenario.h"

namespace velk_run {

// What one step showed: its log lines and event lines and, where it ended, the worker's line on
// it ({"step": N, "value": ..., "changed": ..., "need_report": ...}; null where it did not).
struct StepSeen {
  std::vector<std::string> log;
  std::vector<std::string> events;
  rapidjson::Document ended;
};

class Checker {
 public:
  Checker(Scenario& scenario, bool update) : scenario_(scenario), update_(update) {}
  // Step `number` (0: the configuration) showed `seen`.
  void Step(std::size_t number, const StepSeen& seen);
  // The run ended after `begun` steps (the configuration not counted), with `status` and
  // velk-run's failure lines.
  void End(std::size_t begun, int status, const std::vector<std::string>& failures);

  // With --update, only those it cannot mend: answers, steps not reached.
  const std::vector<std::string>& Differences() const { return differences_; }

 private:
  void Differ(std::string line);
  void CountAnswers(const std::string& step, const std::vector<rapidjson::Document>& events);
  void Compare(const std::string& step, const rapidjson::Value& expect, const StepSeen& seen,
               const std::vector<rapidjson::Document>& events);
  bool Matches(const rapidjson::Value& expected, const rapidjson::Value& seen) const;
  // An expected event matches a seen one on the members it names.
  bool SameEvent(const rapidjson::Value& expected, const rapidjson::Value& seen) const;
  // --update (scenario_update.cpp): what a step showed, written into its expectations (those it
  // names; all, where it names none); and how the run ended.
  void Update(std::size_t number, const StepSeen& seen,
              const std::vector<rapidjson::Document>& events);
  void UpdateEnd(int status, const std::vector<std::string>& failures);

  Scenario& scenario_;
  const bool update_;
  std::map<std::string, std::size_t> calls_;  // calls so far of those answered from a list
  std::vector<std::string> differences_;
};

// Which expected item goes with which seen one: the longest run of matches in order (`same`),
// as diff finds it; between two matches, each item left pairs off with the next left that is the
// same item seen otherwise (`akin`: an event of the same call), and the rest stand alone, a
// missing or an extra one. Each pair is (expected, seen), with kNone for the side without one.
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
using Matcher = std::function<bool(std::size_t, std::size_t)>;
std::vector<std::pair<std::size_t, std::size_t>> Align(std::size_t expected, std::size_t seen,
                                                       const Matcher& same, const Matcher& akin);

// Whether an expected event is of the call of a seen one (or names none).
bool SameCall(const rapidjson::Value& expected, const rapidjson::Value& seen);

// The scenario's text as --update writes it: two blanks an indent and a member a line, but on one
// line a list of plain values and an object whose members all go on one line, where it fits in
// 80 columns or is in a list (an event, a step).
std::string Laid(const rapidjson::Value& value);

}  // namespace velk_run
