// surface/locate.h: which triangle a sample lies on.
#pragma once

constexpr int no_triangle = -1;              // nothing within tolerance
constexpr int refused_for_boundary_id = -2;  // a candidate was refused for its boundary ID

// Index of the triangle p lies on, or no_triangle / refused_for_boundary_id. distance_out
// receives the accepted distance, or -1.0 (untouched when the descent met a missing octant).
int locate_point(const double p[3], int sample_boundary_id, double& distance_out);

// r relative to the triangle's first corner; u, v with r ~ u*edge1 + v*edge2.
struct Triangle;
bool point_in_triangle(const double r[3], const Triangle& triangle, double& u_out, double& v_out);

// Copies what locate_point reads out of the triangle table; build_subdivision calls it.
void prepare_locate_tables();
