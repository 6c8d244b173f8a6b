// Film and flux cards on hand-built tables: how faces are told apart and what a face's
// values are when its triangles differ or some never got data.
#include "output/film_cards.h"

#include "output_test_util.h"

#include <string>

namespace {

using FilmCards = InTempDirectory;

// Unit square z = 0 cut into two triangles of area 0.5, and a second square beside it.
void two_squares() {
    set_vertices({make_vertex(0, 0, 0), make_vertex(1, 0, 0), make_vertex(1, 1, 0),
                    make_vertex(0, 1, 0), make_vertex(2, 0, 0), make_vertex(2, 1, 0)});
    set_triangles({make_triangle(0, 1, 2), make_triangle(0, 2, 3), make_triangle(1, 4, 5),
                      make_triangle(1, 5, 2)});
    settings.read_abaqus = 1;
    settings.film_output = 2;
}

void give(int t, double htc, double fluid_temp, double flux) {
    Triangle& tri = triangle_table[t];
    tri.htc = htc;
    tri.fluid_temp = fluid_temp;
    tri.flux = flux;
    tri.initialized = 1;
}

std::string card_lines(const std::string& file) {
    std::string text = read_whole_file(file), lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find("\r\n", begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        if (line.rfind("**", 0) != 0 && line.rfind("*", 0) != 0) lines += line + "\n";
        begin = end + 2;
    }
    return lines;
}

TEST_F(FilmCards, OneElementsTwoFacesStayTwoLinesAndWeightsConserveHeat) {
    // Element 7 faces S1 (triangles 0, 1) and S3 (triangles 2, 3), one after the other.
    two_squares();
    element_number = {7, 7, 7, 7};
    face_number = {1, 1, 3, 3};
    surface_number = {1, 1, 1, 1};
    give(0, 100, 400, 1000);
    give(1, 300, 600, 3000);
    give(2, 50, 500, 0);
    give(3, 50, 300, 0);
    write_film_cards();
    commit_result_files();
    // S1: h = (100 + 300) / 2 = 200, sink = (100*400 + 300*600) / 400 = 550 (the map's
    // plain mean, 500, would lose heat); S3: equal h, sink the mean 400.
    EXPECT_EQ(card_lines("htc_film.inp"),
              "7, F1, 5.500000e+002, 2.000000e+002\n7, F3, 4.000000e+002, 5.000000e+001\n");
    EXPECT_EQ(card_lines("htc_dflux.inp"), "7, S1, 2.000000e+003\n7, S3, 0.000000e+000\n");
    EXPECT_EQ(read_whole_file("htc_abaqus_area.csv"),
              crlf("element,face,area(m^2),htc(W/m^2/K),sink(K),flux(W/m^2)\n"
                   "7,F1,1.000000e+000,2.000000e+002,5.500000e+002,2.000000e+003\n"
                   "7,F3,1.000000e+000,5.000000e+001,4.000000e+002,0.000000e+000\n"));
}

TEST_F(FilmCards, TrianglesWithoutDataCountAsNoFilmAndFacesWithoutDataAreLeftOut) {
    // Element 1 S2: one triangle has data, the other none: half the area carries h.
    // Element 2 S2 has no data at all; element 3 S1 has data but h = 0.
    two_squares();
    element_number = {1, 1, 2, 3};
    face_number = {2, 2, 2, 1};
    surface_number = {1, 1, 1, 1};
    give(0, 80, 450, 4000);
    give(3, 0, 310, 0);
    settings.film_output = 1;
    settings.model_units = 1;
    write_film_cards();
    commit_result_files();
    // In mm-tonne-s: h 40 W/m^2/K is 4e-2 mW/mm^2/K; with h = 0 the sink is the plain mean.
    EXPECT_EQ(card_lines("htc_film.inp"),
              "1, F2, 4.500000e+002, 4.000000e-002\n3, F1, 3.100000e+002, 0.000000e+000\n");
    EXPECT_EQ(read_whole_file("htc_dflux.inp"), "<missing htc_dflux.inp>");
    EXPECT_EQ(read_whole_file("htc_abaqus_area.csv"),
              crlf("element,face,area(mm^2),htc(mW/mm^2/K),sink(K),flux(mW/mm^2)\n"
                   "1,F2,1.000000e+006,4.000000e-002,4.500000e+002,2.000000e+000\n"
                   "3,F1,5.000000e+005,0.000000e+000,3.100000e+002,0.000000e+000\n"));
}

TEST_F(FilmCards, NothingWithoutADeckOrWithoutTheSetting) {
    two_squares();
    settings.read_abaqus = 0;
    testing::internal::CaptureStdout();
    write_film_cards();
    commit_result_files();
    flush_say();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: film_output needs an ABAQUS deck (read_abaqus 1): no card file written\n");
    settings.read_abaqus = 1;
    settings.film_output = 0;
    element_number = face_number = surface_number = {1, 1, 1, 1};
    write_film_cards();
    commit_result_files();
    EXPECT_EQ(read_whole_file("htc_film.inp"), "<missing htc_film.inp>");
}

}  // namespace
