// Runs the "simulate" subcommand as its own process, so that tests can start
// it under a fresh network namespace or send it signals.
#include "sim/simulate_command.h"

int main(int argc, char** argv) { return strandline::sim::RunSimulateCommand(argc, argv); }
