// The GMV file on a hand-built surface, byte for byte.
#include "output/viewers.h"

#include "output_test_util.h"
#include "platform/io.h"

#include <unistd.h>

namespace {

using GmvFile = InTempDirectory;

TEST_F(GmvFile, WholeFileWithUninitializedVerticesAsMinusOne) {
    set_vertices({make_vertex(0, 0, 0), make_vertex(1, 0, 0), make_vertex(0, 1, 1)});
    // Both triangles are cells, whether they got data or not.
    set_triangles({make_triangle(0, 1, 2), make_triangle(2, 1, 0)});
    triangle_table[0].initialized = 1;
    extra_names = {"mach"};
    vertex_extra = {0.25, 9, 9};
    VertexAverages& v = vertex_averages[0];
    v.initialized = 1;
    v.boundary_temp = 300;
    v.flux = 1000;
    v.htc = 20;
    v.fluid_temp = 400;
    v.yplus = 1;
    v.reach = 0.5;
    vertex_averages[1].boundary_temp = vertex_averages[1].reach = 7;  // uninitialized: never shown
    write_gmv();
    commit_result_files();
    std::string m = " -1.000000e+000 -1.000000e+000 \n";
    EXPECT_EQ(read_whole_file("quorvel.gmv"),
              crlf("gmvinput ascii\ncomments\nGMV file created by Quorvel utility\n"
                   "Time-averaged CFD wall data mapped onto the surface vertices\nendcomm\n"
                   "nodes 3\n"
                   "0.000000e+000 1.000000e+000 0.000000e+000 \n"
                   "0.000000e+000 0.000000e+000 1.000000e+000 \n"
                   "0.000000e+000 \n0.000000e+000 \n1.000000e+000 \n\n"
                   "cells 2\ntri 3 1 2 3 \ntri 3 3 2 1 \n"
                   "variable\n"
                   "boundary_temp 1 3.000000e+002" + m +
                   "flux 1 1.000000e+003" + m +
                   "htc 1 2.000000e+001" + m +
                   "fluid_temp 1 4.000000e+002" + m +
                   "yplus 1 1.000000e+000" + m +
                   "dist 1 5.000000e-001" + m +
                   "mach 1 2.500000e-001" + m +
                   "endvars\nendgmv\n"));
}

TEST_F(GmvFile, FileThatCannotBeCreatedStopsNamingIt) {
    std::filesystem::create_directory("quorvel.gmv");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            write_gmv();
            commit_result_files();
        },
        testing::ExitedWithCode(1), "could not create quorvel.gmv");
}

}  // namespace
