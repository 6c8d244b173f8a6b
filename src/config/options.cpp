// config/options.cpp: placeholder until the options reader lands.
#include "config/options.h"
#include "platform/fatal.h"

MapSettings settings;
OperationOrder operation_order;

void read_options_file(const std::string&) { fatal("Error: the options reader is not built yet\n"); }
