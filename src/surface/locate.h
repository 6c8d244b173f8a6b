// surface/locate.h: which triangle a sample lies on.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int no_triangle = -1;              // nothing within tolerance
constexpr int refused_for_boundary_id = -2;  // a candidate was refused for its boundary ID

// Index of the triangle p lies on, or no_triangle / refused_for_boundary_id. distance_out
// receives the accepted distance, or -1.0 (untouched when the descent met a missing octant).
int locate_point(const double p[3], int sample_boundary_id, double& distance_out);

// A key that orders points along the octree's own Morton curve (21 bits per axis over the
// root cube; points off the cube are clamped to it, NaN coordinates sort last): visiting
// samples in key order keeps the leaves and records they read in cache.
std::uint64_t locate_order_key(const double p[3]);

// r relative to the triangle's first corner; u, v with r ~ u*edge1 + v*edge2.
struct Triangle;
bool point_in_triangle(const double r[3], const Triangle& triangle, double& u_out, double& v_out);

// Set-up, called by build_subdivision: the per-triangle records first (the octree reads
// its corners from them), the leaves' cell grids once the leaves are listed.
void prepare_locate_triangles();
void prepare_locate_grids();
// While the octree writes its leaves' lists, each leaf having its own: the leaves' copies of
// the triangles' spheres are written beside them, each triangle's worked out once rather
// than gathered leaf by leaf afterwards. First the number of entries and the leaves'
// centres along each axis, by cell; then, up to leaf_spheres_batch entries at a time, each
// a triangle's (a triangle's entries side by side), where it went and the path of its leaf
// (three bits a level, root first, the x side lowest). Without these, prepare_locate_grids
// works the copies out itself.
constexpr int leaf_spheres_batch = 256;
void begin_leaf_spheres(std::size_t entry_count, const float leaf_centers[3][64]);
void write_leaf_spheres(const int* triangles, const std::uint32_t* positions, const int* paths,
                        int count);
// The nine corner coordinates of a triangle, P0 P1 P2, once prepare_locate_triangles ran.
void locate_corners(int triangle, double corners[3][3]);
// Bytes held by the tables above (the octree's own not included).
std::size_t locate_table_bytes();
