// platform/system.cpp: directory creation and the clock.
#include "platform/system.h"

#include <ctime>
#include <sys/stat.h>

bool make_directory(const char* name) { return ::mkdir(name, 0777) == 0; }

long wall_clock_seconds() { return static_cast<long>(std::time(nullptr)); }
