#include "runner/scenario_command.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "loader/failure.h"
#include "runner/junit_report.h"
#include "runner/options.h"
#include "runner/scenario.h"
#include "runner/scenario_check.h"
#include "runner/scenario_run.h"
#include "runner/supervisor.h"

namespace velk_run {

namespace {

enum OptionValue { kUpdate = 256, kJUnit, kPlugin, kTimeout };
const option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                           {"update", no_argument, nullptr, kUpdate},
                           {"junit", required_argument, nullptr, kJUnit},
                           {"plugin", required_argument, nullptr, kPlugin},
                           {"timeout", required_argument, nullptr, kTimeout},
                           {nullptr, 0, nullptr, 0}};

struct TestCommand {
  bool help = false;
  bool update = false;
  std::optional<std::string> junit;
  std::optional<std::string> plugin;
  std::optional<long long> timeout;
  std::vector<std::string> scenarios;
};

// A scenario is run on the same machine as a plain run, and usually ends in milliseconds; under
// an emulator a step may take seconds.
constexpr long long kDefaultTimeout = 30;

TestCommand ParseTestCommand(int argc, char** argv) {
  TestCommand command;
  const auto take = [&](int value, const char* text) {
    switch (value) {
      case kUpdate:
        command.update = true;
        break;
      case kJUnit:
        SetOnce(command.junit, "--junit", FileArgument("--junit", text));
        break;
      case kPlugin:
        SetOnce(command.plugin, "--plugin", NoSearch(FileArgument("--plugin", text)));
        break;
      case kTimeout:
        SetOnce(command.timeout, "--timeout",
                WholeNumber("--timeout", text, 1, 86400, "a whole number of seconds"));
        break;
      case 'h':
        command.help = true;
        break;
    }
  };
  command.scenarios = ReadOptions(argc, argv, kOptions, take);
  if (command.scenarios.empty() && !command.help) {
    throw UsageError("velk-run test needs a scenario file");
  }
  return command;
}

// Writes the scenario's text, if it changed, in place of the file; whether it changed.
bool WriteBack(const Scenario& scenario) {
  const std::string text = Laid(scenario.document);
  if (text == scenario.text) return false;
  const std::string temporary = scenario.path + ".velk-run-update";
  std::FILE* file = std::fopen(temporary.c_str(), "wbe");
  const bool written =
      file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file == nullptr || std::fclose(file) != 0 || !written ||
      std::rename(temporary.c_str(), scenario.path.c_str()) != 0) {
    const int error = errno;
    std::remove(temporary.c_str());
    throw velk::Failure{"cannot write scenario " + velk::Quoted(scenario.path) + ": " +
                        std::strerror(error)};
  }
  return true;
}

// What came of one scenario besides its differences.
struct Outcome {
  bool updated = false;  // --update wrote it
  int passed_on = 0;     // the signal sent to velk-run that ended its worker
};

// One scenario, run and checked.
TestCase RunOne(const TestCommand& command, const std::string& path,
                const std::function<std::string()>& default_plugin, Outcome& outcome) {
  TestCase result;
  result.name = velk::Escaped(path);
  const auto start = std::chrono::steady_clock::now();
  try {
    Scenario scenario = ReadScenario(path);
    const std::string plugin = command.plugin    ? *command.plugin
                               : scenario.plugin ? *scenario.plugin
                                                 : default_plugin();
    const WorkerFiles files;
    Checker checker(scenario, command.update);
    StepReader reader(checker, scenario.steps, files.log);
    Watch watch{[&](std::string_view chunk) { reader.Take(chunk); },
                static_cast<int>(command.timeout.value_or(kDefaultTimeout))};
    const Ending ending =
        Supervise([&](Progress& progress,
                      int channel) { RunScenario(scenario, plugin, channel, files, progress); },
                  watch);
    const std::size_t begun = reader.Finish();
    std::vector<std::string> failures = files.FailureLines();
    if (ending.kind != Ending::Kind::kFinished) failures.push_back("velk-run: " + Worded(ending));
    checker.End(begun, ending.RunStatus(), failures);
    result.differences = checker.Differences();
    outcome.updated = command.update && WriteBack(scenario);
    if (ending.kind == Ending::Kind::kPassedOn) outcome.passed_on = ending.code;
  } catch (const velk::Failure& failure) {
    result.differences.push_back(failure.message);
  }
  result.passed = result.differences.empty();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace

int TestScenarios(int argc, char** argv, const std::function<std::string()>& default_plugin) {
  const TestCommand command = ParseTestCommand(argc, argv);
  if (command.help) {
    WriteOut("the usage", kUsage);
    return 0;
  }
  std::vector<TestCase> cases;
  std::size_t updated_files = 0;
  std::size_t updated_passed = 0;  // updated, and nothing else to say
  for (const std::string& path : command.scenarios) {
    Outcome outcome;
    cases.push_back(RunOne(command, path, default_plugin, outcome));
    const bool updated = outcome.updated;
    updated_files += updated;
    updated_passed += updated && cases.back().passed;
    const TestCase& done = cases.back();
    std::string said = (!done.passed ? "FAIL " : updated ? "UPDATED " : "PASS ") + done.name + "\n";
    for (const std::string& line : done.differences) said += "  " + line + "\n";
    if (updated && !done.passed) said += "  its expectations were written as seen all the same\n";
    WriteOut("the results", said);
    // Ctrl-C or a watchdog's signal, passed on: the whole run is to end, as a plain run does.
    if (outcome.passed_on != 0) EndBy(outcome.passed_on);
  }
  const std::size_t passed =
      std::count_if(cases.begin(), cases.end(), [](const TestCase& c) { return c.passed; });
  std::string counts = std::to_string(passed - updated_passed) + " passed, " +
                       std::to_string(cases.size() - passed) + " failed";
  if (command.update) counts += ", " + std::to_string(updated_files) + " updated";
  WriteOut("the results", counts + "\n");
  if (command.junit) {
    std::FILE* file = std::fopen(command.junit->c_str(), "we");
    const std::string report = JUnitReport(cases);
    const bool written =
        file != nullptr && std::fwrite(report.data(), 1, report.size(), file) == report.size();
    if (file == nullptr || std::fclose(file) != 0 || !written) {
      throw velk::Failure{"cannot write the JUnit report " + velk::Quoted(*command.junit) + ": " +
                          std::strerror(errno)};
    }
  }
  return passed == cases.size() ? 0 : velk::kFailed;
}

}  // namespace velk_run
