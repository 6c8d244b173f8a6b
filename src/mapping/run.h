// mapping/run.h: the mapping run, from the first transfer file to the writers.
#pragma once

int run_mapping(int argument_count, char** arguments);
