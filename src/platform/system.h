// platform/system.h: the few services of the operating system the run needs.
#pragma once

bool make_directory(const char* name);  // one level; false when it could not be created
long wall_clock_seconds();              // whole seconds
