#include "surface/surface.h"

#include "platform/fatal.h"
#include "surface_test_support.h"

#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

// The neighbour rule as first written: for the edge from vert[k] to vert[k+1], the lowest
// other triangle naming the edge's first vertex at some corner and its second at another.
int plain_neighbor(int t, int k) {
    const int p = triangle_table[t].vert[k], q = triangle_table[t].vert[(k + 1) % 3];
    for (int o = 0; o < static_cast<int>(triangle_table.size()); ++o) {
        if (o == t) continue;
        const Triangle& other = triangle_table[o];
        int f = 0;
        while (f < 3 && other.vert[f] != p) ++f;
        if (f < 3 && (other.vert[(f + 1) % 3] == q || other.vert[(f + 2) % 3] == q)) return o;
    }
    return -1;
}

std::vector<double> corner_angles(const Triangle& t) {
    double angles[3];
    triangle_corner_angles(t, angles);
    return {angles[0], angles[1], angles[2]};
}

// One triangle with the given corners, IDs 1..3.
void read_one_triangle(const double p[3][3]) {
    char text[512];
    std::snprintf(text, sizeof text, "3 3 1\n1 %.17g %.17g %.17g\n2 %.17g %.17g %.17g\n"
                  "3 %.17g %.17g %.17g\n1 2 3 7\n",
                  p[0][0], p[0][1], p[0][2], p[1][0], p[1][1], p[1][2], p[2][0], p[2][1],
                  p[2][2]);
    read_surface_text(text);
}

}  // namespace

TEST(ReadSurface, IdsFromZeroOrOneGiveTheSameTablesAndLineOrderDecidesIndex) {
    use_identity_frame();
    // IDs from 1, vertex lines not in ID order: the line, not the ID, gives the index.
    read_surface_text("4 4 2\n2 1 0 0\n1 0 0 0\n3 0 1 0\n4 1 1 0\n1 2 3 5\n2 4 3 6\n");
    ASSERT_EQ(vertex_table.size(), 4u);
    ASSERT_EQ(triangle_table.size(), 2u);
    EXPECT_EQ(triangle_table[0].vert[0], 1);
    EXPECT_EQ(triangle_table[0].vert[1], 0);
    EXPECT_EQ(triangle_table[0].vert[2], 2);
    EXPECT_EQ(triangle_geometry[1].boundary_id, 6);

    // The same surface with IDs from 0, CR LF line ends.
    read_surface_text("3 4 2\r\n1 1 0 0\r\n0 0 0 0\r\n2 0 1 0\r\n3 1 1 0\r\n0 1 2 5\r\n"
                      "1 3 2 6\r\n");
    EXPECT_EQ(triangle_table[0].vert[0], 1);
    EXPECT_EQ(triangle_table[0].vert[1], 0);
    EXPECT_EQ(triangle_table[0].vert[2], 2);
    EXPECT_EQ(triangle_table[1].vert[0], 0);
    EXPECT_EQ(triangle_table[1].vert[1], 3);
    EXPECT_EQ(triangle_table[1].vert[2], 2);
    EXPECT_EQ(vertex_table[0].x, 1.0);
}

TEST(ReadSurface, LeadingZeroIdIsOctalAndLaterLineWins) {
    use_identity_frame();
    // 010 is ID 8; ID 9 is given twice, the second line (index 2) wins; 0x0a is 10.
    read_surface_text("10 4 1\n010 0 0 0\n9 5 5 5\n9 1 0 0\n0x0a 0 1 0\n8 9 10 1\n");
    const Triangle& t = triangle_table[0];
    EXPECT_EQ(t.vert[0], 0);
    EXPECT_EQ(t.vert[1], 2);
    EXPECT_EQ(t.vert[2], 3);
}

TEST(ReadSurface, VerticesAreMovedIntoTheMappingFrame) {
    use_identity_frame();
    settings.scale_xyz = 0.001;
    settings.trans_z = 1;
    read_surface_text("2 3 1\n0 1000 0 0\n1 0 2000 0\n2 0 0 0\n0 1 2 1\n");
    EXPECT_DOUBLE_EQ(vertex_table[0].x, 1.0);
    EXPECT_DOUBLE_EQ(vertex_table[1].y, 2.0);
    EXPECT_DOUBLE_EQ(vertex_table[2].z, 1.0);
    EXPECT_DOUBLE_EQ(triangle_edges(triangle_table[0]).edge1[0], -1.0);  // from (1, 0, 1) to (0, 2, 1)
}

TEST(ReadSurface, NeighboursInEitherOrientationAndOpenEdges) {
    use_identity_frame();
    // 0 (0,1,2) and 1 (2,1,3) share edge 1-2 in opposite orientation; 2 (1,3,4) shares
    // edge 1-3 with triangle 1 in the same orientation.
    read_surface_text("4 5 3\n0 0 0 0\n1 1 0 0\n2 0 1 0\n3 1 1 0\n4 2 0 0\n"
                      "0 1 2 1\n2 1 3 1\n1 3 4 1\n");
    const TriangleGeometry* t = triangle_geometry.data();
    EXPECT_THAT(t[0].neighbor, testing::ElementsAre(-1, 1, -1));
    EXPECT_THAT(t[1].neighbor, testing::ElementsAre(0, 2, -1));
    EXPECT_THAT(t[2].neighbor, testing::ElementsAre(1, -1, -1));
}

TEST(ReadSurface, ThreeTrianglesOnOneEdgeTakeTheLowestOther) {
    use_identity_frame();
    // Edge 0-1 is shared by triangles 0, 1 and 2 (a T-junction of fins).
    read_surface_text("4 5 3\n0 0 0 0\n1 1 0 0\n2 0 1 0\n3 0 -1 0\n4 0 0 1\n"
                      "0 1 2 1\n1 0 3 1\n0 1 4 1\n");
    EXPECT_EQ(triangle_geometry[0].neighbor[0], 1);
    EXPECT_EQ(triangle_geometry[1].neighbor[0], 0);
    EXPECT_EQ(triangle_geometry[2].neighbor[0], 0);
}

// Fans, fins and triangles naming a vertex twice, on few vertices so that edges are shared
// many times over: every neighbour is the one the plain rule gives.
TEST(ReadSurface, NeighboursFollowTheRuleOnCrowdedAndDegenerateEdges) {
    use_identity_frame();
    std::mt19937 random(14);
    for (int round = 0; round < 20; ++round) {
        const int vertices = 3 + round % 5, triangles = 10 + 3 * round;
        std::string text = std::to_string(vertices) + " " + std::to_string(vertices) + " " +
                           std::to_string(triangles) + "\n";
        for (int v = 0; v < vertices; ++v)
            text += std::to_string(v + 1) + " " + std::to_string(v) + " " +
                    std::to_string(v * v % 7) + " " + std::to_string(v % 3) + "\n";
        for (int t = 0; t < triangles; ++t) {
            for (int k = 0; k < 3; ++k) text += std::to_string(1 + random() % vertices) + " ";
            text += "1\n";
        }
        testing::internal::CaptureStdout();  // the warnings of triangles with a vertex twice
        read_surface_text(text);
        flush_say();
        testing::internal::GetCapturedStdout();
        for (int t = 0; t < triangles; ++t)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(triangle_geometry[t].neighbor[k], plain_neighbor(t, k))
                    << "round " << round << " triangle " << t << " edge " << k;
    }
}

TEST(ReadSurface, CornerAnglesAreTrueInteriorAngles) {
    use_identity_frame();
    // Right angle at corner 2: pi/2 there, pi/4 at the others.
    const double right[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 0}};
    read_one_triangle(right);
    EXPECT_NEAR(corner_angles(triangle_table[0])[2], pi / 2, 1e-15);
    EXPECT_NEAR(corner_angles(triangle_table[0])[0], pi / 4, 1e-15);
    EXPECT_NEAR(corner_angles(triangle_table[0])[1], pi / 4, 1e-15);

    // 135 degrees at corner 0: the true angle, not its 45-degree supplement.
    const double obtuse0[3][3] = {{0, 0, 0}, {1, 0, 0}, {-1, 1, 0}};
    read_one_triangle(obtuse0);
    EXPECT_NEAR(corner_angles(triangle_table[0])[0], 3 * pi / 4, 1e-15);

    // Obtuse at each corner in turn, a needle and a near-flat sliver: always a sum of pi.
    const double shapes[][3][3] = {
        {{0, 0, 0}, {1, 0, 0}, {-1, 1, 0}},        {{1, 0, 0}, {0, 0, 0}, {-1, 1, 0}},
        {{1, 0, 0}, {-1, 1, 0}, {0, 0, 0}},        {{0, 0, 0}, {1, 0, 0}, {0.5, 1e-7, 0}},
        {{0, 0, 0}, {1e-6, 0, 0}, {0.3, 5e-7, 2}}, {{0, 0, 3}, {2, 1, 0}, {-1, 5, 1}}};
    for (const auto& shape : shapes) {
        read_one_triangle(shape);
        const std::vector<double> a = corner_angles(triangle_table[0]);
        EXPECT_NEAR(a[0] + a[1] + a[2], pi, 4e-15);
        EXPECT_GT(a[0], 0);
        EXPECT_GT(a[1], 0);
        EXPECT_GT(a[2], 0);
    }
    // The sliver's flat corner is nearly pi.
    read_one_triangle(shapes[3]);
    EXPECT_NEAR(corner_angles(triangle_table[0])[2], pi - 4e-7, 1e-12);
}

TEST(ReadSurface, ZeroLengthEdgeGetsZeroAnglesAndAWarning) {
    use_identity_frame();
    testing::internal::CaptureStdout();
    // Triangle 1 names vertex 1 twice; triangle 0 has two vertices at the same place.
    read_surface_text("3 4 2\n0 0 0 0\n1 1 0 0\n2 0 1 0\n3 1 0 0\n0 1 3 2\n2 1 1 2\n");
    flush_say();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "Surface has 3 verts and 2 triangles\n"
              "WARNING: surf.dat line 6: triangle 0 has an edge of length 0; its corner angles "
              "are set to 0 and it takes no sample\n"
              "WARNING: surf.dat line 7: triangle 1 has an edge of length 0; its corner angles "
              "are set to 0 and it takes no sample\n");
    for (const Triangle& t : triangle_table)
        EXPECT_THAT(corner_angles(t), testing::ElementsAre(0.0, 0.0, 0.0));
}

TEST(ReadSurface, GeometryOfOneTriangle) {
    use_identity_frame();
    const double p[3][3] = {{0, 0, 1}, {3, 0, 1}, {0, 3, 1}};
    read_one_triangle(p);
    const Triangle& t = triangle_table[0];
    const TriangleGeometry& g = triangle_geometry[0];
    const TriangleEdges edges = triangle_edges(t);
    // 0.3333333 * 3 = 0.9999999, and 0.3333333 * (1 + 1 + 1) for z.
    EXPECT_DOUBLE_EQ(g.centroid[0], 0.9999999);
    EXPECT_DOUBLE_EQ(g.centroid[1], 0.9999999);
    EXPECT_DOUBLE_EQ(g.centroid[2], 0.9999999);
    EXPECT_THAT(edges.edge1, testing::ElementsAre(3.0, 0.0, 0.0));
    EXPECT_THAT(edges.edge2, testing::ElementsAre(0.0, 3.0, 0.0));
    double normal[3];
    triangle_normal(t, normal);
    EXPECT_THAT(normal, testing::ElementsAre(0.0, 0.0, 1.0));
    // Counter-clockwise about the normal: every edge normal points into the triangle.
    EXPECT_THAT(edges.edge_normal[0], testing::ElementsAre(0.0, 1.0, 0.0));
    EXPECT_NEAR(edges.edge_normal[1][0], -std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(edges.edge_normal[1][1], -std::sqrt(0.5), 1e-15);
    EXPECT_THAT(edges.edge_normal[2], testing::ElementsAre(1.0, 0.0, 0.0));
    // Farthest corners from (0.9999999, 0.9999999): (3,0) and (0,3), sqrt(2.0000001^2 + 0.9999999^2).
    EXPECT_NEAR(g.radius, std::hypot(2.0000001, 0.9999999), 1e-12);
    EXPECT_EQ(g.boundary_id, 7);
}

TEST(ReadSurface, NoTriangleLinesStillBuildsTheTables) {
    use_identity_frame();
    read_surface_text("1 2 0\n0 0 0 0\n1 1 1 1\ntrailing text is ignored\n");
    EXPECT_EQ(vertex_table.size(), 2u);
    EXPECT_TRUE(triangle_table.empty());
}

TEST(Normalize, ZeroVectorIsLeftAndReported) {
    double zero[3] = {0, 0, 0};
    EXPECT_NE(normalize(zero), 0);
    EXPECT_THAT(zero, testing::ElementsAre(0.0, 0.0, 0.0));
    double v[3] = {3, 0, -4};
    EXPECT_EQ(normalize(v), 0);
    EXPECT_THAT(v, testing::ElementsAre(0.6, 0.0, -0.8));
}

// Each malformed file ends the run with status 1 and a message naming the file and line.
TEST(ReadSurfaceDeath, MalformedFilesAreRefused) {
    use_identity_frame();
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"", "^ERROR: s.dat line 1: expected the header .* found the end of the file\n$"},
        {"3 4\n", "^ERROR: s.dat line 1: expected the header .*, found \"3 4\"\n$"},
        {"3 -4 1\n", "^ERROR: s.dat line 1: .* must not be negative, found 3 -4 1\n$"},
        {"3 0 0\n", "^ERROR: s.dat line 1: the surface has no vertex\n$"},
        {"2 3 1\n0 0 0 0\n1 1 0 0\n",
         "line 4: the header announces 3 vertex lines, the file ends after 2\n$"},
        {"2 3 2\n0 0 0 0\n1 1 0 0\n2 0 1 0\n0 1 2 1\n",
         "line 6: the header announces 2 triangle lines, the file ends after 1\n$"},
        {"2 3 1\n0 0 0 0\n1 1 zero 0\n", "line 3: expected a vertex line \"ID x y z\", found "
                                         "\"1 1 zero 0\"\n$"},
        {"2 3 1\n0 0 0 0\n1 1 0\n", "line 3: expected a vertex line"},
        {"2 3 1\n0 0 0 0\n1 1 0 0\n2 0 1 0\n0 1 2\n",
         "line 5: expected a triangle line \"ID ID ID boundary-ID\", found \"0 1 2\"\n$"},
        {"2 3 1\n0 0 0 0\n3 1 0 0\n", "line 3: vertex ID 3 is outside 0..2\n$"},
        {"2 3 1\n0 0 0 0\n-1 1 0 0\n", "line 3: vertex ID -1 is outside 0..2\n$"},
        {"2 3 1\n0 0 0 0\n1 1 0 0\n2 0 1 0\n0 1 7 1\n", "line 5: vertex ID 7 is outside 0..2"},
        {"3 3 1\n0 0 0 0\n1 1 0 0\n2 0 1 0\n0 1 3 1\n",
         "^Surface has 3 verts and 1 triangles\nERROR: s.dat line 5: vertex ID 3 is on no "
         "vertex line\n$"},
    };
    for (const Case& c : cases)
        EXPECT_EXIT((stdout_to_stderr(), read_surface_text(c.text, "s.dat")),
                    testing::ExitedWithCode(1), c.message)
            << c.text;
}

TEST(ReadSurfaceDeath, MissingFileKeepsItsMessage) {
    EXPECT_EXIT((stdout_to_stderr(), read_surface("no such surface.dat")),
                testing::ExitedWithCode(1), "^ERROR: no such surface.dat file does not exist\n$");
}
