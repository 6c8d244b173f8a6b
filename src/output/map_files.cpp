// output/map_files.cpp: placeholder until the map writers land.
#include "output/map_files.h"
int printed_triangle_count = 0;
