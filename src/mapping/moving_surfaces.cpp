// mapping/moving_surfaces.cpp: placeholder until it lands.
