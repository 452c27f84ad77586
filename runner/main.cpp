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
  return velk_run::RunCli(arguments, in, std::cout, std::cerr);
}
