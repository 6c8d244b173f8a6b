// surface/locate.cpp: which triangle a sample lies on, searched in the sample's octree leaf.
//
// This runs once per sample and step. A leaf of a fine surface holds a few hundred
// triangles, nearly all within the tolerance of the sample's plane. A crowded leaf is cut
// into a grid of cells, each listing, in leaf order, the triangles that can accept a sample
// somewhere in the cell; a sample searches its cell's list only. A triangle can only be
// accepted at a point of itself within the tolerance of the sample, so the cells drop none
// that could be; the best is the nearest accepted one, the first in list order among
// equals, whatever else the list holds.
#include "surface/locate.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/system.h"
#include "surface/octree.h"
#include "surface/surface.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <limits>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// Room for `count` items on large pages where the system grants them: a fresh table touched
// 4 KiB at a time costs several times what filling it does.
template <typename T>
void reserve_large(std::vector<T>& table, std::size_t count) {
    table.reserve(count);
    advise_large_pages(table.data(), table.capacity() * sizeof(T));
}

// The table moved to a block of its own size, on large pages too.
template <typename T>
void fit_large(std::vector<T>& table) {
    if (table.capacity() == table.size()) return;
    std::vector<T> fitted;
    reserve_large(fitted, table.size());
    fitted.assign(table.begin(), table.end());
    table.swap(fitted);
}

// What the search reads of one triangle, 40 bytes: everything else it needs (the edges, the
// edge normals) is worked out from these and the corners with the very operations that made
// the triangle table's, so the answers are the same bits. The corners are named, not copied:
// neighbours share them, and a table of them takes a quarter of the room.
struct LocateTriangle {
    double normal[3];  // NaN: the triangle takes no sample
    // P0, P1, P2 by vertex index; the top two bits of the first two hold the axes
    // of the plane the solve is in.
    std::uint32_t corner_code[3];
    int boundary_id;
};
constexpr std::uint32_t corner_index_mask = (1u << 30) - 1;

std::vector<LocateTriangle> locate_triangles;
// The corners are read where the vertex table holds them, as x y z one after another.
static_assert(std::is_standard_layout_v<Vertex> && sizeof(Vertex) == 3 * sizeof(double) &&
              offsetof(Vertex, x) == 0 && offsetof(Vertex, y) == sizeof(double) &&
              offsetof(Vertex, z) == 2 * sizeof(double));
const double* locate_points = nullptr;

inline const double* corner(const LocateTriangle& tri, int k) {
    return locate_points + 3 * static_cast<std::size_t>(tri.corner_code[k] & corner_index_mask);
}
inline int axis_i(const LocateTriangle& tri) { return static_cast<int>(tri.corner_code[0] >> 30); }
inline int axis_j(const LocateTriangle& tri) { return static_cast<int>(tri.corner_code[1] >> 30); }
// Where a triangle's points lie, in single precision widened to hold the double-precision
// sphere; reach is NaN for a triangle that takes no sample. Worked out per triangle while
// the leaves' copies below are made.
struct WideSphere {
    float center[3];
    float reach;
};
// The leaves' copies, side by side with their lists so that a leaf's spheres share a few
// cache lines, 8 bytes: the centre and reach in steps of sphere_step from the sphere origin
// of the leaf that stored them (the steps span sixteen leaf edges: triangles larger than the
// leaves have their centres well outside them), the reach holding the single-precision sphere with steps to
// spare. The sweep asks for a triangle's record only when the sample reaches its sphere.
// A centre off the steps' range, or a reach beyond them, takes every sample.
struct Sphere {
    std::uint16_t center[3];
    std::uint16_t reach;  // steps
};
// A sphere that reaches every sample in the leaf's cube: its centre mid-range, its reach
// the whole range. A triangle that takes no sample has a point for a sphere at the range's
// corner, which a large tolerance may still reach: the triangle's test refuses it then.
constexpr Sphere sphere_always{{32768, 32768, 32768}, 65535};
constexpr Sphere sphere_never{{0, 0, 0}, 0};
constexpr double sphere_steps = 65535;  // steps across sphere_span leaf edges, centred on the leaf
constexpr double sphere_span = 16;
double sphere_step = 1;                 // metres
std::vector<Sphere> leaf_spheres;  // parallel to octree_leaf_triangles

// The grid of a crowded leaf.
struct LeafGrid {
    float sphere_origin[3] = {0, 0, 0};  // of the spheres this leaf's list points at
    double cell_scale = 0;    // cells per metre, from the low corner of the leaf's cube
    std::int16_t cells = 0;   // per axis; 0: no grid, the leaf is swept whole
    std::int16_t narrow = 0;  // 1: the cells list positions in grid_cell_bytes, else in
                              // grid_cell_entries
    int cells_begin = 0;      // this leaf's cells in grid_cell_begin
    // Boundary IDs of the leaf's triangles: whether the ID rule refuses one of them does not
    // depend on which ones a cell lists.
    int lowest_boundary_id = 0, highest_boundary_id = 0;
    // The points the descent brings here: above[a] < p[a] <= below[a] on every axis, the
    // centres of the nodes on the way (infinite where the way sets no bound).
    float above[3] = {-HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
    float below[3] = {HUGE_VALF, HUGE_VALF, HUGE_VALF};
};

std::vector<LeafGrid> leaf_grids;              // per octree node; meaningful for leaves
// Samples come in runs that share a leaf: each thread remembers the leaf it found last, and
// a sample within that leaf's bounds skips the descent. The generation tells a leaf of an
// earlier octree.
unsigned octree_generation = 0;
struct LastLeaf {
    unsigned generation = 0;
    int node = no_node;
};
thread_local LastLeaf last_leaf;
std::vector<std::uint32_t> grid_cell_begin;    // per cell, and one more at each grid's end
std::vector<std::uint16_t> grid_cell_entries;  // per cell, positions in the leaf's list
// The same for leaves of at most 256 entries, most of them: a byte holds a position.
constexpr int narrow_leaf = 256;
std::vector<std::uint8_t> grid_cell_bytes;

// Smaller leaves are swept whole: a cell would save less than its lookup costs. Larger ones
// than the cell lists can number are swept whole too (a tolerance as large as the surface).
constexpr int crowded_leaf = 24;
constexpr int largest_gridded_leaf = 65535;
// A leaf's grid may list each of its entries this many times over; all grids together at
// most this many entries, beyond which leaves are swept whole.
constexpr std::size_t grid_entries_per_leaf_entry = 16;
constexpr std::size_t grid_entries_limit = std::size_t{1} << 26;

// About ten entries a cell on a leaf's surface: finer cells list each triangle more often
// (memory and set-up) for little shorter lists, the spheres filtering those cheaply.
int cells_per_axis(int entry_count) {
    return std::max(2, std::min(16, static_cast<int>(std::ceil(std::sqrt(entry_count / 10.0)))));
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
inline bool inside(double ri, double rj, double e1i, double e1j, double e2i, double e2j,
                   double& u, double& v) {
    v = (e1j * ri - e1i * rj) / (e1j * e2i - e1i * e2j);
    u = (ri - v * e2i) / e1i;
    return u > -1e-14 && v > -1e-14 && u + v < 1.00000000000001;
}

inline bool inside(const double r[3], const double e1[3], const double e2[3], int i, int j,
                   double& u, double& v) {
    return inside(r[i], r[j], e1[i], e1[j], e2[i], e2[j], u, v);
}

inline double squared_length_between(const double a[3], const double b[3]) {
    double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return dx * dx + dy * dy + dz * dz;
}

double length_between(const double a[3], const double b[3]) {
    return std::sqrt(squared_length_between(a, b));
}

// The triangle table's edges and edge normals, operation for operation.
inline void edges_of(const LocateTriangle& tri, double e1[3], double e2[3]) {
    for (int a = 0; a < 3; ++a) {
        e1[a] = corner(tri, 1)[a] - corner(tri, 0)[a];
        e2[a] = corner(tri, 2)[a] - corner(tri, 0)[a];
    }
}

// The edge normal before normalising, and its squared length as normalising computes it.
inline double edge_normal_unscaled(const LocateTriangle& tri, int k, double en[3]) {
    const double* from = corner(tri, k);
    const double* to = corner(tri, k == 2 ? 0 : k + 1);
    const double d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
    const double* n = tri.normal;
    en[0] = n[1] * d[2] - n[2] * d[1];
    en[1] = n[2] * d[0] - n[0] * d[2];
    en[2] = n[0] * d[1] - n[1] * d[0];
    return en[0] * en[0] + en[1] * en[1] + en[2] * en[2];
}

// Within the tolerance of some point of the cube (centre, half edge), as far as three
// quick necessary conditions tell: the sphere, the triangle's bounding box, its plane.
struct CellTest {
    double center[3];  // of the bounding sphere
    double limit;      // sphere radius and tolerance, widened
    double margin;     // tolerance and the triangle's rounding allowance, widened; < 0: no
                       // test but the sphere's (a triangle too thin to bound by its plane)
    double low[3], high[3];  // the triangle's bounding box, widened by the margin
    double normal[3], p0[3];
    double slab;  // the margin and the cube's reach across the plane, for a cube of `half`

    bool near(const double cell[3], double half) const {
        double gap = 0;
        for (int a = 0; a < 3; ++a) {
            // No branch: which cells a sphere reaches is as good as random.
            const double g = std::max(0.0, std::fabs(center[a] - cell[a]) - half);
            gap += g * g;
        }
        if (!(gap <= limit * limit)) return false;
        if (margin < 0) return true;
        for (int a = 0; a < 3; ++a)
            if (low[a] > cell[a] + half || high[a] < cell[a] - half) return false;
        const double* n = normal;
        double h = (cell[0] - p0[0]) * n[0] + (cell[1] - p0[1]) * n[1] + (cell[2] - p0[2]) * n[2];
        return std::fabs(h) <= slab;
    }
};

// Where a triangle's points lie: a centre and a radius reaching every corner, so every point,
// with room for the solve's edge allowance and the rounding of the differences. Of the
// centre of the corners and the midpoints of the edges, the one nearest its farthest
// corner: the midpoint of the long edge of a right or obtuse triangle, as meshes of split
// quadrilaterals have, holds it in a smaller sphere.
void bounding_sphere(const LocateTriangle& tri, double center[3], double& reach) {
    double largest = 0;
    double candidate[4][3];
    for (int a = 0; a < 3; ++a) {
        candidate[0][a] = (corner(tri, 0)[a] + corner(tri, 1)[a] + corner(tri, 2)[a]) / 3;
        for (int k = 0; k < 3; ++k) {
            candidate[k + 1][a] = (corner(tri, k)[a] + corner(tri, k == 2 ? 0 : k + 1)[a]) / 2;
            largest = std::max(largest, std::fabs(corner(tri, k)[a]));
        }
    }
    double radius = 0, radius_squared = 0;
    for (int m = 0; m < 4; ++m) {
        const double* c = candidate[m];
        // The root of the largest square is the largest root, and one root costs a third. A
        // square no smaller than the radius's has no smaller root: no root is needed then.
        double farthest = 0;
        for (int k = 0; k < 3; ++k)
            farthest = std::max(farthest, squared_length_between(c, corner(tri, k)));
        if (m > 0 && !(farthest < radius_squared)) continue;
        const double root = std::sqrt(farthest);
        if (m == 0 || root < radius) {
            radius = root;
            radius_squared = farthest;
            std::copy(c, c + 3, center);
        }
    }
    reach = radius * (1 + 1e-6) + 1e-12 * (1 + largest);
}

void build_leaf_grid(const OctreeNode& leaf, LeafGrid& grid, double tolerance_reach,
                     std::vector<std::uint32_t>& per_cell, std::vector<std::uint32_t>& pairs,
                     bool bounds_only = false) {
    const int* list = octree_leaf_triangles.data() + leaf.list_begin;
    const int count = leaf.list_count;
    grid.lowest_boundary_id = grid.highest_boundary_id =
        count ? locate_triangles[list[0]].boundary_id : 0;
    for (int n = 0; n < count; ++n) {
        if (n + 8 < count) {
            const char* ahead = reinterpret_cast<const char*>(&locate_triangles[list[n + 8]]);
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + sizeof(LocateTriangle) - 1);
        }
        grid.lowest_boundary_id = std::min(grid.lowest_boundary_id, locate_triangles[list[n]].boundary_id);
        grid.highest_boundary_id = std::max(grid.highest_boundary_id, locate_triangles[list[n]].boundary_id);
    }
    if (bounds_only || count < crowded_leaf || count > largest_gridded_leaf) return;
    const int cells = cells_per_axis(count);
    const double edge = cell_size[octree_depth];
    const double width = edge / cells;
    double largest = 0, low[3];
    for (int a = 0; a < 3; ++a) {
        low[a] = static_cast<double>(leaf.center[a]) - edge / 2;
        largest = std::max(largest, std::fabs(low[a]) + edge);
    }
    grid.cell_scale = cells / edge;
    const double* leaf_low = low;
    // A sample's cell index is rounded: the cells are widened far beyond that.
    const double half = width / 2 * (1 + 1e-6) + 1e-12 * largest;
    const double pad = half - width / 2;
    const int cell_count = cells * cells * cells;
    per_cell.assign(static_cast<std::size_t>(cell_count) + 1, 0);

    const Sphere* spheres = leaf_spheres.data() + leaf.list_begin;
    const float* origin = grid.sphere_origin;
    // A triangle's test and the range of cells to try it in; false for a triangle that
    // takes no sample.
    struct Trial {
        CellTest test;
        int from[3], to[3];
        int position;
    };
    auto prepare = [&](int n, Trial& trial) {
        const int t = list[n];
        const LocateTriangle& tri = locate_triangles[t];
        if (std::isnan(tri.normal[0])) return false;  // a triangle that takes no sample
        CellTest& test = trial.test;
        trial.position = n;
        // The search's own sphere, which holds the double-precision one.
        const Sphere& sphere = spheres[n];
        for (int a = 0; a < 3; ++a)
            test.center[a] = static_cast<double>(origin[a]) + sphere.center[a] * sphere_step;
        test.limit = (sphere.reach * sphere_step + tolerance_reach) * (1 + 1e-9);
        test.margin = -1;
        double c[3][3];
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a) c[k][a] = corner(tri, k)[a];
        double longest = 0, size = 0;
        for (int a = 0; a < 3; ++a) {
            test.low[a] = std::min({c[0][a], c[1][a], c[2][a]});
            test.high[a] = std::max({c[0][a], c[1][a], c[2][a]});
            size = std::max(size, std::fabs(c[0][a]));
        }
        for (int k = 0; k < 3; ++k)
            longest = std::max(longest, squared_length_between(c[k], c[(k + 1) % 3]));
        longest = std::sqrt(longest);
        // Accepted points lie on the triangle to within the solve's allowance and rounding
        // when it is not a sliver; a sliver keeps only the sphere's bound.
        double e1[3], e2[3];
        for (int a = 0; a < 3; ++a) {
            e1[a] = c[1][a] - c[0][a];
            e2[a] = c[2][a] - c[0][a];
        }
        const int i = axis_i(tri), j = axis_j(tri);
        const double cross = std::fabs(e1[j] * e2[i] - e1[i] * e2[j]);
        if (cross >= 1e-3 * longest * longest)
            test.margin = tolerance_reach + 1e-6 * longest + 1e-12 * (1 + size);
        const double* normal = tri.normal;
        for (int a = 0; a < 3; ++a) {
            test.normal[a] = normal[a];
            test.p0[a] = c[0][a];
        }
        test.slab = test.margin +
                    half * (std::fabs(normal[0]) + std::fabs(normal[1]) + std::fabs(normal[2]));
        // The cells the sphere's box meets, or those the widened bounding box meets when
        // near() tests it: far fewer across a flat triangle's plane.
        for (int a = 0; a < 3; ++a) {
            double lower = test.center[a] - test.limit, upper = test.center[a] + test.limit;
            if (test.margin >= 0) {
                test.low[a] -= test.margin;
                test.high[a] += test.margin;
                lower = std::max(lower, test.low[a]);
                upper = std::min(upper, test.high[a]);
            }
            lower = (lower - pad - leaf_low[a]) / width;
            upper = (upper + pad - leaf_low[a]) / width;
            trial.from[a] = lower <= 0 ? 0 : (lower >= cells ? cells : static_cast<int>(lower));
            trial.to[a] = upper < 0 ? -1 : (upper >= cells - 1 ? cells - 1 : static_cast<int>(upper));
        }
        return true;
    };
    // (cell, position) pairs, positions ascending: at most 16^3 cells and 2^16 positions.
    // A grid whose cells list most of the leaf saves nothing (a tolerance near the leaf's
    // size): it is dropped as soon as it outgrows its budget, so its memory stays a small
    // multiple of the leaf's list, and so does the whole of the grids'.
    const std::size_t budget = grid_entries_per_leaf_entry * static_cast<std::size_t>(count);
    if (grid_cell_entries.size() + grid_cell_bytes.size() + budget > grid_entries_limit) return;
    pairs.clear();
    // The triangles' tests are made a batch at a time before their cells are tried: made
    // one after another, with no unforeseeable branch between them, their roots and
    // divisions overlap rather than each waiting for the last's cells.
    constexpr int batch = 16;
    Trial trials[batch];
    for (int first = 0; first < count; first += batch) {
        const int last = std::min(count, first + batch);
        int prepared = 0;
        for (int n = first; n < last; ++n) {
            // The corners of one a few ahead, whose record the bounds' pass brought in.
            if (n + 4 < count) {
                const LocateTriangle& ahead = locate_triangles[list[n + 4]];
                for (int k = 0; k < 3; ++k) __builtin_prefetch(corner(ahead, k));
            }
            prepared += prepare(n, trials[prepared]);
        }
        for (int m = 0; m < prepared; ++m) {
            const Trial& trial = trials[m];
            const CellTest& test = trial.test;
            // near()'s terms, axis by axis for each row of cells along it: a cell adds its
            // three rows' in near()'s order, so the sums are near()'s to the bit, and near()
            // holds where all of its tests do.
            double gap[3][16], along[3][16];
            bool inside[3][16];
            for (int a = 0; a < 3; ++a)
                for (int i = trial.from[a]; i <= trial.to[a]; ++i) {
                    const double center = leaf_low[a] + (i + 0.5) * width;
                    const double g = std::max(0.0, std::fabs(test.center[a] - center) - half);
                    gap[a][i] = g * g;
                    inside[a][i] = !(test.low[a] > center + half || test.high[a] < center - half);
                    along[a][i] = (center - test.p0[a]) * test.normal[a];
                }
            const double limit = test.limit * test.limit;
            const bool sphere_only = test.margin < 0;
            for (int k = trial.from[2]; k <= trial.to[2]; ++k)
                for (int j = trial.from[1]; j <= trial.to[1]; ++j)
                    for (int i = trial.from[0]; i <= trial.to[0]; ++i) {
                        const double sum = 0 + gap[0][i] + gap[1][j] + gap[2][k];
                        if (!(sum <= limit)) continue;
                        if (!sphere_only &&
                            !(inside[0][i] && inside[1][j] && inside[2][k] &&
                              std::fabs(along[0][i] + along[1][j] + along[2][k]) <= test.slab))
                            continue;
                        const int cell = (k * cells + j) * cells + i;
                        ++per_cell[cell + 1];
                        pairs.push_back(static_cast<std::uint32_t>(cell) << 16 |
                                        static_cast<std::uint32_t>(trial.position));
                    }
        }
        // Pairs only grow: past the budget after a batch is past it after some triangle.
        if (pairs.size() > budget) return;
    }
    grid.cells = static_cast<std::int16_t>(cells);
    grid.narrow = count <= narrow_leaf;
    grid.cells_begin = static_cast<int>(grid_cell_begin.size());
    for (int c = 0; c < cell_count; ++c) per_cell[c + 1] += per_cell[c];
    // Leaf order within each cell: ties still go to the higher index.
    auto store = [&](auto& entries) {
        const std::size_t base = entries.size();
        for (int c = 0; c < cell_count; ++c)
            grid_cell_begin.push_back(static_cast<std::uint32_t>(base + per_cell[c]));
        if (base + per_cell[cell_count] > entries.capacity())
            reserve_large(entries, std::max(2 * entries.capacity(), base + per_cell[cell_count]));
        entries.resize(base + per_cell[cell_count]);
        using Entry = typename std::decay_t<decltype(entries)>::value_type;
        for (std::uint32_t pair : pairs)
            entries[base + per_cell[pair >> 16]++] = static_cast<Entry>(pair & 0xffff);
        grid_cell_begin.push_back(static_cast<std::uint32_t>(entries.size()));
    };
    if (grid.narrow)
        store(grid_cell_bytes);
    else
        store(grid_cell_entries);
}

// Each node's bounds handed down to its children: the parent's centre bounds each child
// on the side the descent sends it.
void set_leaf_bounds() {
    std::vector<int> stack;
    if (!octree_nodes.empty()) stack.push_back(octree_root);
    while (!stack.empty()) {
        const int node = stack.back();
        stack.pop_back();
        const OctreeNode& parent = octree_nodes[node];
        for (int i = 0; i < 8; ++i) {
            const int child = parent.child[i];
            if (child == no_node) continue;
            LeafGrid& bounds = leaf_grids[child];
            for (int a = 0; a < 3; ++a) {
                bounds.above[a] = leaf_grids[node].above[a];
                bounds.below[a] = leaf_grids[node].below[a];
                if (i >> a & 1)
                    bounds.above[a] = parent.center[a];
                else
                    bounds.below[a] = parent.center[a];
            }
            stack.push_back(child);
        }
    }
}

void build_leaf_grids() {
    const double tolerance_reach = settings.tolerance * (1 + 1e-6);
    // A tolerance of half a leaf or more puts nearly every triangle of a leaf in every cell:
    // no grid could pay for itself, and trying one per leaf would cost leaves x cells.
    const bool worth_a_grid = tolerance_reach < cell_size[octree_depth] / 2;
    // The cells' starts at most, and a guess at their entries: a few cells per entry.
    std::size_t cell_bound = 0, entry_guess = 0, byte_guess = 0;
    for (const OctreeNode& node : octree_nodes) {
        const int count = node.list_count;
        if (!worth_a_grid || node.level != octree_depth || count < crowded_leaf ||
            count > largest_gridded_leaf)
            continue;
        const std::size_t cells = static_cast<std::size_t>(cells_per_axis(count));
        cell_bound += cells * cells * cells + 1;
        (count <= narrow_leaf ? byte_guess : entry_guess) += 6 * static_cast<std::size_t>(count);
    }
    grid_cell_begin = std::vector<std::uint32_t>();
    grid_cell_entries = std::vector<std::uint16_t>();
    grid_cell_bytes = std::vector<std::uint8_t>();
    reserve_large(grid_cell_begin, cell_bound);
    reserve_large(grid_cell_entries, std::min(entry_guess, grid_entries_limit));
    reserve_large(grid_cell_bytes, std::min(byte_guess, grid_entries_limit));
    std::vector<std::uint32_t> per_cell, pairs;
    for (std::size_t node = 0; node < octree_nodes.size(); ++node)
        if (octree_nodes[node].level == octree_depth)
            build_leaf_grid(octree_nodes[node], leaf_grids[node], tolerance_reach, per_cell,
                            pairs, /*bounds_only=*/!worth_a_grid);
    fit_large(grid_cell_begin);
    fit_large(grid_cell_entries);
    fit_large(grid_cell_bytes);
}

// Whether triangle t takes the sample nearer than the best so far; if so it becomes the best.
// rounding: an allowance for the rounding of differences of the sample's coordinates.
__attribute__((always_inline)) inline void try_triangle(const double p[3], int t, double tolerance,
                                                        double rounding, int& best,
                                                        double& best_distance) {
    const LocateTriangle& tri = locate_triangles[t];
    const double* n = tri.normal;
    const double* p0 = corner(tri, 0);
    const double r[3] = {p[0] - p0[0], p[1] - p0[1], p[2] - p0[2]};
    const double h = r[0] * n[0] + r[1] * n[1] + r[2] * n[2];
    const double a = std::fabs(h);
    // Written so that the NaN of a triangle taking no sample fails it.
    if (!(a <= tolerance && a < best_distance)) return;

    const double q[3] = {p[0] - h * n[0], p[1] - h * n[1], p[2] - h * n[2]};
    // The solve reads two axes of the edges and of the foot: only those are worked out.
    const int i = axis_i(tri), j = axis_j(tri);
    const double* p1 = corner(tri, 1);
    const double* p2 = corner(tri, 2);
    const double e1i = p1[i] - p0[i], e1j = p1[j] - p0[j];
    const double e2i = p2[i] - p0[i], e2j = p2[j] - p0[j];
    double u, v;
    if (inside(q[i] - p0[i], q[j] - p0[j], e1i, e1j, e2i, e2j, u, v)) {
        best = t;
        best_distance = a;
        return;
    }
    // Only the edge on the side the solve points to is tried: beyond a corner the sample
    // counts only if its foot on that edge falls within the edge.
    const int k = u < 0 ? 2 : (v < 0 ? 0 : 1);
    const double* pk = corner(tri, k);
    double en[3];
    const double length_squared = edge_normal_unscaled(tri, k, en);
    // The foot on the edge is at least as far from the sample as the edge's line is from
    // the sample's foot on the plane: when that alone puts it beyond the tolerance and the
    // best, with room for every rounding, the normalising and the root are not needed.
    {
        const double reach =
            (tolerance < best_distance ? tolerance : best_distance) * (1 + 1e-9) + rounding;
        const double s = (q[0] - pk[0]) * en[0] + (q[1] - pk[1]) * en[1] + (q[2] - pk[2]) * en[2];
        if (s * s > reach * reach * length_squared) return;
    }
    if (length_squared != 0) {
        const double length = std::sqrt(length_squared);
        en[0] /= length;
        en[1] /= length;
        en[2] /= length;
    }
    const double s = (q[0] - pk[0]) * en[0] + (q[1] - pk[1]) * en[1] + (q[2] - pk[2]) * en[2];
    const double f[3] = {q[0] - s * en[0], q[1] - s * en[1], q[2] - s * en[2]};
    const double d[3] = {p[0] - f[0], p[1] - f[1], p[2] - f[2]};
    const double e = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (e <= tolerance && e < best_distance) {
        if (inside(f[i] - p0[i], f[j] - p0[j], e1i, e1j, e2i, e2j, u, v)) {
            best = t;
            best_distance = e;
        }
    }
}

// The search over a list of triangles, in list order. Leaf lists run from high index to low
// and only a strictly smaller distance replaces the best, so of two equally near triangles
// the higher index wins; existing maps rely on it. The sphere test runs first over the whole
// list, and only the triangles it passes are tried.
template <bool check_ids, typename Position>
int search_list(const double p[3], int sample_boundary_id, const int* list,
                const Sphere* spheres, const float sphere_origin[3], const Position* positions,
                int count, double& best_distance) {
    const double tolerance = settings.tolerance;
    const int rule = settings.enforce_boundID_match;
    int best = no_triangle;
    best_distance = 1e9;
    const double tolerance_reach = tolerance * (1 + 1e-6);
    const double rounding = 1e-12 * (1 + std::fabs(p[0]) + std::fabs(p[1]) + std::fabs(p[2]));
    // The sample in the spheres' steps. Their reach has steps to spare for the rounding.
    // Single precision is plenty: a step to spare is some thousand times its rounding here.
    const double per_step = 1 / sphere_step;
    const float in_steps[3] = {
        static_cast<float>((p[0] - static_cast<double>(sphere_origin[0])) * per_step),
        static_cast<float>((p[1] - static_cast<double>(sphere_origin[1])) * per_step),
        static_cast<float>((p[2] - static_cast<double>(sphere_origin[2])) * per_step)};
    const float tolerance_steps = static_cast<float>(tolerance_reach * per_step * (1 + 1e-6));
    // The sample and, negated, the tolerance: one subtraction gives the three differences
    // and minus the limit.
    const __m128 sample = _mm_setr_ps(in_steps[0], in_steps[1], in_steps[2], -tolerance_steps);
    const __m128i zero = _mm_setzero_si128();
    constexpr int room = 64;
    int reached[room];
    int found = 0;
    // Which triangles a sample reaches is as good as random: the test's outcome is added
    // rather than branched on, so that a miss costs no mispredicted jump.
    for (int n = 0; n < count; ++n) {
        const int position = positions ? positions[n] : n;
        if (check_ids) {
            // Rule 2: piston samples (boundary 1) land only on piston triangles; others anywhere.
            const int id = locate_triangles[list[position]].boundary_id;
            if ((rule == 1 && id != sample_boundary_id) ||
                (rule == 2 && sample_boundary_id == 1 && id != 1))
                continue;
        }
        std::uint64_t bits;
        std::memcpy(&bits, &spheres[position], sizeof bits);
        const __m128 sphere = _mm_cvtepi32_ps(
            _mm_unpacklo_epi16(_mm_cvtsi64_si128(static_cast<long long>(bits)), zero));
        const __m128 d = _mm_sub_ps(sample, sphere);  // dx dy dz -(reach + tolerance)
        const __m128 squares = _mm_mul_ps(d, d);
        // dx^2 + dy^2 + dz^2 against the limit squared.
        const __m128 xy = _mm_add_ss(squares, _mm_shuffle_ps(squares, squares, 1));
        const __m128 xyz = _mm_add_ss(xy, _mm_movehl_ps(squares, squares));
        const __m128 limit = _mm_shuffle_ps(squares, squares, 3);
        reached[found] = list[position];
        found += _mm_comile_ss(xyz, limit);
        if (found == room) {
            // More than the room holds (a tolerance as large as the triangles): those found
            // are tried now, the rest as they come.
            for (int k = 0; k < found; ++k)
                try_triangle(p, reached[k], tolerance, rounding, best, best_distance);
            found = 0;
        }
    }
    // The records of those reached are asked for together, so that they arrive together
    // rather than one after another.
    for (int k = 0; k < found; ++k) {
        const char* record = reinterpret_cast<const char*>(&locate_triangles[reached[k]]);
        __builtin_prefetch(record);
        __builtin_prefetch(record + sizeof(LocateTriangle) - 1);
    }
    for (int k = 0; k < found; ++k)
        try_triangle(p, reached[k], tolerance, rounding, best, best_distance);
    return best;
}

}  // namespace

bool point_in_triangle(const double r[3], const Triangle& triangle, double& u_out, double& v_out) {
    const TriangleEdges edges = triangle_edges(triangle);
    int i, j;
    solving_axes(edges.edge1, edges.edge2, i, j);
    return inside(r, edges.edge1, edges.edge2, i, j, u_out, v_out);
}

namespace {

// normalize() for two vectors at once, a lane each: the same operations in the same order,
// each rounded alike, and a vector of length 0 left as it is.
void normalize_two(double first[3], double second[3]) {
    const __m128d x = _mm_setr_pd(first[0], second[0]);
    const __m128d y = _mm_setr_pd(first[1], second[1]);
    const __m128d z = _mm_setr_pd(first[2], second[2]);
    const __m128d length = _mm_sqrt_pd(
        _mm_add_pd(_mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y)), _mm_mul_pd(z, z)));
    const __m128d zero = _mm_cmpeq_pd(length, _mm_setzero_pd());
    auto scaled = [&](__m128d v) {
        return _mm_or_pd(_mm_and_pd(zero, v), _mm_andnot_pd(zero, _mm_div_pd(v, length)));
    };
    double out[3][2];
    _mm_storeu_pd(out[0], scaled(x));
    _mm_storeu_pd(out[1], scaled(y));
    _mm_storeu_pd(out[2], scaled(z));
    for (int a = 0; a < 3; ++a) {
        first[a] = out[a][0];
        second[a] = out[a][1];
    }
}

// The record of triangle t but for its normal; the normal before normalising, and whether
// its corners are apart.
LocateTriangle unfinished_record(std::size_t t, double n[3], bool& has_edges) {
    const Triangle& source = triangle_table[t];
    LocateTriangle target;
    for (int k = 0; k < 3; ++k) target.corner_code[k] = static_cast<std::uint32_t>(source.vert[k]);
    const double* p0 = corner(target, 0);
    const double* p1 = corner(target, 1);
    const double* p2 = corner(target, 2);
    // The triangle's edges as the surface works them out: P1 - P0 and P2 - P0.
    double edge1[3], edge2[3];
    for (int a = 0; a < 3; ++a) {
        edge1[a] = p1[a] - p0[a];
        edge2[a] = p2[a] - p0[a];
    }
    int i, j;
    solving_axes(edge1, edge2, i, j);
    target.corner_code[0] |= static_cast<std::uint32_t>(i) << 30;
    target.corner_code[1] |= static_cast<std::uint32_t>(j) << 30;
    target.boundary_id = triangle_geometry[t].boundary_id;
    // triangle_normal's, operation for operation, from the edges at hand.
    n[0] = edge1[1] * edge2[2] - edge1[2] * edge2[1];
    n[1] = edge1[2] * edge2[0] - edge1[0] * edge2[2];
    n[2] = edge1[0] * edge2[1] - edge1[1] * edge2[0];
    // A root is zero exactly when its square is.
    auto apart = [&](const double* a, const double* b) {
        const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
        return dx * dx + dy * dy + dz * dz != 0;
    };
    has_edges = apart(p0, p1) && apart(p1, p2) && apart(p2, p0);
    return target;
}

// No plane, no sample: the NaN of such a triangle's solve would refuse every one, but a
// normal that failed to normalise is not a number to rely on.
void finish_record(LocateTriangle& target, const double n[3], bool has_edges) {
    const bool has_area = n[0] * n[0] + n[1] * n[1] + n[2] * n[2] > 0.5;
    for (int a = 0; a < 3; ++a)
        target.normal[a] = has_area && has_edges ? n[a] : std::nan("");
}

}  // namespace

void prepare_locate_triangles() {
    const std::size_t count = triangle_table.size();
    if (vertex_table.size() > corner_index_mask)
        fatal("ERROR: the surface has %zu vertices; point location takes at most %u\n",
              vertex_table.size(), corner_index_mask);
    locate_points = reinterpret_cast<const double*>(vertex_table.data());
    locate_triangles = std::vector<LocateTriangle>();
    reserve_large(locate_triangles, count);
    // Two at a time: their normals are normalised together.
    std::size_t t = 0;
    for (; t + 1 < count; t += 2) {
        double n[2][3];
        bool has_edges[2];
        LocateTriangle first = unfinished_record(t, n[0], has_edges[0]);
        LocateTriangle second = unfinished_record(t + 1, n[1], has_edges[1]);
        normalize_two(n[0], n[1]);
        finish_record(first, n[0], has_edges[0]);
        finish_record(second, n[1], has_edges[1]);
        locate_triangles.push_back(first);
        locate_triangles.push_back(second);
    }
    if (t < count) {
        double n[3];
        bool has_edges;
        LocateTriangle last = unfinished_record(t, n, has_edges);
        normalize(n);
        finish_record(last, n, has_edges);
        locate_triangles.push_back(last);
    }
}

void locate_corners(int triangle, double corners[3][3]) {
    const LocateTriangle& tri = locate_triangles[triangle];
    for (int k = 0; k < 3; ++k)
        for (int a = 0; a < 3; ++a) corners[k][a] = corner(tri, k)[a];
}

namespace {

// The leaf's copy of a triangle's sphere, in steps from `origin`; per_step is 1 / sphere_step.
// The values are positive where they are rounded: truncating rounds down, and up once more
// past a fraction.
inline Sphere sphere_in_steps(const WideSphere& wide, const float origin[3], double per_step) {
    if (std::isnan(wide.reach)) return sphere_never;
    Sphere sphere;
    for (int a = 0; a < 3; ++a) {
        const double x = (static_cast<double>(wide.center[a]) - static_cast<double>(origin[a])) * per_step;
        if (!(x >= 0 && x <= sphere_steps)) return sphere_always;
        sphere.center[a] = static_cast<std::uint16_t>(static_cast<int>(x + 0.5));  // floor
    }
    // Rounding the centre to a step moves it at most 0.87 of a step: three to spare.
    const double reach = static_cast<double>(wide.reach) * per_step * (1 + 1e-9) + 3;
    if (!(reach < 32767)) return sphere_always;
    const int whole = static_cast<int>(reach);
    sphere.reach = static_cast<std::uint16_t>(whole < reach ? whole + 1 : whole);  // ceil
    return sphere;
}

// std::nextafter(x, HUGE_VALF), without the call.
inline float next_float_up(float x) {
    if (!(x < HUGE_VALF)) return x;  // infinite or not a number
    if (x == 0) return std::numeric_limits<float>::denorm_min();
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits = x > 0 ? bits + 1 : bits - 1;
    std::memcpy(&x, &bits, sizeof bits);
    return x;
}

// The single-precision sphere holds the double one: its radius grows by how far the centre
// moved in rounding, and rounds up.
WideSphere wide_sphere(const LocateTriangle& tri) {
    double center[3] = {0, 0, 0}, reach, moved[3];  // the centre is set by the first candidate
    bounding_sphere(tri, center, reach);
    WideSphere sphere;
    for (int a = 0; a < 3; ++a) {
        sphere.center[a] = static_cast<float>(center[a]);
        moved[a] = static_cast<double>(sphere.center[a]);
    }
    const double widened = (reach + length_between(center, moved)) * (1 + 1e-6);
    sphere.reach = next_float_up(static_cast<float>(widened));
    if (!std::isfinite(moved[0] + moved[1] + moved[2])) sphere.reach = HUGE_VALF;
    if (std::isnan(tri.normal[0])) sphere.reach = std::nanf("");
    return sphere;
}

void set_sphere_step() {
    sphere_step = sphere_span * cell_size[octree_depth] / sphere_steps;
    // A surface of no extent: any step will do.
    if (!(sphere_step > 0 && std::isfinite(sphere_step))) sphere_step = 1;
}

// The origin of the spheres a leaf of that centre stores.
float sphere_origin_of(float leaf_center) {
    return static_cast<float>(static_cast<double>(leaf_center) -
                              sphere_span / 2 * cell_size[octree_depth]);
}

// Set by begin_leaf_spheres: the leaves' spheres are being written with their lists, and
// the origin of a leaf's, by the leaf's cell along each axis.
bool leaf_spheres_written = false;
float leaf_origin_by_cell[3][1 << octree_depth];
static_assert((1 << octree_depth) == 64, "begin_leaf_spheres takes 64 cells an axis");

}  // namespace

void begin_leaf_spheres(std::size_t entry_count, const float leaf_centers[3][1 << octree_depth]) {
    set_sphere_step();
    for (int a = 0; a < 3; ++a)
        for (int cell = 0; cell < (1 << octree_depth); ++cell)
            leaf_origin_by_cell[a][cell] = sphere_origin_of(leaf_centers[a][cell]);
    leaf_spheres = std::vector<Sphere>();
    reserve_large(leaf_spheres, entry_count);
    leaf_spheres.resize(entry_count);
    leaf_spheres_written = true;
}

void write_leaf_spheres(const int* triangles, const std::uint32_t* positions, const int* paths,
                        int count) {
    const double per_step = 1 / sphere_step;
    // Each triangle's sphere first, one after another, so that their roots overlap.
    constexpr int room = leaf_spheres_batch;
    WideSphere wide[room];
    int sphere_of[room];
    for (int n = 0, distinct = 0; n < count; ++n) {
        if (n == 0 || triangles[n] != triangles[n - 1])
            wide[distinct++] = wide_sphere(locate_triangles[triangles[n]]);
        sphere_of[n] = distinct - 1;
    }
    // The path's three bits a level, root first, x lowest: every third bit from an axis's
    // is its cell, gathered three shifts at a time.
    auto every_third = [](std::uint32_t bits) {
        bits &= 0x9249;  // bits 0, 3, ..., 15
        bits = (bits | bits >> 2) & 0x30c3;
        bits = (bits | bits >> 4) & 0x300f;
        bits = (bits | bits >> 8) & 0x3f;
        return static_cast<int>(bits);
    };
    static_assert(octree_depth == 6, "six bits an axis");
    for (int n = 0; n < count; ++n) {
        const std::uint32_t path = static_cast<std::uint32_t>(paths[n]);
        const int cell[3] = {every_third(path), every_third(path >> 1), every_third(path >> 2)};
        const float origin[3] = {leaf_origin_by_cell[0][cell[0]], leaf_origin_by_cell[1][cell[1]],
                                 leaf_origin_by_cell[2][cell[2]]};
        leaf_spheres[positions[n]] = sphere_in_steps(wide[sphere_of[n]], origin, per_step);
    }
}

void prepare_locate_grids() {
    leaf_grids.assign(octree_nodes.size(), LeafGrid{});
    set_leaf_bounds();
    ++octree_generation;
    set_sphere_step();
    if (leaf_spheres_written) {
        // Every leaf has a list of its own.
        for (std::size_t node = 0; node < octree_nodes.size(); ++node)
            if (octree_nodes[node].level == octree_depth)
                for (int a = 0; a < 3; ++a)
                    leaf_grids[node].sphere_origin[a] = sphere_origin_of(octree_nodes[node].center[a]);
        leaf_spheres_written = false;
        build_leaf_grids();
        return;
    }
    std::vector<WideSphere> spheres;
    reserve_large(spheres, locate_triangles.size());
    spheres.resize(locate_triangles.size());
    for (std::size_t t = 0; t < spheres.size(); ++t) spheres[t] = wide_sphere(locate_triangles[t]);
    leaf_spheres = std::vector<Sphere>();
    reserve_large(leaf_spheres, octree_leaf_triangles.size());
    leaf_spheres.resize(octree_leaf_triangles.size());
    // Leaves that share one stored list share its spheres and the origin of the leaf that
    // stored them.
    std::unordered_map<int, int> stored_by;  // list_begin -> node
    for (std::size_t node = 0; node < octree_nodes.size(); ++node) {
        const OctreeNode& leaf = octree_nodes[node];
        if (leaf.level != octree_depth) continue;
        LeafGrid& grid = leaf_grids[node];
        auto [first, fresh] = stored_by.try_emplace(leaf.list_begin, static_cast<int>(node));
        if (!fresh) {
            std::copy(leaf_grids[first->second].sphere_origin,
                      leaf_grids[first->second].sphere_origin + 3, grid.sphere_origin);
            continue;
        }
        for (int a = 0; a < 3; ++a) grid.sphere_origin[a] = sphere_origin_of(leaf.center[a]);
        const int* list = octree_leaf_triangles.data() + leaf.list_begin;
        const double per_step = 1 / sphere_step;
        for (int n = 0; n < leaf.list_count; ++n) {
            if (n + 16 < leaf.list_count) __builtin_prefetch(&spheres[list[n + 16]]);
            leaf_spheres[leaf.list_begin + n] =
                sphere_in_steps(spheres[list[n]], grid.sphere_origin, per_step);
        }
    }
    spheres = std::vector<WideSphere>();
    build_leaf_grids();
}

std::size_t locate_table_bytes() {
    return locate_triangles.capacity() * sizeof(LocateTriangle) + 
           leaf_spheres.capacity() * sizeof(Sphere) +
           leaf_grids.capacity() * sizeof(LeafGrid) +
           grid_cell_begin.capacity() * sizeof(std::uint32_t) +
           grid_cell_entries.capacity() * sizeof(std::uint16_t) + grid_cell_bytes.capacity();
}

std::uint64_t locate_order_key(const double p[3]) {
    constexpr double steps = 1 << 21;
    std::uint64_t key = 0;
    for (int a = 0; a < 3; ++a) {
        const double x = (p[a] - octree_origin[a]) / cell_size[0] * steps;
        if (!(x == x)) return ~std::uint64_t{0};
        const std::uint64_t step =
            x <= 0 ? 0 : (x >= steps - 1 ? (1u << 21) - 1 : static_cast<std::uint64_t>(x));
        // Spread the 21 bits three apart; axis a takes bit positions a, a + 3, ...
        std::uint64_t spread = step;
        spread = (spread | spread << 32) & 0x1f00000000ffffULL;
        spread = (spread | spread << 16) & 0x1f0000ff0000ffULL;
        spread = (spread | spread << 8) & 0x100f00f00f00f00fULL;
        spread = (spread | spread << 4) & 0x10c30c30c30c30c3ULL;
        spread = (spread | spread << 2) & 0x1249249249249249ULL;
        key |= spread << a;
    }
    return key;
}

// On a cache line of its own, and its loops and jump targets on 32-byte boundaries (this
// file's build options): how fast the search runs then depends on nothing linked before
// it, which otherwise moved it by several per cent either way with changes elsewhere.
__attribute__((aligned(64))) int locate_point(const double p[3], int sample_boundary_id, double& distance_out) {
    const OctreeNode* nodes = octree_nodes.data();
    int node = last_leaf.node;
    // Exactly the comparisons the descent would make on the way to that leaf; a coordinate
    // that is not a number fails them and descends.
    if (last_leaf.generation != octree_generation || node == no_node ||
        !(p[0] > static_cast<double>(leaf_grids[node].above[0]) &&
          p[0] <= static_cast<double>(leaf_grids[node].below[0]) &&
          p[1] > static_cast<double>(leaf_grids[node].above[1]) &&
          p[1] <= static_cast<double>(leaf_grids[node].below[1]) &&
          p[2] > static_cast<double>(leaf_grids[node].above[2]) &&
          p[2] <= static_cast<double>(leaf_grids[node].below[2]))) {
        node = octree_root;
        // A coordinate equal to the centre goes to the minus side.
        for (int level = 0; level < octree_depth; ++level) {
            const OctreeNode& parent = nodes[node];
            int octant = (p[0] > static_cast<double>(parent.center[0]) ? 1 : 0) +
                         (p[1] > static_cast<double>(parent.center[1]) ? 2 : 0) +
                         (p[2] > static_cast<double>(parent.center[2]) ? 4 : 0);
            node = parent.child[octant];
            if (node == no_node) return no_triangle;
        }
        last_leaf = {octree_generation, node};
    }

    const OctreeNode& leaf = nodes[node];
    const LeafGrid& grid = leaf_grids[node];
    // Whether the boundary-ID rule refuses some of the leaf's triangles, all, or none.
    const int rule = settings.enforce_boundID_match;
    const bool uniform = grid.lowest_boundary_id == grid.highest_boundary_id;
    bool excluded = false;
    if (rule == 1)
        excluded = !(uniform && grid.lowest_boundary_id == sample_boundary_id);
    else if (rule == 2)
        excluded = sample_boundary_id == 1 && !(uniform && grid.lowest_boundary_id == 1);
    const bool check_ids = excluded && !uniform;

    int best = no_triangle;
    double best_distance = 1e9;
    if (!excluded || check_ids) {
        // A sample outside the leaf's cube (the descent compares with single-precision
        // centres) sweeps the whole leaf; so does one with a coordinate that is not a number.
        const int* list = octree_leaf_triangles.data() + leaf.list_begin;
        const Sphere* spheres = leaf_spheres.data() + leaf.list_begin;
        const double cells = grid.cells;
        const double half_edge = cell_size[octree_depth] / 2;
        const double x = (p[0] - (static_cast<double>(leaf.center[0]) - half_edge)) * grid.cell_scale;
        const double y = (p[1] - (static_cast<double>(leaf.center[1]) - half_edge)) * grid.cell_scale;
        const double z = (p[2] - (static_cast<double>(leaf.center[2]) - half_edge)) * grid.cell_scale;
        if (x >= 0 && x < cells && y >= 0 && y < cells && z >= 0 && z < cells) {
            const int cell = grid.cells_begin +
                             (static_cast<int>(z) * grid.cells + static_cast<int>(y)) * grid.cells +
                             static_cast<int>(x);
            const std::uint32_t begin = grid_cell_begin[cell];
            const int count = static_cast<int>(grid_cell_begin[cell + 1] - begin);
            auto search = [&](const auto* positions) {
                return check_ids ? search_list<true>(p, sample_boundary_id, list, spheres,
                                                     grid.sphere_origin, positions, count,
                                                     best_distance)
                                 : search_list<false>(p, sample_boundary_id, list, spheres,
                                                      grid.sphere_origin, positions, count,
                                                      best_distance);
            };
            best = grid.narrow ? search(grid_cell_bytes.data() + begin)
                               : search(grid_cell_entries.data() + begin);
        } else {
            const int count = leaf.list_count;
            best = check_ids ? search_list<true, int>(p, sample_boundary_id, list, spheres,
                                                      grid.sphere_origin, nullptr, count,
                                                      best_distance)
                             : search_list<false, int>(p, sample_boundary_id, list, spheres,
                                                       grid.sphere_origin, nullptr, count,
                                                       best_distance);
        }
    }
    if (best != no_triangle) {
        distance_out = best_distance;
        return best;
    }
    distance_out = -1.0;
    return excluded ? refused_for_boundary_id : no_triangle;
}
