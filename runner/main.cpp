#include <iostream>
#include <string>
#include <vector>

#include "runner/cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return velk_run::RunCli(arguments, std::cin, std::cout, std::cerr);
}
