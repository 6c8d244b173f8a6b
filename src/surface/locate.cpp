// surface/locate.cpp: which triangle a sample lies on, searched in the sample's octree leaf.
//
// This runs once per sample and step. A leaf of a fine surface holds a few hundred
// triangles, nearly all within the tolerance of the sample's plane. Two filters keep the
// search to the few that matter without changing the answer:
// - A crowded leaf is cut into a grid of cells, each listing, in leaf order, the entries
//   that can accept a sample somewhere in the cell; a sample searches its cell's list only.
// - The list is swept through copies of the entries holding each triangle's bounding
//   sphere: only triangles whose sphere the sample reaches are looked up in the compact
//   per-triangle table.
// A triangle can only be accepted at a point of itself within the tolerance of the sample,
// so neither filter drops one that could be; the best is the nearest accepted one, the first
// in list order among equals, whatever else the list holds.
#include "surface/locate.h"

#include "config/options.h"
#include "surface/octree.h"
#include "surface/surface.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

// What the search reads of one triangle, 256 bytes in four whole cache lines.
struct alignas(64) LocateTriangle {
    double p0[3];
    double normal[3];
    double edge1[3], edge2[3];
    double edge_normal[3][3];
    double corner[3][3];  // P0, P1, P2, for the foot on an edge
    int axis_i, axis_j;   // the plane point_in_triangle solves in
};

// One entry of a leaf list.
struct LeafEntry {
    double center[3];
    double reach;  // radius and rounding margin, without the tolerance; NaN takes no sample
    int triangle;
    int boundary_id;
};

std::vector<LocateTriangle> locate_triangles;
std::vector<LeafEntry> leaf_entries;           // parallel to octree_leaf_triangles

// The grid of a crowded leaf.
struct LeafGrid {
    double low[3];            // low corner of the leaf's cube
    double cell_scale = 0;    // cells per metre
    int cells = 0;            // per axis; 0: no grid, the leaf is swept whole
    int cells_begin = 0;      // this leaf's cells in grid_cell_begin
    // Boundary IDs of the leaf's triangles: whether the ID rule refuses one of them does not
    // depend on which ones a cell lists.
    int lowest_boundary_id = 0, highest_boundary_id = 0;
};

std::vector<LeafGrid> leaf_grids;              // per octree node; meaningful for leaves
std::vector<std::uint32_t> grid_cell_begin;    // per cell, and one more at each grid's end
std::vector<std::uint16_t> grid_cell_entries;  // positions in the leaf's list

// Smaller leaves are swept whole: a cell would save less than its lookup costs. Larger ones
// than the cell lists can number are swept whole too (a tolerance as large as the surface).
constexpr int crowded_leaf = 24;
constexpr int largest_gridded_leaf = 65535;
// A leaf's grid may list each of its entries this many times over; all grids together at
// most this many entries (2 bytes each), beyond which leaves are swept whole.
constexpr std::size_t grid_entries_per_leaf_entry = 16;
constexpr std::size_t grid_entries_limit = std::size_t{1} << 26;

int cells_per_axis(int entry_count) {
    return std::max(2, std::min(16, static_cast<int>(std::ceil(std::sqrt(entry_count / 6.0)))));
}

// The two axes of the plane the triangle is solved in: drop the dominant axis of the
// normal, then order the other two so that |edge1[i]| >= |edge1[j]|.
inline void solving_axes(const double e1[3], const double e2[3], int& i, int& j) {
    double cx = std::fabs(e1[1] * e2[2] - e1[2] * e2[1]);
    double cy = std::fabs(e1[2] * e2[0] - e1[0] * e2[2]);
    double cz = std::fabs(e1[0] * e2[1] - e1[1] * e2[0]);
    int m = 0;
    if (cy > cx) m = 1;
    if (cz > (cx > cy ? cx : cy)) m = 2;
    i = (m + 1) % 3;
    j = (m + 2) % 3;
    if (std::fabs(e1[j]) > std::fabs(e1[i])) std::swap(i, j);
}

// A zero denominator (no area) makes u and v not numbers, and then no comparison holds.
inline bool inside(const double r[3], const double e1[3], const double e2[3], int i, int j,
                   double& u, double& v) {
    v = (e1[j] * r[i] - e1[i] * r[j]) / (e1[j] * e2[i] - e1[i] * e2[j]);
    u = (r[i] - v * e2[i]) / e1[i];
    return u > -1e-14 && v > -1e-14 && u + v < 1.00000000000001;
}

double length_between(const double a[3], const double b[3]) {
    double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Within the tolerance of some point of the cube (centre, half edge), as far as three
// quick necessary conditions tell: the sphere, the triangle's bounding box, its plane.
struct CellTest {
    const LeafEntry* entry;
    const LocateTriangle* triangle;
    double limit;     // sphere radius and tolerance, widened
    double margin;    // tolerance and the triangle's rounding allowance, widened; < 0: no
                      // test but the sphere's (a triangle too thin to bound by its plane)
    double low[3], high[3];  // the triangle's bounding box

    bool near(const double center[3], double half) const {
        double gap = 0;
        for (int a = 0; a < 3; ++a) {
            double g = std::fabs(entry->center[a] - center[a]) - half;
            if (g > 0) gap += g * g;
        }
        if (!(gap <= limit * limit)) return false;
        if (margin < 0) return true;
        for (int a = 0; a < 3; ++a)
            if (low[a] - margin > center[a] + half || high[a] + margin < center[a] - half)
                return false;
        const double* n = triangle->normal;
        double h = (center[0] - triangle->p0[0]) * n[0] + (center[1] - triangle->p0[1]) * n[1] +
                   (center[2] - triangle->p0[2]) * n[2];
        return std::fabs(h) <= margin + half * (std::fabs(n[0]) + std::fabs(n[1]) + std::fabs(n[2]));
    }
};

void build_leaf_grid(const OctreeNode& leaf, LeafGrid& grid, double tolerance_reach,
                     std::vector<std::uint32_t>& per_cell, std::vector<std::uint32_t>& pairs,
                     bool bounds_only = false) {
    const LeafEntry* entries = leaf_entries.data() + leaf.list_begin;
    const int count = leaf.list_count;
    grid.lowest_boundary_id = grid.highest_boundary_id = count ? entries[0].boundary_id : 0;
    for (int n = 0; n < count; ++n) {
        grid.lowest_boundary_id = std::min(grid.lowest_boundary_id, entries[n].boundary_id);
        grid.highest_boundary_id = std::max(grid.highest_boundary_id, entries[n].boundary_id);
    }
    if (bounds_only || count < crowded_leaf || count > largest_gridded_leaf) return;
    const int cells = cells_per_axis(count);
    const double edge = cell_size[octree_depth];
    const double width = edge / cells;
    double largest = 0;
    for (int a = 0; a < 3; ++a) {
        grid.low[a] = static_cast<double>(leaf.center[a]) - edge / 2;
        largest = std::max(largest, std::fabs(grid.low[a]) + edge);
    }
    grid.cell_scale = cells / edge;
    // A sample's cell index is rounded: the cells are widened far beyond that.
    const double half = width / 2 * (1 + 1e-6) + 1e-12 * largest;
    const double pad = half - width / 2;
    const int cell_count = cells * cells * cells;
    per_cell.assign(static_cast<std::size_t>(cell_count) + 1, 0);

    auto for_each_cell = [&](const LeafEntry& entry, auto&& visit) {
        if (!(entry.reach >= 0)) return;  // a triangle that takes no sample
        const LocateTriangle& tri = locate_triangles[entry.triangle];
        CellTest test{&entry, &tri, (entry.reach + tolerance_reach) * (1 + 1e-9), -1, {}, {}};
        double longest = 0, size = 0;
        for (int a = 0; a < 3; ++a) {
            test.low[a] = std::min({tri.corner[0][a], tri.corner[1][a], tri.corner[2][a]});
            test.high[a] = std::max({tri.corner[0][a], tri.corner[1][a], tri.corner[2][a]});
            size = std::max(size, std::fabs(tri.corner[0][a]));
        }
        for (int k = 0; k < 3; ++k)
            longest = std::max(longest, length_between(tri.corner[k], tri.corner[(k + 1) % 3]));
        // Accepted points lie on the triangle to within the solve's allowance and rounding
        // when it is not a sliver; a sliver keeps only the sphere's bound.
        const double* e1 = tri.edge1;
        const double* e2 = tri.edge2;
        const double cross = std::fabs(e1[tri.axis_j] * e2[tri.axis_i] -
                                       e1[tri.axis_i] * e2[tri.axis_j]);
        if (cross >= 1e-3 * longest * longest)
            test.margin = tolerance_reach + 1e-6 * longest + 1e-12 * (1 + size);
        int from[3], to[3];
        for (int a = 0; a < 3; ++a) {
            double low = (entry.center[a] - test.limit - pad - grid.low[a]) / width;
            double high = (entry.center[a] + test.limit + pad - grid.low[a]) / width;
            from[a] = low <= 0 ? 0 : (low >= cells ? cells : static_cast<int>(low));
            to[a] = high < 0 ? -1 : (high >= cells - 1 ? cells - 1 : static_cast<int>(high));
        }
        for (int k = from[2]; k <= to[2]; ++k)
            for (int j = from[1]; j <= to[1]; ++j)
                for (int i = from[0]; i <= to[0]; ++i) {
                    const double center[3] = {grid.low[0] + (i + 0.5) * width,
                                              grid.low[1] + (j + 0.5) * width,
                                              grid.low[2] + (k + 0.5) * width};
                    if (test.near(center, half)) visit((k * cells + j) * cells + i);
                }
    };
    // (cell, position) pairs, positions ascending: at most 16^3 cells and 2^16 positions.
    // A grid whose cells list most of the leaf saves nothing (a tolerance near the leaf's
    // size): it is dropped as soon as it outgrows its budget, so its memory stays a small
    // multiple of the leaf's list, and so does the whole of the grids'.
    const std::size_t budget = grid_entries_per_leaf_entry * static_cast<std::size_t>(count);
    if (grid_cell_entries.size() + budget > grid_entries_limit) return;
    pairs.clear();
    for (int n = 0; n < count; ++n) {
        for_each_cell(entries[n], [&](int cell) {
            ++per_cell[cell + 1];
            pairs.push_back(static_cast<std::uint32_t>(cell) << 16 | static_cast<std::uint32_t>(n));
        });
        if (pairs.size() > budget) return;
    }
    grid.cells = cells;
    grid.cells_begin = static_cast<int>(grid_cell_begin.size());
    for (int c = 0; c < cell_count; ++c) per_cell[c + 1] += per_cell[c];
    const std::size_t base = grid_cell_entries.size();
    for (int c = 0; c < cell_count; ++c)
        grid_cell_begin.push_back(static_cast<std::uint32_t>(base + per_cell[c]));
    grid_cell_entries.resize(base + per_cell[cell_count]);
    // Leaf order within each cell: ties still go to the higher index.
    for (std::uint32_t pair : pairs)
        grid_cell_entries[base + per_cell[pair >> 16]++] = static_cast<std::uint16_t>(pair & 0xffff);
    grid_cell_begin.push_back(static_cast<std::uint32_t>(grid_cell_entries.size()));
}

void build_leaf_grids() {
    const double tolerance_reach = settings.tolerance * (1 + 1e-6);
    grid_cell_begin.clear();
    grid_cell_entries.clear();
    leaf_grids.assign(octree_nodes.size(), LeafGrid{});
    std::vector<std::uint32_t> per_cell, pairs;
    // A tolerance of half a leaf or more puts nearly every triangle of a leaf in every cell:
    // no grid could pay for itself, and trying one per leaf would cost leaves x cells.
    const bool worth_a_grid = tolerance_reach < cell_size[octree_depth] / 2;
    for (std::size_t node = 0; node < octree_nodes.size(); ++node)
        if (octree_nodes[node].level == octree_depth) {
            LeafGrid& grid = leaf_grids[node];
            if (worth_a_grid) {
                build_leaf_grid(octree_nodes[node], grid, tolerance_reach, per_cell, pairs);
            } else {
                build_leaf_grid(octree_nodes[node], grid, tolerance_reach, per_cell, pairs,
                                /*bounds_only=*/true);
            }
        }
    grid_cell_begin.shrink_to_fit();
    grid_cell_entries.shrink_to_fit();
}

// Whether triangle t takes the sample nearer than the best so far; if so it becomes the best.
inline void try_triangle(const double p[3], int t, double tolerance, int& best,
                         double& best_distance) {
    const LocateTriangle& tri = locate_triangles[t];
    const double r[3] = {p[0] - tri.p0[0], p[1] - tri.p0[1], p[2] - tri.p0[2]};
    const double h = r[0] * tri.normal[0] + r[1] * tri.normal[1] + r[2] * tri.normal[2];
    const double a = std::fabs(h);
    if (a > tolerance || a >= best_distance) return;

    const double q[3] = {p[0] - h * tri.normal[0], p[1] - h * tri.normal[1],
                         p[2] - h * tri.normal[2]};
    const double qr[3] = {q[0] - tri.p0[0], q[1] - tri.p0[1], q[2] - tri.p0[2]};
    double u, v;
    if (inside(qr, tri.edge1, tri.edge2, tri.axis_i, tri.axis_j, u, v)) {
        best = t;
        best_distance = a;
        return;
    }
    // Only the edge on the side the solve points to is tried: beyond a corner the sample
    // counts only if its foot on that edge falls within the edge.
    const int k = u < 0 ? 2 : (v < 0 ? 0 : 1);
    const double* en = tri.edge_normal[k];
    const double* pk = tri.corner[k];
    const double s = (q[0] - pk[0]) * en[0] + (q[1] - pk[1]) * en[1] + (q[2] - pk[2]) * en[2];
    const double f[3] = {q[0] - s * en[0], q[1] - s * en[1], q[2] - s * en[2]};
    const double d[3] = {p[0] - f[0], p[1] - f[1], p[2] - f[2]};
    const double e = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (e <= tolerance && e < best_distance) {
        const double fr[3] = {f[0] - tri.p0[0], f[1] - tri.p0[1], f[2] - tri.p0[2]};
        if (inside(fr, tri.edge1, tri.edge2, tri.axis_i, tri.axis_j, u, v)) {
            best = t;
            best_distance = e;
        }
    }
}

// The leaf's search, over the positions the list names (all of them when there is none).
// Leaf lists run from high index to low and only a strictly smaller distance replaces the
// best, so of two equally near triangles the higher index wins; existing maps rely on it.
// The sphere test runs first over the whole list, asking for the triangles it passes
// while it goes on, so that their records arrive together rather than one after another.
template <typename Position>
int search_leaf(const double p[3], int sample_boundary_id, const LeafEntry* entries,
                const Position* positions, int count, double& best_distance) {
    const double tolerance = settings.tolerance;
    const double tolerance_reach = tolerance * (1 + 1e-6);
    const int rule = settings.enforce_boundID_match;
    constexpr int room = 64;
    int reached[room];
    int found = 0;
    int best = no_triangle;
    best_distance = 1e9;
    for (int n = 0; n < count; ++n) {
        const LeafEntry& entry = entries[positions ? positions[n] : n];
        // Rule 2: piston samples (boundary 1) land only on piston triangles; others anywhere.
        if ((rule == 1 && entry.boundary_id != sample_boundary_id) ||
            (rule == 2 && sample_boundary_id == 1 && entry.boundary_id != 1))
            continue;
        const double c[3] = {p[0] - entry.center[0], p[1] - entry.center[1],
                             p[2] - entry.center[2]};
        const double limit = entry.reach + tolerance_reach;
        if (!(c[0] * c[0] + c[1] * c[1] + c[2] * c[2] <= limit * limit)) continue;
        if (found == room) {
            // More than the room holds (a tolerance as large as the triangles): the rest
            // are tried as they come, after those already found.
            for (int k = 0; k < found; ++k) try_triangle(p, reached[k], tolerance, best, best_distance);
            found = 0;
        }
        const char* record = reinterpret_cast<const char*>(&locate_triangles[entry.triangle]);
        __builtin_prefetch(record);
        __builtin_prefetch(record + 64);
        __builtin_prefetch(record + 128);
        __builtin_prefetch(record + 192);
        reached[found++] = entry.triangle;
    }
    for (int k = 0; k < found; ++k) try_triangle(p, reached[k], tolerance, best, best_distance);
    return best;
}

}  // namespace

bool point_in_triangle(const double r[3], const Triangle& triangle, double& u_out, double& v_out) {
    const TriangleEdges edges = triangle_edges(triangle);
    int i, j;
    solving_axes(edges.edge1, edges.edge2, i, j);
    return inside(r, edges.edge1, edges.edge2, i, j, u_out, v_out);
}

void prepare_locate_tables() {
    const std::size_t count = triangle_table.size();
    locate_triangles.assign(count, LocateTriangle{});
    std::vector<double> reach(count), center(3 * count);
    for (std::size_t t = 0; t < count; ++t) {
        const Triangle& source = triangle_table[t];
        LocateTriangle& target = locate_triangles[t];
        const TriangleEdges edges = triangle_edges(source);
        for (int k = 0; k < 3; ++k) {
            const Vertex& v = vertex_table[source.vert[k]];
            target.corner[k][0] = v.x;
            target.corner[k][1] = v.y;
            target.corner[k][2] = v.z;
        }
        double largest = 0;
        for (int a = 0; a < 3; ++a) {
            target.p0[a] = target.corner[0][a];
            target.normal[a] = source.normal[a];
            target.edge1[a] = edges.edge1[a];
            target.edge2[a] = edges.edge2[a];
            for (int k = 0; k < 3; ++k) {
                target.edge_normal[k][a] = edges.edge_normal[k][a];
                largest = std::max(largest, std::fabs(target.corner[k][a]));
            }
        }
        solving_axes(target.edge1, target.edge2, target.axis_i, target.axis_j);
        // No plane, no sample: the NaN of such a triangle's solve would refuse every one,
        // but a normal that failed to normalise is not a number to rely on.
        const double* n = source.normal;
        bool has_area = n[0] * n[0] + n[1] * n[1] + n[2] * n[2] > 0.5;
        bool has_edges = length_between(target.corner[0], target.corner[1]) != 0 &&
                         length_between(target.corner[1], target.corner[2]) != 0 &&
                         length_between(target.corner[2], target.corner[0]) != 0;
        // Every point of the triangle lies within the largest corner distance of any centre;
        // the margin covers the solve's edge allowance and the rounding of the differences.
        double* c = &center[3 * t];
        double radius = 0;
        for (int a = 0; a < 3; ++a)
            c[a] = (target.corner[0][a] + target.corner[1][a] + target.corner[2][a]) / 3;
        for (int k = 0; k < 3; ++k) radius = std::max(radius, length_between(c, target.corner[k]));
        reach[t] = (has_area && has_edges) ? radius * (1 + 1e-6) + 1e-12 * (1 + largest)
                                           : std::nan("");
    }
    leaf_entries.resize(octree_leaf_triangles.size());
    for (std::size_t e = 0; e < octree_leaf_triangles.size(); ++e) {
        const int t = octree_leaf_triangles[e];
        LeafEntry& entry = leaf_entries[e];
        for (int a = 0; a < 3; ++a) entry.center[a] = center[3 * t + a];
        entry.reach = reach[t];
        entry.triangle = t;
        entry.boundary_id = triangle_table[t].boundary_id;
    }
    build_leaf_grids();
}

int locate_point(const double p[3], int sample_boundary_id, double& distance_out) {
    const OctreeNode* nodes = octree_nodes.data();
    int node = octree_root;
    // A coordinate equal to the centre goes to the minus side.
    for (int level = 0; level < octree_depth; ++level) {
        const OctreeNode& parent = nodes[node];
        int octant = (p[0] > static_cast<double>(parent.center[0]) ? 1 : 0) +
                     (p[1] > static_cast<double>(parent.center[1]) ? 2 : 0) +
                     (p[2] > static_cast<double>(parent.center[2]) ? 4 : 0);
        node = parent.child[octant];
        if (node == no_node) return no_triangle;
    }

    const OctreeNode& leaf = nodes[node];
    const LeafGrid& grid = leaf_grids[node];
    const LeafEntry* entries = leaf_entries.data() + leaf.list_begin;
    double best_distance;
    int best;
    // A sample outside the leaf's cube (the descent compares with single-precision centres)
    // sweeps the whole leaf; so does one with a coordinate that is not a number.
    const double cells = grid.cells;
    const double x = (p[0] - grid.low[0]) * grid.cell_scale;
    const double y = (p[1] - grid.low[1]) * grid.cell_scale;
    const double z = (p[2] - grid.low[2]) * grid.cell_scale;
    if (x >= 0 && x < cells && y >= 0 && y < cells && z >= 0 && z < cells) {
        const int cell = grid.cells_begin +
                         (static_cast<int>(z) * grid.cells + static_cast<int>(y)) * grid.cells +
                         static_cast<int>(x);
        const std::uint32_t begin = grid_cell_begin[cell];
        best = search_leaf(p, sample_boundary_id, entries, grid_cell_entries.data() + begin,
                           static_cast<int>(grid_cell_begin[cell + 1] - begin), best_distance);
    } else {
        best = search_leaf<int>(p, sample_boundary_id, entries, nullptr, leaf.list_count,
                                best_distance);
    }
    if (best != no_triangle) {
        distance_out = best_distance;
        return best;
    }
    distance_out = -1.0;
    // Whether a triangle of the leaf was refused for its boundary ID.
    const int rule = settings.enforce_boundID_match;
    const bool uniform = grid.lowest_boundary_id == grid.highest_boundary_id;
    bool excluded = false;
    if (rule == 1)
        excluded = !(uniform && grid.lowest_boundary_id == sample_boundary_id);
    else if (rule == 2)
        excluded = sample_boundary_id == 1 && !(uniform && grid.lowest_boundary_id == 1);
    return excluded ? refused_for_boundary_id : no_triangle;
}
