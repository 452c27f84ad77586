// A scenario: what a device should do, written down in a JSON file for "velk-run test" to replay
// and check. The file names the plug-in, the device's identifier and configuration, the clock,
// the host's state and scripted answers, and the steps (readings and restores), each with what
// it must show; every member is checked, so that a misspelt expectation never passes in silence.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>
#include <rapidjson/document.h>

#include "host_standin/host_script.h"
#include "runner/values.h"

namespace velk_run {

// A scenario without "clock" runs at this local time, under any TZ.
constexpr const char* kScenarioClock = "2026-01-01 00:00:00";

struct Step {
  std::optional<short> reading;  // none: a restore of `record`
  Record record{};
  std::optional<standin::HostState> holds;  // what the host holds from this step on
  std::string name;                         // "step 3, reading 1034", as differences say it
};

struct Scenario {
  std::string path;
  std::string text;                   // the file as read
  rapidjson::Document document;       // its JSON, which --update fills and writes back
  std::optional<std::string> plugin;  // relative to the current directory
  std::uint32_t data_id = 0;
  Json::Value config{Json::objectValue};
  std::time_t clock = 0;
  std::time_t clock_step = 0;
  std::optional<double> tolerance;
  std::map<std::string, bool> always;                // host answers given as true or false
  std::map<std::string, std::vector<bool>> in_turn;  // and as lists
  standin::HostState holds;                          // before the first round
  // The steps stay in the document, which holds them in a quarter of the memory that Steps
  // take: a scenario of many readings takes little more than its file.
  std::size_t steps = 0;
  int end_status = 0;
  std::optional<std::string> end_says;
};

// A text of the file, or "" where it holds none.
std::string TextOf(const rapidjson::Value& value);
// A number as events and scenarios write it: a JSON number, or the text of one that is not
// finite ("NaN", "Infinity", "-Infinity"); else none.
std::optional<double> NumberOf(const rapidjson::Value& value);

// Step `number` (1 on) of a scenario that ReadScenario read, and so checked.
Step StepOf(const Scenario& scenario, std::size_t number);
// The name of step `number`, 0 naming the configuration.
std::string StepName(const Scenario& scenario, std::size_t number);

// What step `number` must show (0: the configuration; 1 on: the steps), null where it says
// nothing: its "expect" in the document.
rapidjson::Value* ExpectOf(Scenario& scenario, std::size_t number);

// The scenario in the file at `path`. Throws a Failure whose message names the file and the
// member at fault, or gives the parser's message and position.
Scenario ReadScenario(const std::string& path);

}  // namespace velk_run
