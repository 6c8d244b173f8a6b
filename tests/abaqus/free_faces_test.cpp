// Surface lines without a face identifier: every free face of the named solids, the faces
// no other solid of the deck shares. Also explicit boundary IDs on surface name lines.
#include "deck_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace deck_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// A box of nx x ny x nz unit cells cut into one element type. Second-order elements get
// mid-side node numbers of their own (one far node per element), so a face found by more
// than its corners would never match its neighbour's.
struct Box {
    int nx, ny, nz;
    std::string type;
    int order;  // 1 or 2

    int node(int i, int j, int k) const { return 1 + i + (nx + 1) * (j + (ny + 1) * k); }
    int corner_nodes() const { return (nx + 1) * (ny + 1) * (nz + 1); }

    std::string deck(int& element_count) const {
        std::ostringstream d;
        d << "*NODE\n";
        for (int k = 0; k <= nz; ++k)
            for (int j = 0; j <= ny; ++j)
                for (int i = 0; i <= nx; ++i) d << node(i, j, k) << ", " << i << ", " << j << ", " << k << "\n";
        std::vector<std::vector<int>> elements;
        for (int k = 0; k < nz; ++k)
            for (int j = 0; j < ny; ++j)
                for (int i = 0; i < nx; ++i) add_cell(i, j, k, elements);
        // The far mid-side nodes, one per element.
        if (order == 2)
            for (std::size_t e = 0; e < elements.size(); ++e)
                d << corner_nodes() + 1 + static_cast<int>(e) << ", 50, 50, 50\n";
        d << "*ELEMENT, TYPE=" << type << "\n";
        const int mid_sides = order == 1 ? 0 : elements[0].size() == 8 ? 12 : elements[0].size() == 6 ? 9 : 6;
        for (std::size_t e = 0; e < elements.size(); ++e) {
            d << e + 1;
            for (int n : elements[e]) d << ", " << n;
            for (int m = 0; m < mid_sides; ++m) d << ", " << corner_nodes() + 1 + static_cast<int>(e);
            d << "\n";
        }
        d << "*ELSET, ELSET=BODY, GENERATE\n1, " << elements.size() << ", 1\n";
        d << "*SURFACE, NAME=SKIN, TYPE=ELEMENT\nBODY,\n";
        element_count = static_cast<int>(elements.size());
        return d.str();
    }

    void add_cell(int i, int j, int k, std::vector<std::vector<int>>& elements) const {
        // Corners of the cell, numbered as a hexahedron's: bottom 0-3, top 4-7.
        int c[8] = {node(i, j, k),         node(i + 1, j, k),         node(i + 1, j + 1, k),
                    node(i, j + 1, k),     node(i, j, k + 1),         node(i + 1, j, k + 1),
                    node(i + 1, j + 1, k + 1), node(i, j + 1, k + 1)};
        if (type.find("D8") != std::string::npos || type.find("D20") != std::string::npos) {
            elements.push_back({c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]});
        } else if (type.find("D6") != std::string::npos || type.find("D15") != std::string::npos) {
            // Two wedges split along the same diagonal in every cell.
            elements.push_back({c[0], c[1], c[2], c[4], c[5], c[6]});
            elements.push_back({c[0], c[2], c[3], c[4], c[6], c[7]});
        } else {
            // Six tetrahedra around the diagonal c0-c6, the same pattern in every cell.
            const int steps[6][3] = {{1, 2, 4}, {1, 4, 2}, {2, 1, 4}, {2, 4, 1}, {4, 1, 2}, {4, 2, 1}};
            auto at = [&](int bits) {
                static const int corner_of_bits[8] = {0, 1, 3, 2, 4, 5, 7, 6};
                return c[corner_of_bits[bits]];
            };
            for (const auto& s : steps)
                elements.push_back({at(0), at(s[0]), at(s[0] | s[1]), at(7)});
        }
    }
};

double triangle_area(const std::vector<double>& a, const std::vector<double>& b,
                     const std::vector<double>& c) {
    double u[3], v[3];
    for (int d = 0; d < 3; ++d) {
        u[d] = b[d] - a[d];
        v[d] = c[d] - a[d];
    }
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

class FreeFaces : public DeckTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FreeFaces, OfABoxAreItsOuterFacesOnly) {
    Box box{3, 2, 2, GetParam(), 1};
    if (box.type.find("10") != std::string::npos || box.type.find("15") != std::string::npos ||
        box.type.find("20") != std::string::npos)
        box.order = 2;
    int elements = 0;
    surfaces({"SKIN"}, 1);
    convert(box.deck(elements));
    // Every triangle lies in one of the box's six planes, and together they cover its
    // surface once: an inner face would add area, a missed outer face take some away.
    auto xyz = dat_vertices(dat);
    const int triangles = std::atoi(dat.at(0).c_str() + dat.at(0).rfind(' ') + 1);
    const double limit[3] = {3, 2, 2};
    double area = 0;
    for (int t = 0; t < triangles; ++t) {
        std::istringstream line(triangle(t));
        int v[3], s;
        line >> v[0] >> v[1] >> v[2] >> s;
        EXPECT_EQ(s, 1);
        bool in_a_plane = false;
        for (int d = 0; d < 3; ++d) {
            for (double plane : {0.0, limit[d]}) {
                bool all = true;
                for (int k : v) all = all && std::abs(xyz.at(k).at(d) - plane) < 1e-9;
                in_a_plane = in_a_plane || all;
            }
        }
        EXPECT_TRUE(in_a_plane) << "triangle " << t << " is inside the box";
        area += triangle_area(xyz.at(v[0]), xyz.at(v[1]), xyz.at(v[2]));
    }
    EXPECT_NEAR(area, 2 * (3 * 2 + 2 * 2 + 3 * 2), 1e-9);
    // Faces of one element stay together, in face order.
    std::set<std::pair<int, int>> faces;
    for (std::size_t t = 0; t < element_number.size(); ++t) {
        faces.insert({element_number[t], face_number[t]});
        if (t > 0 && element_number[t] == element_number[t - 1]) {
            EXPECT_LE(face_number[t - 1], face_number[t]);
        }
    }
    EXPECT_THAT(out, HasSubstr("There are " + std::to_string(faces.size()) + " faces for surface SKIN\n"));
}

INSTANTIATE_TEST_SUITE_P(Types, FreeFaces,
                         ::testing::Values("C3D8", "C3D20R", "C3D6", "C3D15", "C3D4", "DC3D10"));

TEST_F(DeckTest, FreeFacesOfAMixedDeckLeaveOutFacesSharedAcrossTypes) {
    // A brick (1), two wedges (2, 3) filling the cell next to it, split along a diagonal,
    // and a tetrahedron (4) standing on wedge 2's top. Shared: brick S4 / wedge 3 S5
    // (x = 1), wedge 2 S5 / wedge 3 S3 (the diagonal), wedge 2 S2 / tetrahedron S1.
    surfaces({"ALL"});
    convert("*NODE\n"
            "1, 0, 0, 0\n2, 1, 0, 0\n3, 1, 1, 0\n4, 0, 1, 0\n"
            "5, 0, 0, 1\n6, 1, 0, 1\n7, 1, 1, 1\n8, 0, 1, 1\n"
            "9, 2, 0, 0\n10, 2, 1, 0\n11, 2, 0, 1\n12, 2, 1, 1\n13, 1.8, 0.3, 2\n"
            "*ELEMENT, TYPE=C3D8\n1, 1, 2, 3, 4, 5, 6, 7, 8\n"
            "*ELEMENT, TYPE=C3D6\n2, 2, 9, 10, 6, 11, 12\n3, 2, 10, 3, 6, 12, 7\n"
            "*ELEMENT, TYPE=C3D4\n4, 6, 11, 12, 13\n"
            "*SURFACE, NAME=ALL\n1\n2,\n3\n4\n");
    std::vector<std::string> faces;
    for (std::size_t t = 0; t < element_number.size(); ++t) {
        std::string face = std::to_string(element_number[t]) + ":S" + std::to_string(face_number[t]);
        if (faces.empty() || faces.back() != face) faces.push_back(face);
    }
    EXPECT_THAT(faces, ElementsAre("1:S1", "1:S2", "1:S3", "1:S5", "1:S6", "2:S1", "2:S3", "2:S4",
                                   "3:S1", "3:S2", "3:S4", "4:S2", "4:S3", "4:S4"));
    EXPECT_THAT(out, HasSubstr("There are 14 faces for surface ALL\n"));
    // Quads: five of the brick, three of the wedges, each with a centre; triangles: three
    // of the wedges, three of the tetrahedron.
    EXPECT_EQ(dat.at(0), "21   21   38");
}

TEST_F(DeckTest, FreeFacesAndNamedFacesMixInOneSurface) {
    // Two bricks side by side: element 1's free faces (S4 is shared), then 2, S4 by name.
    surfaces({"A"});
    convert("*NODE\n"
            "1, 0, 0, 0\n2, 1, 0, 0\n3, 1, 1, 0\n4, 0, 1, 0\n"
            "5, 0, 0, 1\n6, 1, 0, 1\n7, 1, 1, 1\n8, 0, 1, 1\n"
            "9, 2, 0, 0\n10, 2, 1, 0\n11, 2, 0, 1\n12, 2, 1, 1\n"
            "*ELEMENT, TYPE=DC3D8\n1, 1, 2, 3, 4, 5, 6, 7, 8\n2, 2, 9, 10, 3, 6, 11, 12, 7\n"
            "*SURFACE, NAME=A\n1\n2, S4\n");
    std::vector<int> faces;
    for (std::size_t t = 0; t < face_number.size(); t += 4) faces.push_back(face_number[t]);
    EXPECT_THAT(faces, ElementsAre(1, 2, 3, 5, 6, 4));
}

TEST_F(DeckTest, FreeFacesOfAGmshTetrahedronBoxCoverItsSixSides) {
    // The deck as gmsh wrote it, plus the one *SURFACE line a user now needs.
    std::string deck = tool_deck("tetbox.inp") + "*SURFACE, NAME=BOX\nSOLID,\n";
    surfaces({"BOX"}, 1);
    convert(deck);
    auto xyz = dat_vertices(dat);
    double area = 0;
    for (std::size_t t = 0; t < element_number.size(); ++t) {
        std::istringstream line(triangle(static_cast<int>(t)));
        int v[3];
        line >> v[0] >> v[1] >> v[2];
        area += triangle_area(xyz.at(v[0]), xyz.at(v[1]), xyz.at(v[2]));
    }
    EXPECT_NEAR(area, 6.0, 1e-9);
}

TEST_F(DeckTest, SurfaceNameLinesCanGiveTheBoundaryId) {
    // As the options reader leaves "COLD name" and "HOT name 7": COLD keeps its position, 1.
    surfaces({"COLD", "HOT"});
    settings.surface_ids = {1, 7};
    convert("*NODE\n1, 0, 0, 0\n2, 1, 0, 0\n3, 0, 1, 0\n4, 0, 0, 1\n"
            "*ELEMENT, TYPE=C3D4\n20, 1, 2, 3, 4\n"
            "*SURFACE, NAME=HOT\n20, S1\n*SURFACE, NAME=COLD\n20, S2\n");
    EXPECT_EQ(triangle(0), "1 2 3 7");
    EXPECT_EQ(triangle(1), "1 4 2 1");
    // The list still names each face's surface, and the per-triangle table its position.
    EXPECT_THAT(list, ElementsAre("2", "HOT.20, P1", "COLD.20, P2"));
    EXPECT_THAT(surface_number, ElementsAre(2, 1));
}

}  // namespace
