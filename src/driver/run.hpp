// One run of the program, from the command line to the exit code.
#pragma once

namespace chizuvec {

inline constexpr const char* kUsageGrammar =
    "Chizuvec.exe Input_filename.xml Output_filename.svg ['all' or Map_number [Highlighted_lot_number-1 "
    "[Highlighted_lot_number-2 [....]]]]";

// Runs the program with the arguments as they came (bytes in the locale's codeset). Returns the
// process's exit code.
int run_program(int argc, char** argv);

}  // namespace chizuvec
