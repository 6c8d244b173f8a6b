#include "surface/locate.h"

#include "surface_test_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// The unit right triangle (0,0,0) (1,0,0) (0,1,0) of boundary 4, with loose vertices that
// make a cube of edge 2.1 around it, tolerance 0.01.
void unit_triangle(int boundary_id = 4) {
    use_identity_frame();
    settings.tolerance = 0.01;
    read_surface_text("4 5 1\n0 0 0 0\n1 1 0 0\n2 0 1 0\n3 -1 -1 -1\n4 1 1 1\n0 1 2 " +
                      std::to_string(boundary_id) + "\n");
    build_subdivision();
}

int locate(double x, double y, double z, double& distance, int boundary_id = 4) {
    const double p[3] = {x, y, z};
    return locate_point(p, boundary_id, distance);
}

}  // namespace

TEST(LocatePoint, OnThePlaneAndAtExactlyTheTolerance) {
    unit_triangle();
    double distance = 7;
    EXPECT_EQ(locate(0.2, 0.2, 0, distance), 0);
    EXPECT_EQ(distance, 0.0);
    EXPECT_EQ(locate(0.2, 0.2, 0.01, distance), 0);
    EXPECT_EQ(distance, 0.01);
    EXPECT_EQ(locate(0.2, 0.2, -0.01, distance), 0);
    EXPECT_EQ(locate(0.2, 0.2, 0.0100001, distance), no_triangle);
    EXPECT_EQ(distance, -1.0);  // searched the leaf and found nothing
}

TEST(LocatePoint, MissingOctantLeavesTheDistanceAlone) {
    unit_triangle();
    double distance = 7;
    EXPECT_EQ(locate(-0.9, -0.9, 0.9, distance), no_triangle);
    EXPECT_EQ(distance, 7.0);
}

TEST(LocatePoint, JustOutsideAnEdgeFallsBackToTheFootOnIt) {
    unit_triangle();
    double distance = 0;
    // Projection (0.5, -0.005) is outside edge 0; the foot (0.5, 0, 0) is 0.005831 away.
    EXPECT_EQ(locate(0.5, -0.005, 0.003, distance), 0);
    EXPECT_DOUBLE_EQ(distance, std::sqrt(0.005 * 0.005 + 0.003 * 0.003));
    // Outside the long edge 1 by 0.007 along its normal.
    const double out = 0.007 / std::sqrt(2.0);
    EXPECT_EQ(locate(0.5 + out, 0.5 + out, 0, distance), 0);
    EXPECT_NEAR(distance, 0.007, 1e-15);
    EXPECT_EQ(locate(0.5, -0.011, 0, distance), no_triangle);
}

TEST(LocatePoint, BeyondACornerOnlyTheChosenEdgeCounts) {
    unit_triangle();
    double distance = 0;
    // Beyond corner (1,0,0), 0.0057 from it: v < 0 picks edge 0, whose foot (1.004, 0, 0)
    // lies past the edge's end, so the sample is not taken although within tolerance.
    EXPECT_EQ(locate(1.004, -0.004, 0, distance), no_triangle);

    // At an obtuse corner the foot on the chosen edge can stay on it: corners (0,0,0),
    // (1,0,0), (2,1,0); (1, -0.003) is outside edges 0 and 1, v < 0 picks edge 0, and the
    // foot is the corner (1, 0, 0) itself.
    use_identity_frame();
    settings.tolerance = 0.01;
    read_surface_text("4 5 1\n0 0 0 0\n1 1 0 0\n2 2 1 0\n3 -1 -1 -1\n4 3 3 1\n0 1 2 4\n");
    build_subdivision();
    EXPECT_EQ(locate(1.0, -0.003, 0, distance), 0);
    EXPECT_DOUBLE_EQ(distance, 0.003);
}

TEST(LocatePoint, TieGoesToHigherIndex) {
    use_identity_frame();
    settings.tolerance = 0.01;
    // The unit square split along its diagonal into triangles 0 and 1, and triangle 2 a copy
    // of triangle 0.
    read_surface_text("5 6 3\n0 0 0 0\n1 1 0 0\n2 1 1 0\n3 0 1 0\n4 -1 -1 -1\n5 2 2 1\n"
                      "0 1 2 1\n0 2 3 1\n0 1 2 1\n");
    build_subdivision();
    double distance = 0;
    EXPECT_EQ(locate(0.5, 0.5, 0.005, distance, 1), 2);  // on the diagonal, above all three
    EXPECT_EQ(distance, 0.005);
    EXPECT_EQ(locate(0.3, 0.6, 0.005, distance, 1), 1);  // only triangle 1 below
    EXPECT_EQ(locate(0.6, 0.3, 0.0, distance, 1), 2);
}

TEST(LocatePoint, BoundaryIdRules) {
    unit_triangle(4);
    double distance = 0;
    settings.enforce_boundID_match = 1;
    EXPECT_EQ(locate(0.2, 0.2, 0, distance, 3), refused_for_boundary_id);
    EXPECT_EQ(distance, -1.0);
    EXPECT_EQ(locate(0.2, 0.2, 0, distance, 4), 0);
    // Refused for its boundary, but also too far: the refusal is still what is reported.
    EXPECT_EQ(locate(0.2, 0.2, 0.02, distance, 3), refused_for_boundary_id);
    EXPECT_EQ(locate(0.2, 0.2, 0.02, distance, 4), no_triangle);

    // Rule 2: piston samples (boundary 1) only on piston triangles; others anywhere.
    unit_triangle(2);
    settings.enforce_boundID_match = 2;
    EXPECT_EQ(locate(0.2, 0.2, 0, distance, 1), refused_for_boundary_id);
    EXPECT_EQ(locate(0.2, 0.2, 0, distance, 3), 0);
    unit_triangle(1);
    settings.enforce_boundID_match = 2;
    EXPECT_EQ(locate(0.2, 0.2, 0, distance, 2), 0);
    EXPECT_EQ(locate(0.2, 0.2, 0, distance, 1), 0);

    settings.enforce_boundID_match = 0;
    EXPECT_EQ(locate(0.2, 0.2, 0, distance, 9), 0);
}

TEST(LocatePoint, TriangleWithAZeroLengthEdgeTakesNoSample) {
    use_identity_frame();
    settings.tolerance = 0.01;
    // Triangle 1 has corners 1 and 3 at the same place, and lies over triangle 0.
    read_surface_text("4 5 2\n0 0 0 0\n1 1 0 0\n2 0 1 0\n3 1 0 0\n4 1 1 1\n0 1 2 1\n0 1 3 1\n");
    build_subdivision();
    double distance = 0;
    EXPECT_EQ(locate(0.5, 0.0, 0.0, distance, 1), 0);
    EXPECT_EQ(locate(0.5, -0.001, 0.0, distance, 1), 0);
}

TEST(PointInTriangle, SolvesInThePlaneOfTheDominantAxes) {
    use_identity_frame();
    // A triangle in the plane x = 2: the solve drops x.
    read_surface_text("2 3 1\n0 2 0 0\n1 2 4 0\n2 2 0 2\n0 1 2 1\n");
    double u = 0, v = 0;
    const double r[3] = {0, 1, 0.5};  // 0.25 edge1 + 0.25 edge2
    EXPECT_TRUE(point_in_triangle(r, triangle_table[0], u, v));
    EXPECT_DOUBLE_EQ(u, 0.25);
    EXPECT_DOUBLE_EQ(v, 0.25);
    const double corner[3] = {0, 4, 0};  // u = 1, v = 0: on the edge allowance
    EXPECT_TRUE(point_in_triangle(corner, triangle_table[0], u, v));
    const double outside[3] = {0, 3, 1.5};  // u + v = 1.5
    EXPECT_FALSE(point_in_triangle(outside, triangle_table[0], u, v));
    EXPECT_DOUBLE_EQ(u + v, 1.5);
}

// Every triangle within tolerance of a sample is in its leaf: searching the whole surface
// the same way gives the same answer.
TEST(LocatePoint, LeafSearchAgreesWithTheWholeSurface) {
    use_identity_frame();
    settings.tolerance = 0.004;
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> unit(0, 1);
    // A wavy sheet of 2 * 20 * 20 triangles over the unit square.
    const int n = 20;
    std::string text = std::to_string((n + 1) * (n + 1) - 1) + " " +
                       std::to_string((n + 1) * (n + 1)) + " " + std::to_string(2 * n * n) + "\n";
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            double x = double(i) / n, y = double(j) / n;
            char line[128];
            std::snprintf(line, sizeof line, "%d %.17g %.17g %.17g\n", j * (n + 1) + i, x, y,
                          0.05 * std::sin(6 * x) * std::cos(5 * y));
            text += line;
        }
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            int a = j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
            text += std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(d) + " 1\n";
            text += std::to_string(a) + " " + std::to_string(d) + " " + std::to_string(c) + " 1\n";
        }
    read_surface_text(text);
    build_subdivision();

    int found = 0;
    for (int s = 0; s < 3000; ++s) {
        const TriangleGeometry& near = triangle_geometry[random() % triangle_geometry.size()];
        double p[3];
        for (int a = 0; a < 3; ++a) p[a] = near.centroid[a] + 0.06 * (unit(random) - 0.5);
        p[2] = near.centroid[2] + 0.012 * (unit(random) - 0.5);
        double leaf_distance = -5;
        int leaf_result = locate_point(p, 1, leaf_distance);

        int best = no_triangle;
        double best_distance = 1e9;
        for (int t = static_cast<int>(triangle_table.size()) - 1; t >= 0; --t) {
            const Triangle& tri = triangle_table[t];
            double normal[3];
            triangle_normal(tri, normal);
            const Vertex& p0 = vertex_table[tri.vert[0]];
            double r[3] = {p[0] - p0.x, p[1] - p0.y, p[2] - p0.z};
            double h = r[0] * normal[0] + r[1] * normal[1] + r[2] * normal[2];
            if (std::fabs(h) > settings.tolerance || std::fabs(h) >= best_distance) continue;
            double q[3] = {r[0] - h * normal[0], r[1] - h * normal[1], r[2] - h * normal[2]};
            double u, v;
            if (point_in_triangle(q, tri, u, v)) {
                best = t;
                best_distance = std::fabs(h);
            }
        }
        // Only the plane-and-inside answers are compared; the edge fallback may add others.
        if (best != no_triangle && leaf_result != best) {
            EXPECT_LE(leaf_distance, best_distance) << s;
        } else if (best != no_triangle) {
            EXPECT_EQ(leaf_distance, best_distance);
            ++found;
        }
        if (best != no_triangle) {
            EXPECT_GE(leaf_result, 0) << s;
        }
    }
    EXPECT_GT(found, 1000);
}

namespace {

// The leaf search exactly as the rule reads: every triangle of the sample's leaf, in list
// order, no filter.
int plain_leaf_scan(const double p[3], int sample_boundary_id, double& distance_out) {
    const int node = leaf_of(p);
    if (node == no_node) return no_triangle;
    const OctreeNode& leaf = octree_nodes[node];
    const int rule = settings.enforce_boundID_match;
    const double tolerance = settings.tolerance;
    int best = no_triangle;
    double best_distance = 1e9;
    bool excluded = false;
    for (int n = 0; n < leaf.list_count; ++n) {
        const int t = octree_leaf_triangles[leaf.list_begin + n];
        const Triangle& tri = triangle_table[t];
        const int id = triangle_geometry[t].boundary_id;
        if ((rule == 1 && id != sample_boundary_id) ||
            (rule == 2 && sample_boundary_id == 1 && id != 1)) {
            excluded = true;
            continue;
        }
        const Vertex& p0 = vertex_table[tri.vert[0]];
        const double base[3] = {p0.x, p0.y, p0.z};
        const double r[3] = {p[0] - base[0], p[1] - base[1], p[2] - base[2]};
        double normal[3];
        triangle_normal(tri, normal);
        const double h = r[0] * normal[0] + r[1] * normal[1] + r[2] * normal[2];
        const double a = std::fabs(h);
        if (a > tolerance || a >= best_distance) continue;
        double q[3], qr[3];
        for (int k = 0; k < 3; ++k) q[k] = p[k] - h * normal[k];
        for (int k = 0; k < 3; ++k) qr[k] = q[k] - base[k];
        double u, v;
        if (point_in_triangle(qr, tri, u, v)) {
            best = t;
            best_distance = a;
            continue;
        }
        const int k = u < 0 ? 2 : (v < 0 ? 0 : 1);
        const Vertex& corner = vertex_table[tri.vert[k]];
        const double pk[3] = {corner.x, corner.y, corner.z};
        const TriangleEdges edges = triangle_edges(tri);
        const double* en = edges.edge_normal[k];
        const double s = (q[0] - pk[0]) * en[0] + (q[1] - pk[1]) * en[1] + (q[2] - pk[2]) * en[2];
        double f[3], d[3], fr[3];
        for (int c = 0; c < 3; ++c) f[c] = q[c] - s * en[c];
        for (int c = 0; c < 3; ++c) d[c] = p[c] - f[c];
        const double e = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        for (int c = 0; c < 3; ++c) fr[c] = f[c] - base[c];
        if (e <= tolerance && e < best_distance && point_in_triangle(fr, tri, u, v)) {
            best = t;
            best_distance = e;
        }
    }
    distance_out = best != no_triangle ? best_distance : -1.0;
    if (best != no_triangle) return best;
    return excluded ? refused_for_boundary_id : no_triangle;
}

// A wavy sheet of 2 * n * n triangles over [0, size]^2 at height z0, boundary IDs 1 to 3 in
// stripes, with one loose vertex at `far` to set the size of the root cube.
std::string wavy_sheet(int n, double size, double far) {
    std::string text = std::to_string((n + 1) * (n + 1)) + " " +
                       std::to_string((n + 1) * (n + 1) + 1) + " " + std::to_string(2 * n * n) +
                       "\n";
    char line[160];
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            double x = size * i / n, y = size * j / n;
            std::snprintf(line, sizeof line, "%d %.17g %.17g %.17g\n", j * (n + 1) + i, x, y,
                          0.1 * size * std::sin(6 * x / size) * std::cos(5 * y / size));
            text += line;
        }
    std::snprintf(line, sizeof line, "%d %.17g %.17g %.17g\n", (n + 1) * (n + 1), far, far, far);
    text += line;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            int a = j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
            int id = 1 + (i / 3 + j / 5) % 3;
            text += std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(d) + " " +
                    std::to_string(id) + "\n";
            text += std::to_string(a) + " " + std::to_string(d) + " " + std::to_string(c) + " " +
                    std::to_string(id) + "\n";
        }
    return text;
}

// Random samples near random triangles, at their corners and edge midpoints (where
// neighbours tie) and far off; every answer and distance must be the plain scan's, bit for
// bit, under each boundary-ID rule.
void expect_plain_scan_answers(int samples, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    const double tolerance = settings.tolerance;
    int hits = 0, ties = 0;
    for (int s = 0; s < samples; ++s) {
        const Triangle& near = triangle_table[random() % triangle_table.size()];
        double near_normal[3];
        triangle_normal(near, near_normal);
        const Vertex& a = vertex_table[near.vert[0]];
        const Vertex& b = vertex_table[near.vert[1]];
        const Vertex& c = vertex_table[near.vert[2]];
        double u = unit(random), v = unit(random);
        switch (s % 5) {
        case 0: u = 0, v = 0; break;        // a corner
        case 1: u = 0.5, v = 0; break;      // an edge's midpoint
        default: if (u + v > 1) u = 1 - u, v = 1 - v;
        }
        const double height = tolerance * (s % 7 == 0 ? 8 * (unit(random) - 0.5)
                                                       : 2.4 * (unit(random) - 0.5));
        double p[3];
        const double pa[3] = {a.x, a.y, a.z}, pb[3] = {b.x, b.y, b.z}, pc[3] = {c.x, c.y, c.z};
        for (int k = 0; k < 3; ++k)
            p[k] = pa[k] + u * (pb[k] - pa[k]) + v * (pc[k] - pa[k]) + height * near_normal[k];
        const int sample_boundary_id = 1 + static_cast<int>(random() % 3);
        for (int rule = 0; rule <= 2; ++rule) {
            settings.enforce_boundID_match = rule;
            double got_distance = -7, want_distance = -7;
            const int got = locate_point(p, sample_boundary_id, got_distance);
            const int want = plain_leaf_scan(p, sample_boundary_id, want_distance);
            ASSERT_EQ(got, want) << "sample " << s << " rule " << rule;
            ASSERT_EQ(got_distance, want_distance) << "sample " << s << " rule " << rule;
            hits += got >= 0;
            ties += got >= 0 && s % 5 < 2;
        }
    }
    settings.enforce_boundID_match = 0;
    EXPECT_GT(hits, samples);
    EXPECT_GT(ties, samples / 10);
}

}  // namespace

// Crowded leaves: a fine sheet in a large root cube puts about two hundred triangles into
// each leaf, with a tolerance about a third of an edge, as on refined engine surfaces.
TEST(LocatePoint, CrowdedLeavesGiveThePlainScansAnswers) {
    use_identity_frame();
    settings.tolerance = 0.0005;
    read_surface_text(wavy_sheet(60, 0.1, 1.0));
    build_subdivision();
    int crowded = 0;
    for (const OctreeNode& node : octree_nodes)
        crowded += node.level == octree_depth && node.list_count >= 100;
    EXPECT_GT(crowded, 10);
    expect_plain_scan_answers(6000, 2026);
}

// A tolerance larger than the leaves: every cell lists much of its leaf.
TEST(LocatePoint, LargeToleranceGivesThePlainScansAnswers) {
    use_identity_frame();
    settings.tolerance = 0.03;
    read_surface_text(wavy_sheet(40, 1.0, 1.0));
    build_subdivision();
    expect_plain_scan_answers(3000, 7);
}

namespace {

// Samples where the solve's signs are closest to a tie: on each edge of a random triangle,
// nudged across it in the plane by amounts from below the rounding of the coordinates to
// well above it, at heights inside and just beyond the tolerance; also samples off the
// root cube and one that is not a number. Every answer and distance must be the plain
// scan's under each boundary-ID rule.
void expect_plain_scan_answers_at_edges(int triangles, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    const double tolerance = settings.tolerance;
    const double nudges[] = {0, 1e-17, -1e-17, 1e-15, -1e-15, 1e-12, -1e-12, 1e-8, -1e-8};
    int hits = 0, compared = 0;
    auto compare = [&](const double p[3], int sample_boundary_id) {
        for (int rule = 0; rule <= 2; ++rule) {
            settings.enforce_boundID_match = rule;
            double got_distance = -7, want_distance = -7;
            const int got = locate_point(p, sample_boundary_id, got_distance);
            const int want = plain_leaf_scan(p, sample_boundary_id, want_distance);
            ASSERT_EQ(got, want) << p[0] << " " << p[1] << " " << p[2] << " rule " << rule;
            if (want != no_triangle || leaf_of(p) != no_node) {
                ASSERT_EQ(got_distance, want_distance) << p[0] << " " << p[1] << " " << p[2];
            }
            hits += got >= 0;
            ++compared;
        }
    };
    for (int s = 0; s < triangles; ++s) {
        const Triangle& near = triangle_table[random() % triangle_table.size()];
        double near_normal[3];
        triangle_normal(near, near_normal);
        double corner[3][3];
        for (int k = 0; k < 3; ++k) {
            const Vertex& v = vertex_table[near.vert[k]];
            corner[k][0] = v.x, corner[k][1] = v.y, corner[k][2] = v.z;
        }
        const int k = static_cast<int>(random() % 3);
        const double* from = corner[k];
        const double* to = corner[(k + 1) % 3];
        const double along = s % 4 == 0 ? 0.0 : unit(random);
        const TriangleEdges near_edges = triangle_edges(near);
        const double* en = near_edges.edge_normal[k];
        const double length = std::sqrt((to[0] - from[0]) * (to[0] - from[0]) +
                                        (to[1] - from[1]) * (to[1] - from[1]) +
                                        (to[2] - from[2]) * (to[2] - from[2]));
        const double height = tolerance * (s % 3 == 0 ? 1.3 : 1.8) * (unit(random) - 0.5);
        for (double nudge : nudges) {
            double p[3];
            for (int a = 0; a < 3; ++a)
                p[a] = from[a] + along * (to[a] - from[a]) + nudge * length * en[a] +
                       height * near_normal[a];
            compare(p, 1 + static_cast<int>(random() % 3));
        }
    }
    // Off the root cube on every side, and not a number.
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    for (const Vertex& v : vertex_table) {
        const double q[3] = {v.x, v.y, v.z};
        for (int a = 0; a < 3; ++a) low[a] = std::min(low[a], q[a]), high[a] = std::max(high[a], q[a]);
    }
    for (int a = 0; a < 3; ++a)
        for (double beyond : {low[a] - 0.1 * (high[a] - low[a]), high[a] + 0.1 * (high[a] - low[a])}) {
            double p[3] = {(low[0] + high[0]) / 2, (low[1] + high[1]) / 2, (low[2] + high[2]) / 2};
            p[a] = beyond;
            compare(p, 1);
        }
    const double not_a_number[3] = {std::nan(""), 0.05, 0.0};
    compare(not_a_number, 1);
    settings.enforce_boundID_match = 0;
    EXPECT_GT(hits, compared / 4);
}

}  // namespace

TEST(LocatePoint, EdgesAndNearTiesGiveThePlainScansAnswers) {
    use_identity_frame();
    settings.tolerance = 0.0005;
    read_surface_text(wavy_sheet(60, 0.1, 1.0));
    build_subdivision();
    expect_plain_scan_answers_at_edges(1500, 99);
    // Tolerance above the triangles' size: the leaves are swept whole.
    use_identity_frame();
    settings.tolerance = 0.01;
    read_surface_text(wavy_sheet(30, 0.1, 0.2));
    build_subdivision();
    expect_plain_scan_answers_at_edges(600, 5);
}

// Leaves of one boundary ID that the rule refuses answer without a search; the answers
// still name the refusal, and mixed leaves still find their matching triangles.
TEST(LocatePoint, RefusedUniformLeavesAndMixedLeavesAgreeWithThePlainScan) {
    use_identity_frame();
    settings.tolerance = 0.0005;
    read_surface_text(wavy_sheet(40, 0.1, 0.12));
    build_subdivision();
    int uniform = 0, mixed = 0;
    for (const OctreeNode& node : octree_nodes) {
        if (node.level != octree_depth) continue;
        std::vector<int> list = leaf_list(static_cast<int>(&node - octree_nodes.data()));
        bool one_id = std::all_of(list.begin(), list.end(), [&](int t) {
            return triangle_geometry[t].boundary_id == triangle_geometry[list[0]].boundary_id;
        });
        (one_id ? uniform : mixed) += 1;
    }
    EXPECT_GT(uniform, 5);
    EXPECT_GT(mixed, 5);
    expect_plain_scan_answers(3000, 31);
}

// Samples sorted by the order key come leaf by leaf: each leaf's run is unbroken but for
// the few samples within single-precision rounding of a cube face.
TEST(LocateOrderKey, SortedSamplesVisitEachLeafInOneRun) {
    use_identity_frame();
    settings.tolerance = 0.0005;
    read_surface_text(wavy_sheet(40, 0.1, 0.12));
    build_subdivision();
    std::mt19937 random(4);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<std::pair<std::uint64_t, int>> keyed;
    std::vector<std::array<double, 3>> samples;
    for (int s = 0; s < 20000; ++s) {
        const std::array<double, 3> p = {0.1 * unit(random), 0.1 * unit(random),
                                         0.02 * (unit(random) - 0.5)};
        samples.push_back(p);
        keyed.emplace_back(locate_order_key(p.data()), s);
    }
    std::sort(keyed.begin(), keyed.end());
    std::set<int> leaves;
    int runs = 0, previous = -2;
    for (const auto& [key, s] : keyed) {
        const int leaf = leaf_of(samples[s].data());
        if (leaf == no_node) continue;  // no leaf: nothing to keep in cache
        runs += leaf != previous;
        previous = leaf;
        leaves.insert(leaf);
    }
    EXPECT_GT(leaves.size(), 100u);
    EXPECT_LE(runs, static_cast<int>(leaves.size()) + 20);

    // The root cube's low corner is the first key; off the cube clamps; NaN sorts last.
    const double low[3] = {octree_origin[0], octree_origin[1], octree_origin[2]};
    const double below[3] = {octree_origin[0] - 5, octree_origin[1] - 5, octree_origin[2] - 5};
    const double far[3] = {1e300, 1e300, 1e300};
    const double high[3] = {octree_origin[0] + cell_size[0], octree_origin[1] + cell_size[0],
                            octree_origin[2] + cell_size[0]};
    const double not_a_number[3] = {0.05, std::nan(""), 0.0};
    EXPECT_EQ(locate_order_key(low), 0u);
    EXPECT_EQ(locate_order_key(below), 0u);
    EXPECT_EQ(locate_order_key(far), locate_order_key(high));
    EXPECT_EQ(locate_order_key(high), (std::uint64_t{1} << 63) - 1);
    EXPECT_EQ(locate_order_key(not_a_number), ~std::uint64_t{0});
}

// A thread remembers the leaf it found last. Samples just inside a leaf, then exactly on
// and just past each face it shares with its parent's other octants, must get the
// descent's answers; so must one after the surface is built anew. A sample on the face of
// a leaf whose neighbour on the minus side is missing goes there: no leaf, the distance
// left alone.
TEST(LocatePoint, RememberedLeafGivesTheDescentsAnswersAtItsFaces) {
    use_identity_frame();
    settings.tolerance = 0.0005;
    read_surface_text(wavy_sheet(60, 0.1, 1.0));
    build_subdivision();
    auto parent_of = [](int node) {
        for (std::size_t n = 0; n < octree_nodes.size(); ++n)
            for (int child : octree_nodes[n].child)
                if (child == node) return static_cast<int>(n);
        return no_node;
    };
    int compared = 0, hits = 0;
    auto compare = [&](const double p[3]) {
        double got_distance = -7, want_distance = -7;
        const int got = locate_point(p, 1, got_distance);
        const int want = plain_leaf_scan(p, 1, want_distance);
        ASSERT_EQ(got, want) << p[0] << " " << p[1] << " " << p[2];
        ASSERT_EQ(got_distance, want_distance) << p[0] << " " << p[1] << " " << p[2];
        ++compared;
        hits += got >= 0;
    };
    for (std::size_t t = 0; t < triangle_table.size(); t += 3) {
        const double* inside = triangle_geometry[t].centroid;
        const int leaf = leaf_of(inside);
        if (leaf == no_node) continue;
        const OctreeNode& up = octree_nodes[parent_of(leaf)];
        for (int a = 0; a < 3; ++a) {
            // Faces near the surface only, so that the samples find triangles.
            if (std::fabs(inside[a] - up.center[a]) > settings.tolerance) continue;
            double on[3] = {inside[0], inside[1], inside[2]};
            on[a] = up.center[a];  // on the face: the minus side's
            double past[3] = {on[0], on[1], on[2]};
            past[a] = std::nextafter(on[a], inside[a] > on[a] ? -1.0 : 1.0);
            compare(inside);
            compare(on);
            compare(inside);
            compare(past);
        }
    }
    EXPECT_GT(compared, 500);
    EXPECT_GT(hits, 100);
    // One small triangle: its leaf has no neighbours.
    settings.tolerance = 1e-9;
    read_surface_text("4 5 1\n0 0.3001 0.3002 0.3003\n1 0.3004 0.3002 0.3003\n"
                      "2 0.3001 0.3005 0.3004\n3 0 0 0\n4 1 1 1\n0 1 2 1\n");
    build_subdivision();
    double centroid[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        const Vertex& v = vertex_table[triangle_table[0].vert[k]];
        centroid[0] += v.x / 3, centroid[1] += v.y / 3, centroid[2] += v.z / 3;
    }
    const int lone = leaf_of(centroid);
    ASSERT_NE(lone, no_node);
    const OctreeNode& lone_parent = octree_nodes[parent_of(lone)];
    int missing = 0;
    for (int a = 0; a < 3; ++a) {
        double on[3] = {centroid[0], centroid[1], centroid[2]};
        on[a] = lone_parent.center[a];
        if (!(octree_nodes[lone].center[a] > lone_parent.center[a]) || leaf_of(on) != no_node)
            continue;
        double distance = 5;
        EXPECT_GE(locate_point(centroid, 1, distance), 0);
        distance = 5;
        EXPECT_EQ(locate_point(on, 1, distance), no_triangle);
        EXPECT_EQ(distance, 5);
        ++missing;
    }
    EXPECT_GT(missing, 0);

    // A new surface: the leaf remembered from the old one is not taken on trust.
    const double p[3] = {0.05, 0.05, 0.0};
    double distance = 0;
    locate_point(p, 1, distance);
    read_surface_text(wavy_sheet(20, 0.12, 0.5));
    build_subdivision();
    for (int s = 0; s < 200; ++s) {
        const double q[3] = {0.0006 * s, 0.05, 0.001 * (s % 5)};
        compare(q);
    }
}

// Triangles much larger than the leaves have their spheres' centres beyond the range the
// leaves' copies can name: those take every sample to the exact test, which must still
// give the plain scan's answers beside the fine triangles of the same leaves.
TEST(LocatePoint, TrianglesFarLargerThanTheLeavesGiveThePlainScansAnswers) {
    use_identity_frame();
    settings.tolerance = 0.0005;
    std::string sheet = wavy_sheet(40, 0.1, 1.0);
    const std::size_t line_end = sheet.find('\n');
    int max_id = 0, vertices = 0, triangles = 0;
    std::sscanf(sheet.c_str(), "%d %d %d", &max_id, &vertices, &triangles);
    std::string body = sheet.substr(line_end + 1);
    // Vertices first, then triangles: the three corners of a large tilted triangle go
    // after the last vertex line.
    std::size_t vertex_end = 0;
    for (int v = 0; v < vertices; ++v) vertex_end = body.find('\n', vertex_end) + 1;
    const std::string corners = std::to_string(max_id + 1) + " -0.5 -0.4 -0.05\n" +
                                std::to_string(max_id + 2) + " 0.9 0.02 0.01\n" +
                                std::to_string(max_id + 3) + " 0.05 0.8 0.03\n";
    const std::string large = std::to_string(max_id + 1) + " " + std::to_string(max_id + 2) +
                              " " + std::to_string(max_id + 3) + " 2\n";
    read_surface_text(std::to_string(max_id + 3) + " " + std::to_string(vertices + 3) + " " +
                      std::to_string(triangles + 1) + "\n" + body.substr(0, vertex_end) +
                      corners + body.substr(vertex_end) + large);
    build_subdivision();
    expect_plain_scan_answers(4000, 77);
    // Samples on the large triangle itself, where it is the nearest.
    int on_large = 0;
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0, 1);
    const Triangle& big = triangle_table.back();
    double big_normal[3];
    triangle_normal(big, big_normal);
    for (int s = 0; s < 500; ++s) {
        double u = unit(random), v = unit(random);
        if (u + v > 1) u = 1 - u, v = 1 - v;
        double p[3];
        for (int a = 0; a < 3; ++a) {
            const double pa[3] = {vertex_table[big.vert[0]].x, vertex_table[big.vert[0]].y,
                                  vertex_table[big.vert[0]].z};
            const double pb[3] = {vertex_table[big.vert[1]].x, vertex_table[big.vert[1]].y,
                                  vertex_table[big.vert[1]].z};
            const double pc[3] = {vertex_table[big.vert[2]].x, vertex_table[big.vert[2]].y,
                                  vertex_table[big.vert[2]].z};
            p[a] = pa[a] + u * (pb[a] - pa[a]) + v * (pc[a] - pa[a]) + 1e-5 * big_normal[a];
        }
        double got_distance = -7, want_distance = -7;
        const int got = locate_point(p, 1, got_distance);
        ASSERT_EQ(got, plain_leaf_scan(p, 1, want_distance));
        ASSERT_EQ(got_distance, want_distance);
        on_large += got == static_cast<int>(triangle_table.size()) - 1;
    }
    EXPECT_GT(on_large, 300);
}
