// surface/octree.h: the fixed six-level octree over the surface.
#pragma once

// Builds the octree from vertex_table, triangle_table and settings.tolerance, printing the
// extent lines, the scaling warning and the six level lines.
void build_subdivision();

bool triangle_box_overlap(const double box_center[3], const double box_half[3],
                          const double corners[3][3]);
bool plane_box_overlap(const double normal[3], double offset, const double box_half[3]);
