// One run of the program, from the command line to the exit code.
#pragma once

#include "driver/options.hpp"

namespace chizuvec {

// Runs the program with the arguments as they came (bytes in the locale's codeset). Returns the
// process's exit code.
int run_program(int argc, char** argv);

}  // namespace chizuvec
