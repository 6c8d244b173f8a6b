// mapping/moving_surfaces.h: samples of moving boundaries shifted back by the displacement
// of their reference boundary.
#pragma once

#include "mapping/transfer.h"

extern int boundary_reference[max_boundaries];  // -1: no correction

void init_moving_surfaces();
void correct_positions();
