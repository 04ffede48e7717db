// kura: look into and check Kura tables. See `kura --help`.
#include <iostream>
#include <string>
#include <vector>

#include "tools/kura/kura_command.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return kura::tool::RunKura(arguments, std::cout, std::cerr);
}
