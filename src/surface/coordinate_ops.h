// surface/coordinate_ops.h: the user's scale, rotate and translate operations.
#pragma once

// Moves one point by the seven entries of operation_order with the values of settings.
void apply_coordinate_operations(double& x, double& y, double& z);
