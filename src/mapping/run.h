// mapping/run.h: the mapping run, from the first transfer file to the writers.
#pragma once

// Maps the transfer files arguments[2..] onto the surface already read and writes every
// result. Returns 0.
int run_mapping(int argument_count, char** arguments);

// The parts of the run around the transfer files, for the benchmark.
void start_mapping_run();  // moving surfaces, zeroed run fields, fresh reader and window
void end_mapping_run();    // final averages, uninitialized list, summary, writers, report
