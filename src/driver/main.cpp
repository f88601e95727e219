#include "driver/run.hpp"

int main(int argc, char** argv) { return chizuvec::run_program(argc, argv); }
