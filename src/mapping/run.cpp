// mapping/run.cpp: placeholder until the mapping run lands.
#include "mapping/run.h"
#include "platform/fatal.h"

int run_mapping(int, char**) { fatal("Error: the mapping run is not built yet\n"); }
