// "velk-run test": each scenario file run in a worker of its own and checked, PASS or FAIL for
// each with every difference under it, then "N passed, N failed".
#pragma once

#include <functional>
#include <string>

namespace velk_run {

// `argv` starts at "test". `default_plugin` gives the plug-in beside velk-run, for scenarios
// that name none. Returns 0 when all passed, 1 when any failed; throws a usage Failure (2).
int TestScenarios(int argc, char** argv, const std::function<std::string()>& default_plugin);

}  // namespace velk_run
