// surface/octree.h: the fixed six-level octree over the surface.
#pragma once

#include <cstddef>
#include <vector>

constexpr int octree_depth = 6;
constexpr int no_node = -1;
// Triangle entries the lists of one level may hold: 64 Mi (256 MiB); a set-up that needs
// more is refused naming the tolerance and the surface's extent. A variable for the tests.
extern std::size_t max_octree_entries;
// Builds level by level, sharing lists, whatever the tolerance: the two ways must give the
// same octree. A variable for the tests.
extern bool octree_by_levels_only;

// One cube of the subdivision. Octant i of a node lies on the +x side when bit 0 of i is
// set, +y for bit 1, +z for bit 2. Nodes live in octree_nodes and name each other by index.
struct OctreeNode {
    int level = 0;          // 0 for the root, octree_depth for a leaf
    float center[3] = {0, 0, 0};  // single precision, as the stored maps were made; widened on use
    int child[8] = {no_node, no_node, no_node, no_node, no_node, no_node, no_node, no_node};
    // Leaves only: octree_leaf_triangles[list_begin .. + list_count), descending index.
    int list_begin = 0, list_count = 0;
};

extern std::vector<OctreeNode> octree_nodes;
extern std::vector<int> octree_leaf_triangles;
constexpr int octree_root = 0;  // index of the level-0 node once built
extern double cell_size[octree_depth + 1];  // cube edge at each level, the root's L / 2^k
extern double octree_origin[3];             // low corner of the root cube

// Builds the octree from vertex_table, triangle_table and settings.tolerance, printing the
// extent lines, the scaling warning and the six level lines; then the tables locate_point
// searches.
void build_subdivision();

// Separating-axis test; touching counts as overlap.
bool triangle_box_overlap(const double box_center[3], const double box_half[3],
                          const double corners[3][3]);
bool plane_box_overlap(const double normal[3], double offset, const double box_half[3]);
