// surface/octree.cpp: sorts the triangles into a fixed six-level octree whose leaves, each
// enlarged by the mapping tolerance, list every triangle that touches them.
#include "surface/octree.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/system.h"
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
bool octree_by_levels_only = false;

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

// Room for `count` items on large pages where the system grants them: a fresh table touched
// 4 KiB at a time costs several times what filling it does.
template <typename T>
void reserve_large(std::vector<T>& table, std::size_t count) {
    table.reserve(count);
    advise_large_pages(table.data(), table.capacity() * sizeof(T));
}

// Along one axis the two are apart only when the intervals are strictly apart.
inline bool apart(double p_a, double p_b, double radius) {
    double low = p_a < p_b ? p_a : p_b;
    double high = p_a < p_b ? p_b : p_a;
    return low > radius || high < -radius;
}

// Whether the octant's box holds the bounding box with room to spare, so that every
// triangle inside passes triangle_box_overlap whatever the rounding of its axis tests.
inline bool encloses_along(double center, double half, double low, double high) {
    double margin = 1e-9 * (half + std::fabs(center) + std::fabs(low) + std::fabs(high));
    return low > center - half + margin && high < center + half - margin;
}

bool encloses(const double center[3], double half, const double low[3], const double high[3]) {
    for (int a = 0; a < 3; ++a)
        if (!encloses_along(center[a], half, low[a], high[a])) return false;
    return true;
}

// Whether a corner of the triangle lies inside the box by `margin` on every axis. Then every
// axis of triangle_box_overlap finds overlap whatever the rounding, as the triangle's
// projection onto it holds that corner's, margin times the axis's length inside the box's:
// the rounding is a few units in the last place of the coordinates and edges, scaled by
// the axis, and the margin is a billionth of them. The plane's axis holds the corner's
// projection inside only as closely as the normal is known, which for a sliver is not well,
// so the caller makes sure the triangle is none.
inline bool corner_inside(const double center[3], double half, double margin,
                          const double corners[3][3]) {
    const double reach = half - margin;
    for (int k = 0; k < 3; ++k)
        if (std::fabs(corners[k][0] - center[0]) < reach &&
            std::fabs(corners[k][1] - center[1]) < reach &&
            std::fabs(corners[k][2] - center[2]) < reach)
            return true;
    return false;
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

namespace {

// Level by level: each node's list is tried against its eight octants, and a child that
// receives its parent's whole list can share one stored copy. extent: the surface's size
// along each axis, for the message refusing a level that needs too many entries.
void build_by_levels(int triangle_count, const double extent[3]) {
    // Every triangle inserted at the front: the root's list runs in descending index. Each
    // split reverses a list once more, so after six the leaves run descending again.
    OctreeNode& root = octree_nodes[octree_root];
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
                double c[3][3];
                locate_corners(lists[node.list_begin + n], c);
                for (int k = 0; k < 3; ++k)
                    for (int a = 0; a < 3; ++a) {
                        f.low[a] = std::min(f.low[a], c[k][a]);
                        f.high[a] = std::max(f.high[a], c[k][a]);
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
                double tri[3][3];
                locate_corners(t, tri);
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
                              max_octree_entries, r, settings.tolerance, extent[0], extent[1],
                              extent[2]);
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
}

// Whether corner_inside may stand for triangle_box_overlap for the triangle, in boxes whose
// centres' coordinates are at most `largest` in size; magnitude_out receives what bounds the
// size of every coordinate the test subtracts.
bool is_fat(const double tri[3][3], double largest, double& magnitude_out) {
    double size = 0, edge = 0, edges[3][3];
    for (int k = 0; k < 3; ++k)
        for (int a = 0; a < 3; ++a) {
            size = std::max(size, std::fabs(tri[k][a]));
            edges[k][a] = tri[k == 2 ? 0 : k + 1][a] - tri[k][a];
            edge = std::max(edge, std::fabs(edges[k][a]));
        }
    magnitude_out = size + largest;
    const double* e0 = edges[0];
    const double* e1 = edges[1];
    const double normal = std::fabs(e0[1] * e1[2] - e0[2] * e1[1]) +
                          std::fabs(e0[2] * e1[0] - e0[0] * e1[2]) +
                          std::fabs(e0[0] * e1[1] - e0[1] * e1[0]);
    // Written so that coordinates that are not numbers make no triangle fat.
    return normal > 1e-3 * edge * edge && edge > 1e-6 * magnitude_out;
}

// Triangle by triangle: each is taken from the root down to every leaf it reaches, by the
// same tests as build_by_levels makes (an octant that plainly encloses the triangle's
// bounding box takes it untested there too), and the leaves' lists are gathered afterwards
// by a stable counting sort on the leaf's path. The triangles are read once, in order,
// instead of once per level through the lists, and no list is copied from level to level;
// the nodes are then made in build_by_levels' order. Lists are not shared, so it gives up,
// building nothing, when some level would list more than `budget` entries: a tolerance near
// the size of the leaves, where sharing is what keeps the lists small.
bool build_by_triangles(int triangle_count, std::size_t budget) {
    constexpr int paths = 1 << (3 * octree_depth);  // leaf path: three bits per level, root first
    double half[octree_depth + 1], offset[octree_depth + 1];
    for (int r = 1; r <= octree_depth; ++r) {
        half[r] = cell_size[r] / 2 + 1.1 * settings.tolerance;
        offset[r] = cell_size[r] / 2;
    }
    std::int64_t entries[octree_depth + 1] = {};
    // The leaves reached, triangle by triangle, descending: a word a leaf, its path, the
    // first of a triangle's flagged as the next triangle down from the last, or preceded by
    // a word naming its triangle when triangles between reached none.
    constexpr std::uint32_t next_triangle = 1u << 31, named_triangle = 1u << 30;
    constexpr std::uint32_t low_bits = (1u << 30) - 1;
    if (static_cast<std::uint32_t>(triangle_count) > low_bits) return false;
    std::vector<std::uint32_t> leaf_entries;
    reserve_large(leaf_entries, 2 * static_cast<std::size_t>(triangle_count) + 1024);
    int last_listed = triangle_count;  // the triangle of the last leaf entry
    auto add_leaf_entry = [&](int path, int t) {
        if (leaf_entries.size() + 2 > leaf_entries.capacity())
            reserve_large(leaf_entries, 2 * leaf_entries.capacity());
        std::uint32_t word = static_cast<std::uint32_t>(path);
        if (t != last_listed) {
            if (t == last_listed - 1)
                word |= next_triangle;
            else
                leaf_entries.push_back(named_triangle | static_cast<std::uint32_t>(t));
            last_listed = t;
        }
        leaf_entries.push_back(word);
    };
    std::vector<std::pair<int, int>> dead_ends;  // (level, path) of a node reached, none of its octants
    struct Visit {
        int level, path;
        float center[3];  // as the node will hold it; widened on use
    };
    Visit stack[8 * octree_depth];
    const float* root_center = octree_nodes[octree_root].center;
    // Along one axis a node's centre depends only on the sides taken along that axis: the
    // centres of every level, by the steps that make the nodes'.
    std::vector<float> axis_center[3][octree_depth + 1];
    for (int a = 0; a < 3; ++a) {
        axis_center[a][0] = {root_center[a]};
        for (int r = 1; r <= octree_depth; ++r)
            for (float c : axis_center[a][r - 1])
                for (double side : {static_cast<double>(c) - offset[r], static_cast<double>(c) + offset[r]})
                    axis_center[a][r].push_back(static_cast<float>(side));
    }
    // A box that keeps clear of every face of a node's cube by the enlargement and then some
    // meets that node's octant alone, plainly enclosed, at every level down to it: its path
    // there is its cell's. The room to spare covers the single-precision centres' rounding
    // and the enclosing test's margin many times over.
    double largest = 0;
    for (int a = 0; a < 3; ++a) largest = std::max(largest, std::fabs(octree_origin[a]) + cell_size[0]);
    const double clearance = 1.1 * settings.tolerance + 1e-6 * largest;
    const bool straight_paths = settings.tolerance >= 0 && std::isfinite(clearance);
    const double per_leaf = 1 / cell_size[octree_depth];
    for (int t = triangle_count - 1; t >= 0; --t) {
        double tri[3][3];
        locate_corners(t, tri);
        // The overlap test's bounding-box axes subtract the octant's centre from each corner
        // and take the extremes: rounding keeps order, so subtracting it from the extremes
        // gives the same values.
        double low[3], high[3];
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min({tri[0][a], tri[1][a], tri[2][a]});
            high[a] = std::max({tri[0][a], tri[1][a], tri[2][a]});
        }
        // Whether a corner inside an octant's box is enough (corner_inside): a triangle whose
        // normal is large beside its edges, and whose edges are large beside the rounding of
        // its coordinates. Worked out once it is needed.
        int fat = -1;
        double magnitude = 0;  // of the coordinates: the corners' and the octants' centres
        Visit node{0, 0, {root_center[0], root_center[1], root_center[2]}};
        if (straight_paths) {
            // The leaf cell of the box's low corner, per axis. Only a guess: the cube the box
            // is found inside below is what counts, so the rounding of a product will do.
            int cell[3];
            int clear = 0;  // the deepest level whose cube the box keeps clear of
            for (int a = 0; a < 3; ++a) {
                const double x = (low[a] - octree_origin[a]) * per_leaf;
                cell[a] = x >= 0 && x < (1 << octree_depth) ? static_cast<int>(x) : -1;
            }
            if (cell[0] >= 0 && cell[1] >= 0 && cell[2] >= 0)
                for (int r = octree_depth; r >= 1 && clear == 0; --r) {
                    bool inside = true;
                    for (int a = 0; a < 3; ++a) {
                        const double from = octree_origin[a] + (cell[a] >> (octree_depth - r)) * cell_size[r];
                        inside = inside && low[a] >= from + clearance &&
                                 high[a] <= from + cell_size[r] - clearance;
                    }
                    if (inside) clear = r;
                }
            if (clear > 0) {
                int path = 0;
                for (int r = 1; r <= clear; ++r) {
                    for (int a = 0; a < 3; ++a) path = path << 1 | (cell[2 - a] >> (octree_depth - r) & 1);
                    if (static_cast<std::size_t>(++entries[r]) > budget) return false;
                }
                if (clear == octree_depth) {
                    add_leaf_entry(path, t);
                    continue;
                }
                node.level = clear;
                node.path = path;
                for (int a = 0; a < 3; ++a)
                    node.center[a] = axis_center[a][clear][cell[a] >> (octree_depth - clear)];
            }
        }
        int top = 0;
        for (;;) {
            const int r = node.level + 1;
            const double h = half[r];
            double side_center[3][2];
            int sides[3];  // bit b set: the triangle's box meets the octants on side b
            for (int a = 0; a < 3; ++a) {
                const double c = node.center[a];
                const double below = c - offset[r], above = c + offset[r];
                side_center[a][0] = below;
                side_center[a][1] = above;
                const bool meets_below = !(low[a] - below > h || high[a] - below < -h);
                const bool meets_above = !(low[a] - above > h || high[a] - above < -h);
                sides[a] = meets_below | meets_above << 1;
            }
            // Mostly the box meets one octant, which plainly encloses it: straight on down.
            int single = -1;
            if ((sides[0] == 1 || sides[0] == 2) && (sides[1] == 1 || sides[1] == 2) &&
                (sides[2] == 1 || sides[2] == 2)) {
                const int x = sides[0] >> 1, y = sides[1] >> 1, z = sides[2] >> 1;
                if (encloses_along(side_center[0][x], h, low[0], high[0]) &&
                    encloses_along(side_center[1][y], h, low[1], high[1]) &&
                    encloses_along(side_center[2][z], h, low[2], high[2]))
                    single = x | y << 1 | z << 2;
            }
            // The octants whose side the box meets on every axis: octant i by bit i. Which
            // order they are taken in changes no list (a triangle's entries are sorted into
            // the leaves by path), and none is tried twice.
            static constexpr unsigned on_side[3][4] = {
                {0x00, 0x55, 0xaa, 0xff}, {0x00, 0x33, 0xcc, 0xff}, {0x00, 0x0f, 0xf0, 0xff}};
            unsigned candidates = single >= 0 ? 1u << single
                                              : on_side[0][sides[0]] & on_side[1][sides[1]] &
                                                    on_side[2][sides[2]];
            int reached = 0;
            for (; candidates != 0; candidates &= candidates - 1) {
                const int i = __builtin_ctz(candidates);
                const int x = i & 1, y = i >> 1 & 1, z = i >> 2 & 1;
                const double center[3] = {side_center[0][x], side_center[1][y], side_center[2][z]};
                if (single < 0) {
                    const double box_half[3] = {h, h, h};
                    if (fat < 0) fat = is_fat(tri, largest, magnitude);
                    if (!(encloses_along(center[0], h, low[0], high[0]) &&
                          encloses_along(center[1], h, low[1], high[1]) &&
                          encloses_along(center[2], h, low[2], high[2])) &&
                        !(fat && corner_inside(center, h, 1e-9 * (h + magnitude), tri)) &&
                        !triangle_box_overlap(center, box_half, tri))
                        continue;
                }
                ++reached;
                if (static_cast<std::size_t>(++entries[r]) > budget) return false;
                const int path = node.path * 8 + i;
                if (r == octree_depth) {
                    add_leaf_entry(path, t);
                } else {
                    Visit& child = stack[top++];
                    child.level = r;
                    child.path = path;
                    for (int a = 0; a < 3; ++a)
                        child.center[a] = static_cast<float>(center[a]);
                }
            }
            if (reached == 0 && node.level > 0) dead_ends.emplace_back(node.level, node.path);
            if (top == 0) break;
            node = stack[--top];
        }
    }

    // The leaves' lists, path by path; within a path the triangles keep their descending order.
    std::vector<std::uint32_t> list_begin(static_cast<std::size_t>(paths) + 1, 0);
    for (std::uint32_t word : leaf_entries)
        if (!(word & named_triangle)) ++list_begin[(word & low_bits) + 1];
    for (int path = 0; path < paths; ++path) list_begin[path + 1] += list_begin[path];
    octree_leaf_triangles = std::vector<int>();
    const std::size_t leaf_entry_count = static_cast<std::size_t>(entries[octree_depth]);
    reserve_large(octree_leaf_triangles, leaf_entry_count);
    octree_leaf_triangles.resize(leaf_entry_count);
    {
        // Each path's start moves on as its entries are written, to the next path's start.
        std::uint32_t* fill = list_begin.data();
        float leaf_centers[3][1 << octree_depth];
        for (int a = 0; a < 3; ++a)
            std::copy(axis_center[a][octree_depth].begin(), axis_center[a][octree_depth].end(),
                      leaf_centers[a]);
        begin_leaf_spheres(leaf_entry_count, leaf_centers);
        constexpr int room = leaf_spheres_batch;
        int owners[room], leaf_paths[room];
        std::uint32_t positions[room];
        int pending = 0;
        int t = triangle_count;
        for (std::uint32_t word : leaf_entries) {
            if (word & named_triangle) {
                t = static_cast<int>(word & low_bits);
                continue;
            }
            if (word & next_triangle) --t;
            if (pending == room) {
                write_leaf_spheres(owners, positions, leaf_paths, pending);
                pending = 0;
            }
            const int path = static_cast<int>(word & low_bits);
            const std::uint32_t position = fill[path]++;
            octree_leaf_triangles[position] = t;
            owners[pending] = t;
            positions[pending] = position;
            leaf_paths[pending++] = path;
        }
        if (pending > 0) write_leaf_spheres(owners, positions, leaf_paths, pending);
        std::copy_backward(list_begin.begin(), list_begin.end() - 2, list_begin.end() - 1);
        list_begin[0] = 0;
    }
    leaf_entries = std::vector<std::uint32_t>();

    // Which nodes exist: every leaf listing a triangle, every node reached that ends there,
    // and the nodes above them.
    std::vector<std::uint8_t> exists[octree_depth + 1];
    for (int r = 1; r <= octree_depth; ++r) exists[r].assign(std::size_t{1} << (3 * r), 0);
    for (int path = 0; path < paths; ++path)
        exists[octree_depth][path] = list_begin[path + 1] > list_begin[path];
    for (const auto& [level, path] : dead_ends) exists[level][path] = 1;
    for (int r = octree_depth - 1; r >= 1; --r)
        for (std::size_t path = 0; path < exists[r + 1].size(); ++path)
            if (exists[r + 1][path]) exists[r][path >> 3] = 1;

    // Room for exactly the nodes: a table grown by doubling holds its old and new blocks at
    // once, which for a surface of few triangles and many nodes is its largest moment.
    std::size_t node_count = octree_nodes.size();
    for (int r = 1; r <= octree_depth; ++r)
        node_count += static_cast<std::size_t>(std::count(exists[r].begin(), exists[r].end(), 1));
    octree_nodes.reserve(node_count);

    // The nodes in build_by_levels' order: a level's children are made parent by parent, the
    // parent made last first, each parent's in octant order.
    std::vector<std::pair<int, int>> queue{{octree_root, 0}}, next_queue;  // (node, path)
    for (int r = 1; r <= octree_depth; ++r) {
        next_queue.clear();
        for (auto it = queue.rbegin(); it != queue.rend(); ++it) {
            const auto [parent, parent_path] = *it;
            for (int i = 0; i < 8; ++i) {
                const int path = parent_path * 8 + i;
                if (!exists[r][path]) continue;
                const int child = static_cast<int>(octree_nodes.size());
                OctreeNode& created = octree_nodes.emplace_back();
                created.level = r;
                for (int a = 0; a < 3; ++a) {
                    const double c = octree_nodes[parent].center[a];
                    created.center[a] = static_cast<float>((i >> a & 1) ? c + offset[r] : c - offset[r]);
                }
                if (r == octree_depth) {
                    created.list_begin = static_cast<int>(list_begin[path]);
                    created.list_count = static_cast<int>(list_begin[path + 1] - list_begin[path]);
                }
                octree_nodes[parent].child[i] = child;
                next_queue.emplace_back(child, path);
            }
        }
        queue.swap(next_queue);
        say("level = %i, num_active=%lld, num_triangles = %lld\n", r,
            static_cast<long long>(queue.size()), static_cast<long long>(entries[r]));
    }
    return true;
}

}  // namespace

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

    // The corners are read from the search's own compact tables.
    prepare_locate_triangles();
    const int triangle_count = static_cast<int>(triangle_table.size());

    octree_nodes.clear();
    OctreeNode& root = octree_nodes.emplace_back();
    root.level = 0;
    for (int a = 0; a < 3; ++a) root.center[a] = static_cast<float>(octree_origin[a] + edge / 2);
    // Triangle by triangle unless the tolerance makes the leaves share lists. Listing a
    // triangle no more often than sharing would, it stays within max_octree_entries
    // whenever build_by_levels would.
    const std::size_t budget = std::min(max_octree_entries,
                                        16 * static_cast<std::size_t>(triangle_count) + 65536);
    if (octree_by_levels_only || !build_by_triangles(triangle_count, budget)) {
        octree_nodes.resize(1);
        const double extent[3] = {high[0] - low[0], high[1] - low[1], high[2] - low[2]};
        build_by_levels(triangle_count, extent);
    }
    octree_leaf_triangles.shrink_to_fit();
    prepare_locate_grids();
}
