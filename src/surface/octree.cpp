// surface/octree.cpp: placeholder until the octree lands.
#include "surface/octree.h"
#include "platform/fatal.h"

void build_subdivision() { fatal("Error: the octree is not built yet\n"); }
