// platform/system.h: the few services of the operating system the run needs.
#pragma once

bool make_directory(const char* name);  // one level; false when it could not be created
bool is_directory(const char* name);
long wall_clock_seconds();              // whole seconds
// Whether both names reach one existing file (a link or another spelling of the path).
bool same_file(const char* first, const char* second);
