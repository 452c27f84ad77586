// A JUnit XML report of "velk-run test", as `promtool test rules --junit` and `ctest
// --output-junit` write them for CI systems: one testcase per scenario, with a failure that
// lists its differences.
#pragma once

#include <string>
#include <vector>

namespace velk_run {

struct TestCase {
  std::string name;  // the scenario's path, as velk-run shows it
  double seconds = 0;
  bool passed = false;
  std::vector<std::string> differences;
};

// The report's text.
std::string JUnitReport(const std::vector<TestCase>& cases);

}  // namespace velk_run
