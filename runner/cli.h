// velk-run: drives the plug-in as the daemon does, so it can be tried without the daemon.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace velk_run {

// Exit status: 0 done, 1 bad input or a failure while running, 2 bad command line.
// `out` takes --help and --decode; the plug-in writes its own log to std::cout.
int RunCli(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
           std::ostream& err);

}  // namespace velk_run
