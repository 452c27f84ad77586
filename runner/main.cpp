#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "runner/cli.h"
#include "runner/descriptor_input.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  // std::cin would take a read error for the end of the readings.
  velk_run::DescriptorInput standard_input(0);
  std::istream in(&standard_input);
  int status = velk_run::RunCli(arguments, in, std::cout, std::cerr);
  // Whatever went around std::cout (C stdio in a plug-in) is flushed here, not at exit where
  // a failure would go unseen. A failed run keeps its own status (2 for the command line).
  if (status == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    std::fputs("velk-run: cannot write standard output\n", stderr);
    status = 1;
  }
  if (status == 0 && std::ferror(stderr)) status = 1;
  return status;
}
