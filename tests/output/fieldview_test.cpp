// FieldView ASCII and binary files on a hand-built surface, byte for byte.
#include "output/viewers.h"

#include "output_test_util.h"
#include "platform/io.h"

using namespace std::string_literals;

namespace {

using FieldviewFile = InTempDirectory;

// Three vertices, vertex 0 alone with data; the first triangle starts at vertex 1 and the
// second got no data; two extra variables.
void small_surface() {
    set_vertices({make_vertex(0, 0, 0), make_vertex(1, 0, 0), make_vertex(0, -1, 0.5)});
    set_triangles({make_triangle(1, 2, 0), make_triangle(0, 1, 2)});
    triangle_table[0].initialized = 1;
    extra_names = {"mach", "q_rad"};
    vertex_extra = {0.25, -3, 9, 9, 9, 9};
    VertexAverages& v = vertex_averages[0];
    v.initialized = 1;
    v.boundary_temp = 300;
    v.flux = 1000;
    v.htc = 20;
    v.fluid_temp = 400;
    v.yplus = 1;
    vertex_averages[2].htc = 77;  // uninitialized: written as -1
}

TEST_F(FieldviewFile, AsciiFileForNegativeOption) {
    small_surface();
    settings.fieldview_outputfiles = -1;
    write_fieldview();
    commit_result_files();
    EXPECT_FALSE(std::filesystem::exists("quorvel.uns"));
    std::string values;
    for (const char* first : {"3.000000e+002", "1.000000e+003", "2.000000e+001", "4.000000e+002",
                              "1.000000e+000", "2.500000e-001", "-3.000000e+000"})
        values += std::string(first) + " \n-1.000000e+000 \n-1.000000e+000 \n";
    EXPECT_EQ(read_whole_file("quorvel_ascii.uns"),
              crlf("FIELDVIEW 3 0\n"
                   "Constants\n 0.000000 \t 0.000000 \t 0.000000 \t 0.000000\n"
                   "Grids 1\n"
                   "Boundary Table \t 1\n"
                   "1 \t 1 \t 0 \t heat_transfer_boundary \n"
                   "Variable Names \t 7\n"
                   "boundary_temp\nflux\nhtc\nfluid_temp\nyplus\nmach\nq_rad\n"
                   "Boundary Variable Names \t 0\n"
                   "Nodes \t 3 \n"
                   "0.000000e+000 0.000000e+000 0.000000e+000 \n"
                   "1.000000e+000 0.000000e+000 0.000000e+000 \n"
                   "0.000000e+000 -1.000000e+000 5.000000e-001 \n"
                   "Boundary Faces \t 2 \n"
                   "1 3 2 3 1\n"
                   "1 3 1 2 3\n"
                   "Elements\n1 1 \n 2 2 2 2\n"
                   "Variables\n" + values +
                   "Boundary Variables\n"));
}

TEST_F(FieldviewFile, AsciiPlaceholderUsesNodeOneWithoutTriangles) {
    set_vertices({make_vertex(0, 0, 0)});
    settings.fieldview_outputfiles = -3;
    write_fieldview();
    commit_result_files();
    std::string file = read_whole_file("quorvel_ascii.uns");
    EXPECT_NE(file.find("Boundary Faces \t 0 \r\nElements\r\n1 1 \r\n 1 1 1 1\r\nVariables\r\n"),
              std::string::npos);
}

TEST_F(FieldviewFile, BinaryFileForPositiveOption) {
    small_surface();
    settings.fieldview_outputfiles = 2;
    write_fieldview();
    commit_result_files();
    EXPECT_FALSE(std::filesystem::exists("quorvel_ascii.uns"));
    Bytes b;
    b.i32(66051).record("FIELDVIEW"s, '\0').i32(3).i32(0).i32(3).i32(0);
    b.f32(1).f32(0).f32(0).f32(0);
    b.i32(1).i32(1).i32(1).i32(0).record("heat_transfer_boundary"s, '\0');
    b.i32(7);
    for (const char* name : {"boundary_temp", "flux", "htc", "fluid_temp", "yplus", "mach", "q_rad"})
        b.record(name, '\0');
    b.i32(0);
    b.i32(1001).i32(3).f32(0).f32(1).f32(0).f32(0).f32(0).f32(-1).f32(0).f32(0).f32(0.5f);
    b.i32(1002).i32(1).i32(2).i32(2).i32(3).i32(1).i32(0).i32(1).i32(2).i32(3).i32(0);
    b.i32(1003).i32(1).i32(0).i32(0).i32(0).i32(266239).i32(1).i32(1).i32(1).i32(1);
    b.i32(1004);
    for (float first : {300.0f, 1000.0f, 20.0f, 400.0f, 1.0f, 0.25f, -3.0f})
        b.f32(first).f32(-1).f32(-1);
    std::string file = read_whole_file("quorvel.uns");
    EXPECT_EQ(file, b.data);
    EXPECT_EQ(file.substr(0, 4), "\x03\x02\x01\x00"s);
}

TEST_F(FieldviewFile, FileThatCannotBeOpenedReportsOnStandardError) {
    small_surface();
    std::filesystem::create_directory("quorvel.uns");
    settings.fieldview_outputfiles = 1;
    EXPECT_EXIT(write_fieldview(), testing::ExitedWithCode(1),
                "^Cannot open output file quorvel.uns: Is a directory\n$");
}

}  // namespace
