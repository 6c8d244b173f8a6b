// surface/octree.cpp: sorts the triangles into a fixed six-level octree whose leaves, each
// enlarged by the mapping tolerance, list every triangle that touches them.
#include "surface/octree.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "surface/locate.h"
#include "surface/surface.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstdint>
#include <cstring>
#include <unordered_map>

std::vector<OctreeNode> octree_nodes;
std::vector<int> octree_leaf_triangles;
double cell_size[octree_depth + 1];
double octree_origin[3];
std::size_t max_octree_entries = std::size_t{1} << 26;

bool plane_box_overlap(const double normal[3], double offset, const double box_half[3]) {
    double vmin[3], vmax[3];
    for (int axis = 0; axis < 3; ++axis) {
        if (normal[axis] > 0) {
            vmin[axis] = -box_half[axis];
            vmax[axis] = box_half[axis];
        } else {
            vmin[axis] = box_half[axis];
            vmax[axis] = -box_half[axis];
        }
    }
    if (normal[0] * vmin[0] + normal[1] * vmin[1] + normal[2] * vmin[2] + offset > 0)
        return false;
    return normal[0] * vmax[0] + normal[1] * vmax[1] + normal[2] * vmax[2] + offset >= 0;
}

namespace {

// Along one axis the two are apart only when the intervals are strictly apart.
inline bool apart(double p_a, double p_b, double radius) {
    double low = p_a < p_b ? p_a : p_b;
    double high = p_a < p_b ? p_b : p_a;
    return low > radius || high < -radius;
}

// Whether the octant's box holds the bounding box with room to spare, so that every
// triangle inside passes triangle_box_overlap whatever the rounding of its axis tests.
bool encloses(const double center[3], double half, const double low[3], const double high[3]) {
    for (int a = 0; a < 3; ++a) {
        double margin = 1e-9 * (half + std::fabs(center[a]) + std::fabs(low[a]) + std::fabs(high[a]));
        if (!(low[a] > center[a] - half + margin && high[a] < center[a] + half - margin))
            return false;
    }
    return true;
}

}  // namespace

// Each axis is a separate exact test and overlap needs all of them to pass, so the order
// does not change the answer: the cheap bounding-box axes go first, because most octants
// a triangle is tried against are rejected there.
bool triangle_box_overlap(const double box_center[3], const double box_half[3],
                          const double corners[3][3]) {
    double v0[3], v1[3], v2[3];
    for (int a = 0; a < 3; ++a) {
        v0[a] = corners[0][a] - box_center[a];
        v1[a] = corners[1][a] - box_center[a];
        v2[a] = corners[2][a] - box_center[a];
    }
    for (int a = 0; a < 3; ++a) {
        double low = std::min({v0[a], v1[a], v2[a]});
        double high = std::max({v0[a], v1[a], v2[a]});
        if (low > box_half[a] || high < -box_half[a]) return false;
    }
    constexpr int X = 0, Y = 1, Z = 2;
    const double* h = box_half;
    double e0[3], e1[3], e2[3];
    for (int a = 0; a < 3; ++a) {
        e0[a] = v1[a] - v0[a];
        e1[a] = v2[a] - v1[a];
        e2[a] = v0[a] - v2[a];
    }
    // The nine edge-by-box-axis directions; of the three corners two project apart, the
    // third onto one of them, so each test projects the two that differ.
    double fx = std::fabs(e0[X]), fy = std::fabs(e0[Y]), fz = std::fabs(e0[Z]);
    if (apart(e0[Z] * v0[Y] - e0[Y] * v0[Z], e0[Z] * v2[Y] - e0[Y] * v2[Z], fz * h[Y] + fy * h[Z]))
        return false;
    if (apart(-e0[Z] * v0[X] + e0[X] * v0[Z], -e0[Z] * v2[X] + e0[X] * v2[Z],
              fz * h[X] + fx * h[Z]))
        return false;
    if (apart(e0[Y] * v1[X] - e0[X] * v1[Y], e0[Y] * v2[X] - e0[X] * v2[Y], fy * h[X] + fx * h[Y]))
        return false;

    fx = std::fabs(e1[X]), fy = std::fabs(e1[Y]), fz = std::fabs(e1[Z]);
    if (apart(e1[Z] * v0[Y] - e1[Y] * v0[Z], e1[Z] * v2[Y] - e1[Y] * v2[Z], fz * h[Y] + fy * h[Z]))
        return false;
    if (apart(-e1[Z] * v0[X] + e1[X] * v0[Z], -e1[Z] * v2[X] + e1[X] * v2[Z],
              fz * h[X] + fx * h[Z]))
        return false;
    if (apart(e1[Y] * v0[X] - e1[X] * v0[Y], e1[Y] * v1[X] - e1[X] * v1[Y], fy * h[X] + fx * h[Y]))
        return false;

    fx = std::fabs(e2[X]), fy = std::fabs(e2[Y]), fz = std::fabs(e2[Z]);
    if (apart(e2[Z] * v0[Y] - e2[Y] * v0[Z], e2[Z] * v1[Y] - e2[Y] * v1[Z], fz * h[Y] + fy * h[Z]))
        return false;
    if (apart(-e2[Z] * v0[X] + e2[X] * v0[Z], -e2[Z] * v1[X] + e2[X] * v1[Z],
              fz * h[X] + fx * h[Z]))
        return false;
    if (apart(e2[Y] * v1[X] - e2[X] * v1[Y], e2[Y] * v2[X] - e2[X] * v2[Y], fy * h[X] + fx * h[Y]))
        return false;

    double normal[3] = {e0[Y] * e1[Z] - e0[Z] * e1[Y], e0[Z] * e1[X] - e0[X] * e1[Z],
                        e0[X] * e1[Y] - e0[Y] * e1[X]};
    double offset = -(normal[0] * v0[0] + normal[1] * v0[1] + normal[2] * v0[2]);
    return plane_box_overlap(normal, offset, box_half);
}

void build_subdivision() {
    double low[3] = {1e9, 1e9, 1e9}, high[3] = {-1e9, -1e9, -1e9};
    for (const Vertex& v : vertex_table) {
        const double p[3] = {v.x, v.y, v.z};
        for (int a = 0; a < 3; ++a) {
            if (p[a] < low[a]) low[a] = p[a];
            if (p[a] > high[a]) high[a] = p[a];
        }
    }
    say("minimum extent of the surface is %e %e %e\n", low[0], low[1], low[2]);
    say("maximum extent of the surface is %e %e %e\n\n", high[0], high[1], high[2]);
    // Only the maxima are compared: the check is for millimetre data left unscaled.
    if (high[0] > 1.0 || high[1] > 1.0 || high[2] > 1.0)
        say("WARNING: extent of surface is larger than 1 meter. There may be a scaling issue \n");

    double edge = (high[0] - low[0]) * 1.05;
    for (int a = 1; a < 3; ++a) edge = std::max(edge, (high[a] - low[a]) * 1.05);
    for (int k = 0; k <= octree_depth; ++k) cell_size[k] = edge / std::pow(2.0, k);
    for (int a = 0; a < 3; ++a) octree_origin[a] = (low[a] + high[a]) / 2 - edge / 2;

    // The corners are read from the search's own records, in triangle order: the passes
    // read them once per node holding the triangle, so they sit together rather than behind
    // the vertex indices.
    prepare_locate_triangles();
    const int triangle_count = static_cast<int>(triangle_table.size());
    // The records are evenly spaced: no call per look-up.
    const double* first_corners = triangle_count ? locate_corners(0) : nullptr;
    const std::ptrdiff_t record_stride =
        triangle_count > 1 ? locate_corners(1) - first_corners : 0;
    auto corners_of = [&](int t) { return first_corners + t * record_stride; };

    octree_nodes.clear();
    OctreeNode& root = octree_nodes.emplace_back();
    root.level = 0;
    for (int a = 0; a < 3; ++a) root.center[a] = static_cast<float>(octree_origin[a] + edge / 2);
    // Every triangle inserted at the front: the root's list runs in descending index. Each
    // split reverses a list once more, so after six the leaves run descending again.
    std::vector<int> lists(static_cast<std::size_t>(triangle_count));
    for (int t = 0; t < triangle_count; ++t) lists[t] = triangle_count - 1 - t;
    root.list_begin = 0;
    root.list_count = triangle_count;

    // A tolerance near the surface's size puts (nearly) every triangle into every node.
    // Two things keep that bounded: a child that receives its parent's whole list shares
    // one stored copy with every other such child of a parent holding that same list, and
    // an octant whose box plainly encloses every triangle of the list takes it untested.
    // The lists stored at one level are limited to max_octree_entries.
    struct ListFacts {
        double low[3], high[3];  // bounding box of the list's triangles
        int reversed_begin = -1;  // where the whole list, reversed, is stored one level down
    };
    std::unordered_map<int, ListFacts> facts;  // by list_begin, for the level being split
    auto facts_of = [&](const OctreeNode& node) -> ListFacts& {
        auto [found, inserted] = facts.try_emplace(node.list_begin);
        ListFacts& f = found->second;
        if (inserted) {
            for (int a = 0; a < 3; ++a) f.low[a] = HUGE_VAL, f.high[a] = -HUGE_VAL;
            for (int n = 0; n < node.list_count; ++n) {
                if (n + 8 < node.list_count) {
                    const double* ahead = corners_of(lists[node.list_begin + n + 8]);
                    __builtin_prefetch(ahead);
                    __builtin_prefetch(ahead + 8);
                }
                const double* c = corners_of(lists[node.list_begin + n]);
                for (int k = 0; k < 3; ++k)
                    for (int a = 0; a < 3; ++a) {
                        f.low[a] = std::min(f.low[a], c[3 * k + a]);
                        f.high[a] = std::max(f.high[a], c[3 * k + a]);
                    }
            }
        }
        return f;
    };

    std::vector<int> queue{octree_root}, next_queue;
    std::vector<int> next_lists;
    std::vector<int> bucket[8];
    bool whole[8];
    for (int r = 1; r <= octree_depth; ++r) {
        const double half = cell_size[r] / 2 + 1.1 * settings.tolerance;
        const double box_half[3] = {half, half, half};
        const double offset = cell_size[r] / 2;
        std::int64_t node_count = 0, assignment_count = 0;
        next_queue.clear();
        next_lists.clear();
        next_lists.reserve(lists.size() + lists.size() / 4);
        facts.clear();
        // The queue holds the nodes most recently created first.
        for (auto it = queue.rbegin(); it != queue.rend(); ++it) {
            const int parent = *it;
            double octant_center[8][3];
            ListFacts& list_facts = facts_of(octree_nodes[parent]);
            int tested = 0;  // octants whose triangles must be tried one by one
            for (int i = 0; i < 8; ++i) {
                for (int a = 0; a < 3; ++a) {
                    double c = octree_nodes[parent].center[a];
                    octant_center[i][a] = (i >> a & 1) ? c + offset : c - offset;
                }
                bucket[i].clear();
                whole[i] = encloses(octant_center[i], half, list_facts.low, list_facts.high);
                if (!whole[i]) ++tested;
            }
            const OctreeNode& node = octree_nodes[parent];
            // The bounding-box axes of triangle_box_overlap, worked out once per side of
            // each axis with the same differences: most octants fail one of them, and only
            // those passing all three need the whole test.
            double side_center[3][2];
            for (int a = 0; a < 3; ++a) {
                side_center[a][0] = octant_center[0][a];
                side_center[a][1] = octant_center[7][a];
            }
            for (int n = 0; tested > 0 && n < node.list_count; ++n) {
                int t = lists[node.list_begin + n];
                if (n + 8 < node.list_count) {
                    const char* ahead =
                        reinterpret_cast<const char*>(corners_of(lists[node.list_begin + n + 8]));
                    __builtin_prefetch(ahead);
                    __builtin_prefetch(ahead + 71);
                }
                double tri[3][3];
                std::memcpy(tri, corners_of(t), sizeof tri);
                bool side[3][2];
                for (int a = 0; a < 3; ++a)
                    for (int b = 0; b < 2; ++b) {
                        const double c = side_center[a][b];
                        const double v0 = tri[0][a] - c, v1 = tri[1][a] - c, v2 = tri[2][a] - c;
                        const double low = std::min({v0, v1, v2});
                        const double high = std::max({v0, v1, v2});
                        side[a][b] = !(low > half || high < -half);
                    }
                for (int i = 0; i < 8; ++i)
                    if (!whole[i] && side[0][i & 1] && side[1][i >> 1 & 1] && side[2][i >> 2 & 1] &&
                        triangle_box_overlap(octant_center[i], box_half, tri))
                        bucket[i].push_back(t);
            }
            for (int i = 0; i < 8; ++i) {
                const int parent_count = octree_nodes[parent].list_count;
                if (!whole[i] && static_cast<int>(bucket[i].size()) == parent_count) whole[i] = true;
                int count = whole[i] ? parent_count : static_cast<int>(bucket[i].size());
                if (count == 0) continue;
                int begin;
                if (whole[i] && list_facts.reversed_begin >= 0) {
                    begin = list_facts.reversed_begin;
                } else {
                    if (next_lists.size() + static_cast<std::size_t>(count) > max_octree_entries)
                        fatal("ERROR: the subdivision would hold more than %zu triangle entries "
                              "at level %d: the tolerance %e is too large for a surface of "
                              "extent %e %e %e; lower the tolerance\n",
                              max_octree_entries, r, settings.tolerance, high[0] - low[0],
                              high[1] - low[1], high[2] - low[2]);
                    begin = static_cast<int>(next_lists.size());
                    // Front insertion: the child's list is the parent's order reversed.
                    if (whole[i]) {
                        const int from = octree_nodes[parent].list_begin;
                        for (int n = parent_count - 1; n >= 0; --n)
                            next_lists.push_back(lists[from + n]);
                        list_facts.reversed_begin = begin;
                    } else {
                        next_lists.insert(next_lists.end(), bucket[i].rbegin(), bucket[i].rend());
                    }
                }
                int child = static_cast<int>(octree_nodes.size());
                OctreeNode& created = octree_nodes.emplace_back();
                created.level = r;
                for (int a = 0; a < 3; ++a) created.center[a] = static_cast<float>(octant_center[i][a]);
                created.list_begin = begin;
                created.list_count = count;
                octree_nodes[parent].child[i] = child;
                next_queue.push_back(child);
                ++node_count;
                assignment_count += count;
            }
            // A split node keeps only its children.
            octree_nodes[parent].list_begin = 0;
            octree_nodes[parent].list_count = 0;
        }
        lists.swap(next_lists);
        queue.swap(next_queue);
        say("level = %i, num_active=%lld, num_triangles = %lld\n", r,
            static_cast<long long>(node_count), static_cast<long long>(assignment_count));
    }
    octree_leaf_triangles.swap(lists);
    lists = std::vector<int>();
    octree_leaf_triangles.shrink_to_fit();
    prepare_locate_grids();
}
