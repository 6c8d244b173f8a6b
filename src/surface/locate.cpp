// surface/locate.cpp: which triangle a sample lies on, searched in the sample's octree leaf.
//
// This runs once per sample and step. A leaf of a fine surface holds a few hundred
// triangles, nearly all within the tolerance of the sample's plane, so the leaf is first
// swept through a copy of its list that holds, in list order, each triangle's bounding
// sphere: only triangles whose sphere the sample reaches are looked up in the compact
// per-triangle table. A triangle can only be accepted at a point of itself within the
// tolerance of the sample, so the sweep drops none that could be; the best is the nearest
// accepted one, the first in list order among equals, whatever else the list holds.
#include "surface/locate.h"

#include "config/options.h"
#include "surface/octree.h"
#include "surface/surface.h"

#include <algorithm>
#include <cmath>
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
std::vector<LeafEntry> leaf_entries;  // parallel to octree_leaf_triangles

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

}  // namespace

bool point_in_triangle(const double r[3], const Triangle& triangle, double& u_out, double& v_out) {
    int i, j;
    solving_axes(triangle.edge1, triangle.edge2, i, j);
    return inside(r, triangle.edge1, triangle.edge2, i, j, u_out, v_out);
}

void prepare_locate_tables() {
    const std::size_t count = triangle_table.size();
    locate_triangles.assign(count, LocateTriangle{});
    std::vector<double> reach(count), center(3 * count);
    for (std::size_t t = 0; t < count; ++t) {
        const Triangle& source = triangle_table[t];
        LocateTriangle& target = locate_triangles[t];
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
            target.edge1[a] = source.edge1[a];
            target.edge2[a] = source.edge2[a];
            for (int k = 0; k < 3; ++k) {
                target.edge_normal[k][a] = source.edge_normal[k][a];
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
}

int locate_point(const double p[3], int sample_boundary_id, double& distance_out) {
    const OctreeNode* nodes = octree_nodes.data();
    const OctreeNode* node = nodes + octree_root;
    // A coordinate equal to the centre goes to the minus side.
    for (int level = 0; level < octree_depth; ++level) {
        int octant = (p[0] > static_cast<double>(node->center[0]) ? 1 : 0) +
                     (p[1] > static_cast<double>(node->center[1]) ? 2 : 0) +
                     (p[2] > static_cast<double>(node->center[2]) ? 4 : 0);
        int child = node->child[octant];
        if (child == no_node) return no_triangle;
        node = nodes + child;
    }

    const double tolerance = settings.tolerance;
    const double tolerance_reach = tolerance * (1 + 1e-6);
    const int rule = settings.enforce_boundID_match;
    const LeafEntry* entries = leaf_entries.data() + node->list_begin;
    const LocateTriangle* triangles = locate_triangles.data();
    int best = no_triangle;
    double best_distance = 1e9;
    bool excluded = false;
    // Leaf lists run from high index to low and only a strictly smaller distance replaces
    // the best, so of two equally near triangles the higher index wins; existing maps rely
    // on it.
    for (int n = 0; n < node->list_count; ++n) {
        const LeafEntry& entry = entries[n];
        // Rule 2: piston samples (boundary 1) land only on piston triangles; others anywhere.
        if ((rule == 1 && entry.boundary_id != sample_boundary_id) ||
            (rule == 2 && sample_boundary_id == 1 && entry.boundary_id != 1)) {
            excluded = true;
            continue;
        }
        const double c[3] = {p[0] - entry.center[0], p[1] - entry.center[1],
                             p[2] - entry.center[2]};
        const double limit = entry.reach + tolerance_reach;
        if (!(c[0] * c[0] + c[1] * c[1] + c[2] * c[2] <= limit * limit)) continue;

        const int t = entry.triangle;
        const LocateTriangle& tri = triangles[t];
        const double r[3] = {p[0] - tri.p0[0], p[1] - tri.p0[1], p[2] - tri.p0[2]};
        const double h = r[0] * tri.normal[0] + r[1] * tri.normal[1] + r[2] * tri.normal[2];
        const double a = std::fabs(h);
        if (a > tolerance || a >= best_distance) continue;

        const double q[3] = {p[0] - h * tri.normal[0], p[1] - h * tri.normal[1],
                             p[2] - h * tri.normal[2]};
        const double qr[3] = {q[0] - tri.p0[0], q[1] - tri.p0[1], q[2] - tri.p0[2]};
        double u, v;
        if (inside(qr, tri.edge1, tri.edge2, tri.axis_i, tri.axis_j, u, v)) {
            best = t;
            best_distance = a;
            continue;
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
    if (best != no_triangle) {
        distance_out = best_distance;
        return best;
    }
    distance_out = -1.0;
    return excluded ? refused_for_boundary_id : no_triangle;
}
