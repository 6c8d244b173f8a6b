// surface/coordinate_ops.cpp: placeholder until it lands.
