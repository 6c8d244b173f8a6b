#include "surface/octree.h"

#include "platform/fatal.h"
#include "surface_test_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string build_and_capture() {
    testing::internal::CaptureStdout();
    build_subdivision();
    flush_say();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(BuildSubdivision, ExtentLinesAndTheCubeAroundTheSurface) {
    use_identity_frame();
    // Between -0.2 and 0.3 on every axis: L = 0.5 * 1.05, the root spans -0.2125..0.3125
    // and leaf 62 of each axis spans 0.2961..0.3043, holding the whole small triangle, so
    // every level has one node with one triangle.
    read_surface_text("3 4 1\n0 -0.2 -0.2 -0.2\n1 0.3 0.3 0.3\n2 0.299 0.3 0.3\n"
                      "3 0.3 0.299 0.3\n1 2 3 1\n");
    std::string out = build_and_capture();
    EXPECT_EQ(out,
              "minimum extent of the surface is -2.000000e-001 -2.000000e-001 -2.000000e-001\n"
              "maximum extent of the surface is 3.000000e-001 3.000000e-001 3.000000e-001\n\n"
              "level = 1, num_active=1, num_triangles = 1\n"
              "level = 2, num_active=1, num_triangles = 1\n"
              "level = 3, num_active=1, num_triangles = 1\n"
              "level = 4, num_active=1, num_triangles = 1\n"
              "level = 5, num_active=1, num_triangles = 1\n"
              "level = 6, num_active=1, num_triangles = 1\n");
    EXPECT_DOUBLE_EQ(cell_size[0], 0.5 * 1.05);
    EXPECT_DOUBLE_EQ(cell_size[6], 0.525 / 64);
    EXPECT_DOUBLE_EQ(octree_origin[0], 0.05 - 0.2625);
    EXPECT_EQ(octree_nodes[octree_root].center[0], 0.05f);
    const double inside[3] = {0.2995, 0.2999, 0.3};
    EXPECT_EQ(octree_nodes[leaf_of(inside)].level, 6);
}

TEST(BuildSubdivision, ScalingWarningLooksAtTheMaximaOnly) {
    use_identity_frame();
    read_surface_text("2 3 1\n0 0 0 0\n1 1.5 0 0\n2 0 1 0\n0 1 2 1\n");
    std::string out = build_and_capture();
    EXPECT_THAT(out, testing::HasSubstr(
                         "maximum extent of the surface is 1.500000e+000 1.000000e+000 "
                         "0.000000e+000\n\nWARNING: extent of surface is larger than 1 meter. "
                         "There may be a scaling issue \nlevel = 1,"));

    // Far larger, but all negative: no warning.
    read_surface_text("2 3 1\n0 -500 -500 -500\n1 -1 -500 -1\n2 -500 -1 -1\n0 1 2 1\n");
    out = build_and_capture();
    EXPECT_THAT(out, testing::Not(testing::HasSubstr("WARNING")));
}

TEST(BuildSubdivision, SixLevelLinesEvenWithoutTriangles) {
    use_identity_frame();
    read_surface_text("1 2 0\n0 0 0 0\n1 1 1 1\n");
    std::string out = build_and_capture();
    std::string levels;
    for (int r = 1; r <= 6; ++r)
        levels += "level = " + std::to_string(r) + ", num_active=0, num_triangles = 0\n";
    EXPECT_THAT(out, testing::EndsWith(levels));
    const double p[3] = {0.5, 0.5, 0.5};
    EXPECT_EQ(leaf_of(p), no_node);
}

TEST(BuildSubdivision, TriangleInTheSeparatingPlaneGoesToBothSides) {
    use_identity_frame();
    settings.tolerance = 0;
    // The loose corner vertices centre the root on the origin; triangle 0 lies in x = 0.
    read_surface_text("4 5 1\n0 0 0.1 0.1\n1 0 0.9 0.1\n2 0 0.1 0.9\n3 -1 -1 -1\n4 1 1 1\n"
                      "0 1 2 1\n");
    std::string out = build_and_capture();
    const OctreeNode& root = octree_nodes[octree_root];
    EXPECT_EQ(root.center[0], 0.0f);
    EXPECT_NE(root.child[6], no_node);  // -x, +y, +z
    EXPECT_NE(root.child[7], no_node);  // +x, +y, +z
    EXPECT_THAT(out, testing::HasSubstr("level = 1, num_active=2, num_triangles = 2\n"));
    const double minus_side[3] = {0, 0.3, 0.3};  // on the plane: the minus side
    const double plus_side[3] = {1e-9, 0.3, 0.3};
    ASSERT_NE(leaf_of(minus_side), no_node);
    ASSERT_NE(leaf_of(plus_side), no_node);
    EXPECT_NE(leaf_of(minus_side), leaf_of(plus_side));
    EXPECT_THAT(leaf_list(leaf_of(minus_side)), testing::ElementsAre(0));
    EXPECT_THAT(leaf_list(leaf_of(plus_side)), testing::ElementsAre(0));
}

TEST(BuildSubdivision, ToleranceEnlargesTheLeavesAndListsRunDescending) {
    use_identity_frame();
    // A fan of 6 triangles around (0.5, 0.5, 0) in z = 0, in a unit cube.
    std::string text = "7 8 6\n0 0.5 0.5 0\n1 1 0.5 0\n2 0.75 0.93 0\n3 0.25 0.93 0\n4 0 0.5 0\n"
                       "5 0.25 0.07 0\n6 0.75 0.07 0\n7 0 0 1\n";
    for (int k = 0; k < 6; ++k)
        text += "0 " + std::to_string(1 + k) + " " + std::to_string(1 + (k + 1) % 6) + " 1\n";
    read_surface_text(text);
    // Single-precision centres leave seams of rounding size between the cubes the descent
    // picks and the boxes tested; the margin of any real tolerance covers them.
    settings.tolerance = 1e-6;
    build_and_capture();
    std::size_t plain_entries = octree_leaf_triangles.size();
    for (const OctreeNode& n : octree_nodes) {
        if (n.level < octree_depth) {
            EXPECT_EQ(n.list_count, 0);
            continue;
        }
        std::vector<int> list = leaf_list(static_cast<int>(&n - octree_nodes.data()));
        EXPECT_TRUE(std::is_sorted(list.rbegin(), list.rend())) << testing::PrintToString(list);
        EXPECT_EQ(std::adjacent_find(list.begin(), list.end()), list.end());
    }
    // All six meet at the fan centre.
    const double centre[3] = {0.5, 0.5, 0};
    EXPECT_THAT(leaf_list(leaf_of(centre)), testing::ElementsAre(5, 4, 3, 2, 1, 0));

    // A point 0.05 above the plane lies in a leaf no triangle's own cube touches (leaf
    // edge 1.05 / 64 = 0.0164); a tolerance of 0.05 brings the triangles below into it.
    const double above[3] = {0.6, 0.55, 0.05};
    EXPECT_EQ(leaf_of(above), no_node);
    settings.tolerance = 0.05;
    build_and_capture();
    ASSERT_NE(leaf_of(above), no_node);
    EXPECT_THAT(leaf_list(leaf_of(above)), testing::Contains(0));
    EXPECT_GT(octree_leaf_triangles.size(), 4 * plain_entries);
}

TEST(TriangleBoxOverlap, EachKindOfAxisSeparatesAndTouchingOverlaps) {
    const double centre[3] = {0, 0, 0}, half[3] = {1, 1, 1};
    // Box axis: in the face plane x = 1 touches, just beyond does not.
    const double on_face[3][3] = {{1, -3, -3}, {1, 3, -3}, {1, 0, 3}};
    const double past_face[3][3] = {{1.0000001, -3, -3}, {1.0000001, 3, -3}, {1.0000001, 0, 3}};
    EXPECT_TRUE(triangle_box_overlap(centre, half, on_face));
    EXPECT_FALSE(triangle_box_overlap(centre, half, past_face));
    // Edge axis: x + y >= 2 meets the box edge at (1, 1); x + y >= 3 clears it, though its
    // bounding box and plane both cut the box.
    const double edge_touch[3][3] = {{2, 0, 0}, {0, 2, 0}, {2, 2, 0}};
    const double edge_apart[3][3] = {{3, 0, 0}, {0, 3, 0}, {3, 3, 0}};
    EXPECT_TRUE(triangle_box_overlap(centre, half, edge_touch));
    EXPECT_FALSE(triangle_box_overlap(centre, half, edge_apart));
    // Plane: x + y + z = 3 touches the corner (1, 1, 1); = 3.5 passes it by, though every
    // other axis overlaps.
    const double plane_touch[3][3] = {{3, 0, 0}, {0, 3, 0}, {0, 0, 3}};
    const double plane_apart[3][3] = {{3.5, 0, 0}, {0, 3.5, 0}, {0, 0, 3.5}};
    EXPECT_TRUE(triangle_box_overlap(centre, half, plane_touch));
    EXPECT_FALSE(triangle_box_overlap(centre, half, plane_apart));
    const double normal[3] = {-1, -1, -1};
    EXPECT_TRUE(plane_box_overlap(normal, 3, half));
    EXPECT_FALSE(plane_box_overlap(normal, 3.5, half));
}

namespace {

// The build as it was before lists were shared: every triangle of a parent tried against
// every octant. Leaves keyed by their stored centre.
std::map<std::array<float, 3>, std::vector<int>> reference_leaves() {
    struct Node {
        float center[3];
        std::vector<int> list;
    };
    std::vector<Node> level(1);
    for (int a = 0; a < 3; ++a) level[0].center[a] = octree_nodes[octree_root].center[a];
    for (int t = static_cast<int>(triangle_table.size()) - 1; t >= 0; --t) level[0].list.push_back(t);
    for (int r = 1; r <= octree_depth; ++r) {
        double half = cell_size[r] / 2 + 1.1 * settings.tolerance;
        const double box_half[3] = {half, half, half};
        std::vector<Node> next;
        for (const Node& parent : level)
            for (int i = 0; i < 8; ++i) {
                double c[3];
                for (int a = 0; a < 3; ++a)
                    c[a] = (i >> a & 1) ? parent.center[a] + cell_size[r] / 2
                                        : parent.center[a] - cell_size[r] / 2;
                Node child;
                for (int a = 0; a < 3; ++a) child.center[a] = static_cast<float>(c[a]);
                for (int t : parent.list) {
                    double corners[3][3];
                    for (int k = 0; k < 3; ++k) {
                        const Vertex& v = vertex_table[triangle_table[t].vert[k]];
                        corners[k][0] = v.x, corners[k][1] = v.y, corners[k][2] = v.z;
                    }
                    if (triangle_box_overlap(c, box_half, corners)) child.list.push_back(t);
                }
                std::reverse(child.list.begin(), child.list.end());
                if (!child.list.empty()) next.push_back(std::move(child));
            }
        level.swap(next);
    }
    std::map<std::array<float, 3>, std::vector<int>> leaves;
    for (const Node& leaf : level)
        leaves[{leaf.center[0], leaf.center[1], leaf.center[2]}] = leaf.list;
    return leaves;
}

std::map<std::array<float, 3>, std::vector<int>> built_leaves() {
    std::map<std::array<float, 3>, std::vector<int>> leaves;
    for (std::size_t n = 0; n < octree_nodes.size(); ++n)
        if (octree_nodes[n].level == octree_depth)
            leaves[{octree_nodes[n].center[0], octree_nodes[n].center[1],
                    octree_nodes[n].center[2]}] = leaf_list(static_cast<int>(n));
    return leaves;
}

std::string fan_surface() {
    // A bent fan of 12 triangles over about 0.1 m: lists differ from leaf to leaf.
    std::string text = "13 13 12\n0 0 0 0\n";
    for (int k = 0; k < 12; ++k) {
        double angle = k * 0.5;
        text += std::to_string(k + 1) + " " + std::to_string(0.1 * std::cos(angle)) + " " +
                std::to_string(0.1 * std::sin(angle)) + " " + std::to_string(0.01 * k) + "\n";
    }
    for (int k = 0; k < 12; ++k)
        text += "0 " + std::to_string(k + 1) + " " + std::to_string((k + 1) % 12 + 1) + " 1\n";
    return text;
}

}  // namespace

// Sharing a parent's whole list and taking enclosed lists untested must not change one
// leaf: from no tolerance to one far larger than the surface.
TEST(BuildSubdivision, SharedListsGiveTheLeavesOfTestingEveryTriangle) {
    for (double tolerance : {0.0, 0.002, 0.03, 0.08, 5.0}) {
        use_identity_frame();
        settings.tolerance = tolerance;
        read_surface_text(fan_surface());
        build_and_capture();
        auto reference = reference_leaves();
        EXPECT_EQ(built_leaves(), reference) << "tolerance " << tolerance;
        // Shared lists: stored entries stay far below leaves times triangles.
        if (tolerance == 5.0) {
            EXPECT_EQ(reference.size(), 262144u);
            EXPECT_LE(octree_leaf_triangles.size(), 12u);
        }
    }
}

TEST(BuildSubdivision, LevelNeedingTooManyEntriesIsRefusedNamingToleranceAndExtent) {
    use_identity_frame();
    settings.tolerance = 0.03;
    read_surface_text(fan_surface());
    std::size_t saved = max_octree_entries;
    max_octree_entries = 5000;
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            build_subdivision();
        },
        testing::ExitedWithCode(1),
        "ERROR: the subdivision would hold more than 5000 triangle entries at level [0-9]: the "
        "tolerance 3.000000e-002 is too large for a surface of extent 1.989990e-001 "
        "1.975020e-001 1.100000e-001; lower the tolerance");
    max_octree_entries = saved;
}

namespace {

struct BuiltOctree {
    std::string lines;
    std::vector<OctreeNode> nodes;
    std::vector<std::vector<int>> lists;  // per node
};

BuiltOctree build_one_way(bool by_levels) {
    octree_by_levels_only = by_levels;
    BuiltOctree built;
    built.lines = build_and_capture();
    octree_by_levels_only = false;
    built.nodes = octree_nodes;
    for (std::size_t n = 0; n < octree_nodes.size(); ++n)
        built.lists.push_back(leaf_list(static_cast<int>(n)));
    return built;
}

// Node for node: the same order, levels, centres, children and lists, and the same lines.
void expect_same_octree(const BuiltOctree& a, const BuiltOctree& b, const std::string& what) {
    EXPECT_EQ(a.lines, b.lines) << what;
    ASSERT_EQ(a.nodes.size(), b.nodes.size()) << what;
    for (std::size_t n = 0; n < a.nodes.size(); ++n) {
        ASSERT_EQ(a.nodes[n].level, b.nodes[n].level) << what << " node " << n;
        for (int k = 0; k < 3; ++k) ASSERT_EQ(a.nodes[n].center[k], b.nodes[n].center[k]) << what;
        for (int i = 0; i < 8; ++i) ASSERT_EQ(a.nodes[n].child[i], b.nodes[n].child[i]) << what;
        ASSERT_EQ(a.lists[n], b.lists[n]) << what << " node " << n;
    }
}

// A jittered sheet of 2 * n * n triangles, tilted so that it crosses cube faces on every
// axis, with a loose vertex far off setting the root cube.
std::string jittered_sheet(int n, double size, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    std::string text = std::to_string((n + 1) * (n + 1)) + " " +
                       std::to_string((n + 1) * (n + 1) + 1) + " " + std::to_string(2 * n * n) + "\n";
    char line[160];
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = size * (i + jitter(random)) / n, y = size * (j + jitter(random)) / n;
            std::snprintf(line, sizeof line, "%d %.17g %.17g %.17g\n", j * (n + 1) + i, x, y,
                          0.3 * x + 0.2 * y + 0.02 * size * std::sin(9 * x / size));
            text += line;
        }
    std::snprintf(line, sizeof line, "%d %.17g %.17g %.17g\n", (n + 1) * (n + 1), -0.37 * size,
                  1.21 * size, 0.9 * size);
    text += line;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
            text += std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(d) + " 1\n";
            text += std::to_string(a) + " " + std::to_string(d) + " " + std::to_string(c) + " 1\n";
        }
    return text;
}

}  // namespace

// Triangle by triangle, with straight paths for triangles clear of the faces, the octree is
// the level-by-level one node for node, from no tolerance to one past the leaves' size.
TEST(BuildSubdivision, TriangleByTriangleGivesTheLevelByLevelOctree) {
    for (double tolerance : {0.0, 1e-6, 3e-4, 2e-3, 0.02}) {
        for (const std::string& surface : {jittered_sheet(50, 0.1, 3), fan_surface()}) {
            use_identity_frame();
            settings.tolerance = tolerance;
            read_surface_text(surface);
            const BuiltOctree by_levels = build_one_way(true);
            const auto leaves_by_levels = built_leaves();
            const BuiltOctree by_triangles = build_one_way(false);
            const std::string what = "tolerance " + std::to_string(tolerance);
            expect_same_octree(by_levels, by_triangles, what);
            // And both are the octree of testing every triangle at every node.
            const auto reference = reference_leaves();
            EXPECT_EQ(leaves_by_levels, reference) << what;
            EXPECT_EQ(built_leaves(), reference) << what;
        }
    }
}

// Single-precision centres can leave a child's box a rounding short of its parent's face:
// a triangle in that face reaches the parent and none of its octants. Such nodes without
// children must come out of both builds alike.
TEST(BuildSubdivision, NodesReachedButNoneOfTheirOctantsAreKeptByBothBuilds) {
    use_identity_frame();
    settings.tolerance = 0;
    const std::string corners = "0 0.013 0.017 0.011\n1 0.31 0.29 0.33\n";
    read_surface_text("1 2 0\n" + corners);
    build_and_capture();
    // Faces where the plus child's box ends short of its parent's.
    std::string vertices, triangles;
    int vertex = 2, count = 0;
    std::vector<std::array<double, 3>> faces;  // a point on each such face, the face on x
    std::vector<std::array<float, 3>> centres = {{octree_nodes[octree_root].center[0],
                                                  octree_nodes[octree_root].center[1],
                                                  octree_nodes[octree_root].center[2]}};
    for (int r = 1; r < octree_depth && faces.size() < 40; ++r) {
        std::vector<std::array<float, 3>> next;
        for (const auto& c : centres)
            for (int i = 0; i < 8; ++i) {
                std::array<float, 3> child;
                for (int a = 0; a < 3; ++a)
                    child[a] = static_cast<float>((i >> a & 1) ? c[a] + cell_size[r] / 2
                                                               : c[a] - cell_size[r] / 2);
                const double face = static_cast<double>(child[0]) + cell_size[r] / 2;
                const float grandchild = static_cast<float>(child[0] + cell_size[r + 1] / 2);
                const double small = cell_size[octree_depth] / 8;
                const bool within = face > 0.02 && face < 0.3 && child[1] > 0.02 &&
                                    child[1] + small < 0.28 && child[2] > 0.02 &&
                                    child[2] + small < 0.32;
                if (within && static_cast<double>(grandchild) + cell_size[r + 1] / 2 < face)
                    faces.push_back({face, static_cast<double>(child[1]), static_cast<double>(child[2])});
                if (next.size() < 512) next.push_back(child);
            }
        centres.swap(next);
    }
    ASSERT_GT(faces.size(), 3u);
    for (const auto& face : faces) {
        const double small = cell_size[octree_depth] / 8;
        char line[200];
        for (int k = 0; k < 3; ++k) {
            std::snprintf(line, sizeof line, "%d %.17g %.17g %.17g\n", vertex + k, face[0],
                          face[1] + (k == 1 ? small : 0), face[2] + (k == 2 ? small : 0));
            vertices += line;
        }
        triangles += std::to_string(vertex) + " " + std::to_string(vertex + 1) + " " +
                     std::to_string(vertex + 2) + " 1\n";
        vertex += 3;
        ++count;
    }
    read_surface_text(std::to_string(vertex - 1) + " " + std::to_string(vertex) + " " +
                      std::to_string(count) + "\n" + corners + vertices + triangles);
    const BuiltOctree by_levels = build_one_way(true);
    const BuiltOctree by_triangles = build_one_way(false);
    expect_same_octree(by_levels, by_triangles, "faces");
    int childless = 0;
    for (const OctreeNode& node : by_triangles.nodes)
        childless += node.level < octree_depth &&
                     std::all_of(std::begin(node.child), std::end(node.child),
                                 [](int c) { return c == no_node; });
    EXPECT_GT(childless, 0);
}

namespace {

// Needles and near-collinear slivers up to thirty leaves long, each with one corner a little
// inside a leaf's face and the others across it, at every distance from a thousandth of a
// leaf down to the rounding of the coordinates: a corner inside the enlarged box must not
// take a triangle that the whole test would refuse.
std::string slivers_across_faces(double tolerance) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    const double leaf = 0.2 * 1.05 / 64;  // the extent is set by the two far corners below
    std::string vertices = "0 0 0 0\n1 0.2 0.2 0.2\n", triangles;
    int vertex = 2, count = 0;
    char line[200];
    for (int n = 0; n < 600; ++n) {
        // A leaf face on x, shifted outwards by the enlargement, then a corner inside it.
        const double face = 0.2 * 1.05 / 2 - 0.2 * 0.025 + leaf * (8 + (n % 40)) + 1.1 * tolerance;
        const double inside = leaf * std::pow(10.0, -3 - 13 * unit(random));
        const double y = 0.03 + 0.14 * unit(random), z = 0.03 + 0.14 * unit(random);
        const double length = leaf * std::pow(10.0, -1 + 2.5 * unit(random));
        // A needle along x, or a sliver whose third corner is off the line by next to nothing.
        const double off = n % 3 == 0 ? 0 : length * std::pow(10.0, -4 - 12 * unit(random));
        // The corner inside comes last: the whole test measures the plane from the first.
        const double corners[3][3] = {
            {face - inside + length, y + 0.3 * length, z - 0.2 * length},
            {face - inside + 0.5 * length, y + 0.15 * length + off, z - 0.1 * length - off},
            {face - inside, y, z}};
        for (int k = 0; k < 3; ++k) {
            std::snprintf(line, sizeof line, "%d %.17g %.17g %.17g\n", vertex + k, corners[k][0],
                          corners[k][1], corners[k][2]);
            vertices += line;
        }
        triangles += std::to_string(vertex) + " " + std::to_string(vertex + 1) + " " +
                     std::to_string(vertex + 2) + " 1\n";
        vertex += 3;
        ++count;
    }
    return std::to_string(vertex - 1) + " " + std::to_string(vertex) + " " + std::to_string(count) +
           "\n" + vertices + triangles;
}

}  // namespace

TEST(BuildSubdivision, SliversWithACornerJustInsideAFaceGetTheWholeTestsLeaves) {
    for (double tolerance : {0.0, 1e-7, 2e-5}) {
        use_identity_frame();
        settings.tolerance = tolerance;
        read_surface_text(slivers_across_faces(tolerance));
        const BuiltOctree by_levels = build_one_way(true);
        const BuiltOctree by_triangles = build_one_way(false);
        const std::string what = "tolerance " + std::to_string(tolerance);
        expect_same_octree(by_levels, by_triangles, what);
        EXPECT_EQ(built_leaves(), reference_leaves()) << what;
    }
}
