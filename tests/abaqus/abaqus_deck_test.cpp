// Unit tests of the ABAQUS deck conversion: small decks written into a temporary directory,
// converted, and the two result files and the per-triangle tables checked.
#include "deck_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

using namespace deck_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// Nodes 1..6 of two unit squares side by side, z = 0.
const char* const two_squares_nodes =
    "*HEADING\n"
    "two squares\n"
    "*NODE, NSET=ALL\n"
    "1, 0.0, 0.0, 0.0\n"
    "2, 1.0, 0.0, 0.0\n"
    "3, 2.0, 0.0, 0.0\n"
    "4, 0.0, 1.0, 0.0\n"
    "5, 1.0, 1.0, 0.0\n"
    "6, 2.0, 1.0, 0.0\n";

TEST_F(DeckTest, TwoQuadShellsMakeFourTrianglesEachAroundTheirCentres) {
    convert(std::string(two_squares_nodes) +
            "*ELEMENT, TYPE=S4R, ELSET=SKIN\n"
            "10, 1, 2, 5, 4\n"
            "11, 2, 3, 6, 5\n"
            "*MATERIAL, NAME=STEEL\n");
    // V = 6 nodes + 2 centres, T = 2 * 4; (c, N1, N4), then (c, Nk, Nk+1).
    EXPECT_THAT(dat, ElementsAre("8   8   8", "1   0.000000   0.000000   0.000000",
                                 "2   1.000000   0.000000   0.000000",
                                 "3   2.000000   0.000000   0.000000",
                                 "4   0.000000   1.000000   0.000000",
                                 "5   1.000000   1.000000   0.000000",
                                 "6   2.000000   1.000000   0.000000",
                                 "7   0.500000   0.500000   0.000000",
                                 "8   1.500000   0.500000   0.000000",
                                 "7   1   4   0", "7   1   2   0", "7   2   5   0", "7   5   4   0",
                                 "8   2   5   0", "8   2   3   0", "8   3   6   0", "8   6   5   0"));
    EXPECT_THAT(list, ElementsAre("8", ".10, P0", ".10, P0", ".10, P0", ".10, P0", ".11, P0",
                                  ".11, P0", ".11, P0", ".11, P0"));
    EXPECT_THAT(element_number, ElementsAre(10, 10, 10, 10, 11, 11, 11, 11));
    EXPECT_THAT(face_number, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(surface_number, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(out, HasSubstr("   Headerlines=3\n   Nodelines=6\n"));
    EXPECT_THAT(out, HasSubstr("ABAQUS file contains:\nNodes: 6\n"
                               "Types of Shell Elements: 1, Types of 3D Elements: 0 \n"
                               "Surfaces: 0\n"
                               "There are 2 shell element S4R, with 4 nodes each\n"
                               "Creating Kelvora surface with 8 verts and 8 triangles\n\n"
                               "Reading nodes\nDone reading nodes\n"
                               "Reading element block 1 of 1 blocks with 2 elements\n"
                               "\n\nfile read complete\n\n"
                               "Numverts=8, made=8,Triangles=8, made=8\nlists free\n"));
}

TEST_F(DeckTest, EightNodeShellAlternatesCornersAndMidSidesAndStri65TakesItsCorners) {
    // S8R corners 1-4 of the unit square, mid-sides 5-8; an STRI65 on nodes 9..14.
    convert("*NODE\n"
            "1, 0, 0, 0\n2, 2, 0, 0\n3, 2, 2, 0\n4, 0, 2, 0\n"
            "5, 1, 0, 0\n6, 2, 1, 0\n7, 1, 2, 0\n8, 0, 1, 0\n"
            "9, 0, 0, 1\n10, 1, 0, 1\n11, 0, 1, 1\n12, 9, 9, 9\n13, 9, 9, 9\n14, 9, 9, 9\n"
            "*ELEMENT, TYPE=S8R\n"
            "1, 1, 2, 3, 4, 5, 6, 7, 8\n"
            "*ELEMENT, TYPE=STRI65\n"
            "2, 9, 10, 11, 12, 13, 14\n");
    ASSERT_EQ(dat.at(0), "15   15   9");
    EXPECT_EQ(dat.at(15), "15   1.000000   1.000000   0.000000");  // mean of all eight nodes
    // (c,1,8), (c,4,8), then (c,k,k+4), (c,k+4,k+1): the fan 1-5-2-6-3-7-4-8.
    std::vector<std::string> triangles;
    for (int t = 0; t < 9; ++t) triangles.push_back(triangle(t));
    EXPECT_THAT(triangles, ElementsAre("15 1 8 0", "15 4 8 0", "15 1 5 0", "15 5 2 0", "15 2 6 0",
                                       "15 6 3 0", "15 3 7 0", "15 7 4 0", "9 10 11 0"));
    EXPECT_THAT(element_number, ElementsAre(1, 1, 1, 1, 1, 1, 1, 1, 2));
    EXPECT_THAT(out, HasSubstr("There are 1 shell element S8R, with 8 nodes each\n"
                               "There are 1 shell element STRI65, with 3 nodes each\n"));
}

TEST_F(DeckTest, NineNodeShellFansOverItsEightBoundaryNodes) {
    // S9R5: the centre node 9 is not part of the fan, which would otherwise fold over.
    convert("*NODE\n"
            "1, 0, 0, 0\n2, 2, 0, 0\n3, 2, 2, 0\n4, 0, 2, 0\n"
            "5, 1, 0, 0\n6, 2, 1, 0\n7, 1, 2, 0\n8, 0, 1, 0\n9, 1, 1, 0\n"
            "*ELEMENT, TYPE=S9R5\n"
            "1, 1, 2, 3, 4, 5, 6, 7, 8, 9\n");
    ASSERT_EQ(dat.at(0), "10   10   8");
    EXPECT_EQ(dat.at(10), "10   1.000000   1.000000   0.000000");
    std::vector<std::string> triangles;
    for (int t = 0; t < 8; ++t) triangles.push_back(triangle(t));
    EXPECT_THAT(triangles, ElementsAre("10 1 8 0", "10 4 8 0", "10 1 5 0", "10 5 2 0", "10 2 6 0",
                                       "10 6 3 0", "10 3 7 0", "10 7 4 0"));
}

// A hexahedron 1..8 (bottom 1-4, top 5-8) and a tetrahedron 9..12, with S3 shells left out.
const char* const solids_deck =
    "*NODE\n"
    "1, 0, 0, 0\n2, 1, 0, 0\n3, 1, 1, 0\n4, 0, 1, 0\n"
    "5, 0, 0, 1\n6, 1, 0, 1\n7, 1, 1, 1\n8, 0, 1, 1\n"
    "9, 5, 0, 0\n10, 6, 0, 0\n11, 5, 1, 0\n12, 5, 0, 1\n"
    "*ELEMENT, TYPE=C3D8R, ELSET=BLOCK\n"
    "100, 1, 2, 3, 4, 5, 6, 7, 8\n"
    "*ELEMENT, TYPE=C3D4, ELSET=TET\n"
    "200, 9, 10, 11, 12\n"
    "*NSET, NSET=TOP\n"
    "5, 6, 7, 8\n"
    "*SURFACE, NAME=OTHER, TYPE=ELEMENT\n"
    "100, S1\n"
    "*Surface, name=HOT, type=ELEMENT\n"
    "100, S2\n"
    "** the tetrahedron's bottom\n"
    "200, S1\n"
    "*STEP\n";

TEST_F(DeckTest, SolidFacesOfAMatchedSurfaceOnly) {
    surfaces({"COLD", "HOT"});
    convert(solids_deck);
    // Hexahedron S2 = nodes 5 8 7 6: centre (0.5, 0.5, 1) becomes vertex 13; the tetrahedron's
    // S1 = 9 10 11 is one triangle. Surface HOT is entry 2 of the names: boundary ID 2.
    ASSERT_EQ(dat.at(0), "13   13   5");
    EXPECT_EQ(dat.at(13), "13   0.500000   0.500000   1.000000");
    std::vector<std::string> triangles;
    for (int t = 0; t < 5; ++t) triangles.push_back(triangle(t));
    EXPECT_THAT(triangles,
                ElementsAre("13 5 6 2", "13 5 8 2", "13 8 7 2", "13 7 6 2", "9 10 11 2"));
    EXPECT_THAT(list, ElementsAre("5", "HOT.100, P2", "HOT.100, P2", "HOT.100, P2", "HOT.100, P2",
                                  "HOT.200, P1"));
    EXPECT_THAT(face_number, ElementsAre(2, 2, 2, 2, 1));
    EXPECT_THAT(surface_number, ElementsAre(2, 2, 2, 2, 2));
    EXPECT_THAT(out, HasSubstr("Found *NSET section\n"
                               "Read surface OTHER\n"
                               "Read surface HOT\n   Creating surface HOT\n"
                               "skipping **\n"
                               "Found *STEP section\n"
                               "Setting up surface faces from element data\n"));
    EXPECT_THAT(out, HasSubstr("Types of Shell Elements: 0, Types of 3D Elements: 2 \n"
                               "Surfaces: 2\nThere are 2 faces for surface HOT\n"));
    EXPECT_THAT(out, ::testing::Not(HasSubstr("surface COLD")));
}

TEST_F(DeckTest, CrLfDeckReadsLikeLf) {
    surfaces({"HOT"});
    std::string deck = solids_deck, crlf;
    for (char c : deck) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    convert(crlf);
    std::vector<std::string> dat_crlf = dat, list_crlf = list;
    convert(deck);
    EXPECT_EQ(dat, dat_crlf);
    EXPECT_EQ(list, list_crlf);
}

TEST_F(DeckTest, ElementLinesGoOnOnTheNextLineAndCommentsAreSkipped) {
    // A 20-node hexahedron over two lines with a comment between: face S6 uses corners
    // 1 4 8 5 only; the mid-side nodes 9..20 stay unused vertices.
    std::string deck = "*NODE\n";
    const double corner[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                 {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    for (int k = 0; k < 8; ++k)
        deck += std::to_string(k + 1) + ", " + std::to_string(corner[k][0]) + ", " +
                std::to_string(corner[k][1]) + ", " + std::to_string(corner[k][2]) + "\n";
    for (int k = 9; k <= 20; ++k) deck += std::to_string(k) + ", 7, 7, 7\n";
    deck += "*ELEMENT, TYPE=C3D20R\n"
            "** first element\n"
            "7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,\n"
            "** rest of its nodes\n"
            "16, 17, 18, 19, 20\n"
            "8, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20\n"
            "*SURFACE, NAME=WALL\n"
            "7, S6\n"
            "8, S1\n";
    surfaces({"WALL"});
    convert(deck);
    ASSERT_EQ(dat.at(0), "22   22   8");
    EXPECT_EQ(dat.at(21), "21   0.000000   0.500000   0.500000");
    EXPECT_EQ(dat.at(22), "22   0.500000   0.500000   0.000000");
    EXPECT_EQ(triangle(0), "21 1 5 1");
    EXPECT_EQ(triangle(4), "22 1 4 1");
    EXPECT_THAT(element_number, ElementsAre(7, 7, 7, 7, 8, 8, 8, 8));
    EXPECT_THAT(out, HasSubstr("Reading element block 1 of 1 blocks with 2 elements\n"));
}

TEST_F(DeckTest, ElementSetsGiveOneFacePerMemberInSetOrder) {
    // Two tetrahedra sharing nodes; set BOTH lists them 21 then 20, set GEN is 20..21 by
    // GENERATE. Surface A: BOTH, S1; surface B: GEN, S2 (nodes 1 4 2).
    surfaces({"A", "B"}, 1);
    convert("*NODE\n"
            "1, 0, 0, 0\n2, 1, 0, 0\n3, 0, 1, 0\n4, 0, 0, 1\n5, 1, 1, 1\n"
            "*ELEMENT, TYPE=DC3D4\n"
            "20, 1, 2, 3, 4\n"
            "21, 2, 3, 4, 5\n"
            "*ELSET, ELSET=BOTH\n"
            "21,\n"
            "** the other one\n"
            "20\n"
            "*Elset, elset=GEN, generate\n"
            "20, 21, 1\n"
            "*SURFACE, NAME=A\n"
            "BOTH, S1\n"
            "*SURFACE, NAME=B\n"
            "GEN, S2\n");
    EXPECT_THAT(out, HasSubstr("skipping **\nRead 2 elements from elset BOTH\n"
                               "Read 2 elements from elset GEN\n"
                               "Read surface A\n   Creating surface A\nfound elset BOTH\n"
                               "Read surface B\n   Creating surface B\nfound elset GEN\n"));
    EXPECT_THAT(out, HasSubstr("There are 2 faces for surface A\nThere are 2 faces for surface B\n"));
    // Element 20 comes first in the deck, so its faces come first: (A, S1) then (B, S2).
    EXPECT_THAT(list, ElementsAre("4", "A.20, P1", "B.20, P2", "A.21, P1", "B.21, P2"));
    EXPECT_EQ(triangle(0), "1 2 3 1");
    EXPECT_EQ(triangle(1), "1 4 2 2");
    EXPECT_EQ(triangle(2), "2 3 4 1");
    EXPECT_EQ(triangle(3), "2 5 3 2");
}

TEST_F(DeckTest, ElementSetsAreSkippedWhenSurfacesNameElements) {
    surfaces({"A"}, 0);
    convert("*NODE\n1, 0, 0, 0\n2, 1, 0, 0\n3, 0, 1, 0\n4, 0, 0, 1\n"
            "*ELEMENT, TYPE=C3D4\n20, 1, 2, 3, 4\n"
            "*ELSET, ELSET=E\n20\n"
            "*SURFACE, NAME=A\n20, S3\n");
    EXPECT_THAT(out, HasSubstr("Found *ELSET section\nRead surface A\n"));
    EXPECT_THAT(list, ElementsAre("1", "A.20, P3"));
    EXPECT_EQ(triangle(0), "2 4 3 1");
}

TEST_F(DeckTest, UnsupportedTypesAreSkippedAndSparseNodeNumbersFound) {
    // Node numbers far apart, and node 500 twice: the first one wins.
    surfaces({"S"});
    convert("*NODE\n"
            "1000000, 0, 0, 0\n7, 1, 0, 0\n500, 0, 1, 0\n500, 9, 9, 9\n"
            "******* E L E M E N T S *************\n"
            "*ELEMENT, type=T3D2, ELSET=Line1\n"
            "1, 1000000, 7\n"
            "*ELEMENT, type=CPS3, ELSET=Surface1\n"
            "2, 1000000, 7,\n"
            "  500\n"
            "*ELEMENT, type=S3, ELSET=Skin\n"
            "3, 1000000, 7, 500\n");
    EXPECT_THAT(out, HasSubstr("   Nodelines=4\nWarning: element type T3D2 not supported"
                               "Warning: element type CPS3 not supported"));
    EXPECT_THAT(out, HasSubstr("Types of Shell Elements: 1, Types of 3D Elements: 0 \n"));
    EXPECT_THAT(out, HasSubstr("Reading element block 2 of 3 blocks with 1 elements\n"));
    ASSERT_EQ(dat.at(0), "4   4   1");
    EXPECT_EQ(triangle(0), "1 2 3 0");
    EXPECT_THAT(element_number, ElementsAre(3));
}

TEST_F(DeckTest, ManyBlocksSurfaceSectionsAndSetsAreAllKept) {
    // 120 single-element S3 blocks, 120 element sets and 120 *SURFACE sections, all more
    // than the 100 the old tables held.
    std::string deck = "*NODE\n1, 0, 0, 0\n2, 1, 0, 0\n3, 0, 1, 0\n4, 0, 0, 1\n";
    for (int b = 1; b <= 120; ++b) deck += "*ELEMENT, TYPE=S3\n" + std::to_string(b) + ", 1, 2, 3\n";
    deck += "*ELEMENT, TYPE=C3D4\n1000, 1, 2, 3, 4\n";
    for (int s = 1; s <= 120; ++s) deck += "*ELSET, ELSET=SET" + std::to_string(s) + "\n1000\n";
    for (int s = 1; s <= 120; ++s) deck += "*SURFACE, NAME=F\nSET" + std::to_string(s) + ", S4\n";
    surfaces({"F"}, 1);
    convert(deck);
    ASSERT_EQ(dat.at(0), "4   4   240");
    EXPECT_EQ(element_number.at(119), 120);
    EXPECT_EQ(element_number.at(239), 1000);
    EXPECT_EQ(list.at(240), "F.1000, P4");
    EXPECT_THAT(out, HasSubstr("Types of Shell Elements: 120, Types of 3D Elements: 1 \n"
                               "Surfaces: 120\n"));
    EXPECT_THAT(out, HasSubstr("There are 120 faces for surface F\n"));
}

}  // namespace

namespace {

TEST_F(DeckTest, GmshBrickDeckWithTheUserEdits) {
    // As gmsh wrote it (the top as CPS4, no *SURFACE) the deck makes nothing: the
    // abaqus_gmsh_deck_as_written end-to-end case. Here the top as shells, and the bricks'
    // S2 faces (nodes 5 8 7 6: the top) as a surface.
    surfaces({"TOP"}, 1);
    std::string deck = tool_deck("plate.inp");
    replace_all(deck, "type=CPS4", "type=S4");
    deck += "*SURFACE, NAME=TOP, TYPE=ELEMENT\nSOLID, S2\n";
    convert(deck);
    ASSERT_EQ(dat.at(0), "26   26   32");  // 18 nodes + 4 shell and 4 face centres
    auto xyz = dat_vertices(dat);
    for (int t = 0; t < 32; ++t) {
        std::istringstream line(triangle(t));
        int v[3], s;
        line >> v[0] >> v[1] >> v[2] >> s;
        EXPECT_EQ(s, t < 16 ? 0 : 1) << "triangle " << t;
        for (int k : v) EXPECT_EQ(xyz.at(k).at(2), 1.0) << "triangle " << t << " is off the top";
    }
    EXPECT_EQ(list.at(1), ".1, P0");
    EXPECT_EQ(list.at(17), "TOP.5, P2");
    EXPECT_EQ(list.at(32), "TOP.8, P2");
}

TEST_F(DeckTest, GmshTetrahedronDeckWithShellTypeAndAllFirstFaces) {
    std::string deck = tool_deck("tetbox.inp");
    replace_all(deck, "type=CPS3", "type=S3");
    deck += "*SURFACE, NAME=INNER, TYPE=ELEMENT\nSOLID, S1\n";
    surfaces({"INNER"}, 1);
    convert(deck);
    // Four shell triangles on x = 1, then one triangle per tetrahedron (24), no new vertex.
    ASSERT_EQ(dat.at(0), "14   14   28");
    auto xyz = dat_vertices(dat);
    for (int t = 0; t < 4; ++t) {
        std::istringstream line(triangle(t));
        int v[3];
        line >> v[0] >> v[1] >> v[2];
        for (int k : v) EXPECT_EQ(xyz.at(k).at(0), 1.0) << "triangle " << t;
    }
    EXPECT_EQ(element_number.at(4), 5);
    EXPECT_EQ(element_number.back(), 28);
    EXPECT_THAT(out, HasSubstr("There are 24 faces for surface INNER\n"));
}

}  // namespace

namespace {

TEST_F(DeckTest, GmshSecondOrderBricksContinuedLinesAndEightNodeShells) {
    std::string deck = tool_deck("plate20.inp");
    replace_all(deck, "type=CPS8", "type=S8R");
    deck += "*SURFACE, NAME=TOP, TYPE=ELEMENT\nSOLID, S2\n";
    surfaces({"TOP"}, 1);
    convert(deck);
    // 4 S8R shells (8 triangles each) and 4 brick faces (4 each), all on the top z = 1.
    auto xyz = dat_vertices(dat);
    const int nodes = static_cast<int>(xyz.size()) - 1 - 8;
    ASSERT_EQ(dat.at(0), std::to_string(nodes + 8) + "   " + std::to_string(nodes + 8) + "   48");
    // The fans must tile each unit square once: the areas add up to 4 for each kind.
    double shell_area = 0, face_area = 0;
    for (int t = 0; t < 48; ++t) {
        std::istringstream line(triangle(t));
        int v[3];
        line >> v[0] >> v[1] >> v[2];
        for (int k : v) EXPECT_EQ(xyz.at(k).at(2), 1.0) << "triangle " << t << " is off the top";
        const auto &a = xyz.at(v[0]), &b = xyz.at(v[1]), &c = xyz.at(v[2]);
        double area = 0.5 * std::abs((b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]));
        (t < 32 ? shell_area : face_area) += area;
    }
    EXPECT_NEAR(shell_area, 4.0, 1e-9);
    EXPECT_NEAR(face_area, 4.0, 1e-9);
    EXPECT_THAT(out, HasSubstr("There are 4 shell element S8R, with 8 nodes each\n"));
    EXPECT_THAT(out, HasSubstr("There are 4 faces for surface TOP\n"));
}

}  // namespace
