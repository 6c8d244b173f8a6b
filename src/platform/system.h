// platform/system.h: the few services of the operating system the run needs.
#pragma once

#include <cstddef>

bool make_directory(const char* name);  // one level; false when it could not be created
bool is_directory(const char* name);
long wall_clock_seconds();              // whole seconds
// Whether both names reach one existing file (a link or another spelling of the path).
bool same_file(const char* first, const char* second);

// Asks for large pages behind a big table about to be filled (a hint; ignored where they
// are not offered). Touching each small page of a fresh table one by one costs more than
// filling it on a virtual machine.
void advise_large_pages(void* data, std::size_t bytes);

// Big allocations map their own pages and give them back when freed. Otherwise the C
// library, once a table of some size was freed, serves later ones of that size from a heap
// that keeps what was freed in it, and the run's peak memory counts its tables' history.
void give_back_big_tables();
