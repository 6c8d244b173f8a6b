// tests/surface/surface_test_support.h: surfaces from string literals, and the identity frame.
#pragma once

#include "config/options.h"
#include "platform/io.h"
#include "surface/surface.h"

#include <string>
#include <unistd.h>

inline void use_identity_frame() {
    settings = MapSettings();
    settings.scale_xyz = 1;
    operation_order = OperationOrder{{"SC", "RX", "RY", "RZ", "TX", "TY", "TZ"}};
}

inline void read_surface_text(const std::string& text, const std::string& name = "surf.dat") {
    LineReader in;
    open_memory_reader(in, text, name);
    read_surface_from(in);
}

// fatal() writes to standard output; death tests see only standard error, so the child
// sends its standard output there.
inline void stdout_to_stderr() { dup2(2, 1); }

#include "surface/octree.h"

// The leaf the descent reaches for p, or no_node.
inline int leaf_of(const double p[3]) {
    int node = octree_root;
    for (int level = 0; level < octree_depth && node != no_node; ++level) {
        const OctreeNode& n = octree_nodes[node];
        int octant = (p[0] > n.center[0] ? 1 : 0) + (p[1] > n.center[1] ? 2 : 0) +
                     (p[2] > n.center[2] ? 4 : 0);
        node = n.child[octant];
    }
    return node;
}

inline std::vector<int> leaf_list(int leaf) {
    const OctreeNode& n = octree_nodes[leaf];
    return std::vector<int>(octree_leaf_triangles.begin() + n.list_begin,
                            octree_leaf_triangles.begin() + n.list_begin + n.list_count);
}
