// EnSight case, ASCII geometry and variable files on hand-built surfaces; the option
// choice and the file-creation failures.
#include "output/viewers.h"

#include "output_test_util.h"
#include "platform/io.h"
#include "platform/format.h"

#include <unistd.h>

namespace {

using EnsightAscii = InTempDirectory;

// Vertex i at (i, 0.5, -1); only vertex 0 has data.
void seven_vertices() {
    for (int i = 0; i < 7; ++i) add_vertex(i, 0.5, -1);
    vertex_averages[0].initialized = 1;
    vertex_averages[0].boundary_temp = 0.5;
    vertex_averages[0].htc = 25;
    vertex_averages[1].boundary_temp = 99;
    extra_names = {"mach"};
    vertex_extra = {0.3, 9, 9, 9, 9, 9, 9};
}

TEST_F(EnsightAscii, CaseGeometryAndVariablesWithPartOffsetForBoundaryZero) {
    seven_vertices();
    set_triangles({make_triangle(0, 1, 2, 0), make_triangle(1, 2, 3, 3),
                      make_triangle(2, 3, 4, 0), make_triangle(3, 4, 5, -1),
                      make_triangle(4, 5, 6, 1000)});
    settings.ensight_outputfiles = 1;
    write_ensight();
    commit_result_files();
    EXPECT_EQ(format_string("%e", 1.0), "1.000000e+000");  // the other writers keep three

    EXPECT_EQ(read_whole_file("ensight/quorvel.case"),
              crlf("#\n# New case file format for: surface\n#\n\n"
                   "FORMAT\ntype:\t\t\tensight\n\n"
                   "GEOMETRY\nmodel:\t\t\tquorvel.geo\n\n"
                   "VARIABLE\n\n"
                   "scalar per node:\tboundary_temp\tquorvel.btemp\n"
                   "scalar per node:\tflux\tquorvel.flux\n"
                   "scalar per node:\thtc\tquorvel.htc\n"
                   "scalar per node:\tfluid_temp\tquorvel.ftemp\n"
                   "scalar per node:\typlus\tquorvel.yplus\n"
                   "scalar per node:\tmach\tquorvel.mach\n"));

    // Boundaries 0 and 3 are parts 1 and 4; IDs -1 and 1000 are in no part, their
    // vertices still listed. Two-digit exponents, 12 characters a field.
    std::string coordinates;
    for (int i = 0; i < 7; ++i)
        coordinates += " " + std::to_string(i) + ".00000e+00 5.00000e-01-1.00000e+00\n";
    EXPECT_EQ(read_whole_file("ensight/quorvel.geo"),
              crlf("Triangulated surface\n\nnode id assign\nelement id assign\ncoordinates\n"
                   "       7\n" + coordinates +
                   "part 1\n boundary_1\ntria3\n       2\n"
                   "       1       2       3\n       3       4       5\n"
                   "part 4\n boundary_4\ntria3\n       1\n"
                   "       2       3       4\n"));

    // Bare line feeds; six values a line, the seventh without a line feed.
    std::string m = "-1.00000e+00";
    EXPECT_EQ(read_whole_file("ensight/quorvel.btemp"),
              "boundary_temp\n 5.00000e-01" + m + m + m + m + m + "\n" + m);
    EXPECT_EQ(read_whole_file("ensight/quorvel.htc"),
              "htc\n 2.50000e+01" + m + m + m + m + m + "\n" + m);
    EXPECT_EQ(read_whole_file("ensight/quorvel.flux"),
              "flux\n 0.00000e+00" + m + m + m + m + m + "\n" + m);
    EXPECT_EQ(read_whole_file("ensight/quorvel.mach"),
              "mach\n 3.00000e-01" + m + m + m + m + m + "\n" + m);
}

TEST_F(EnsightAscii, NoOffsetWithoutBoundaryZeroAndExistingDirectoryReused) {
    for (int i = 0; i < 6; ++i) add_vertex(0, 0, 0);
    set_triangles({make_triangle(0, 1, 2, 3), make_triangle(3, 4, 5, 2)});
    std::filesystem::create_directory("ensight");
    {
        std::FILE* stale = std::fopen("ensight/quorvel.geo", "wb");
        std::fputs(std::string(5000, 'x').c_str(), stale);
        std::fclose(stale);
    }
    write_ensight_ascii(ensight_variable_table());
    commit_result_files();
    std::string geo = read_whole_file("ensight/quorvel.geo");
    EXPECT_EQ(geo.find('x'), std::string::npos);
    EXPECT_NE(geo.find("part 2\r\n boundary_2\r\ntria3\r\n       1\r\n       4       5       6\r\n"
                       "part 3\r\n boundary_3\r\ntria3\r\n       1\r\n       1       2       3\r\n"),
              std::string::npos);
    // A multiple of six values ends with the line feed.
    std::string m = "-1.00000e+00";
    EXPECT_EQ(read_whole_file("ensight/quorvel.yplus"), "yplus\n" + m + m + m + m + m + m + "\n");
}

TEST_F(EnsightAscii, InvalidOptionWritesNothingAndSaysSo) {
    seven_vertices();
    settings.ensight_outputfiles = 4;
    testing::internal::CaptureStdout();
    write_ensight();
    commit_result_files();
    flush_say();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nInvalid option selected for writing output files in Ensight format. No output "
              "files written.\nValid optins:\n1 - ASCII format\n2 - Binary format\n"
              "3 - Scrambled Binary format\n");
    EXPECT_FALSE(std::filesystem::exists("ensight"));
}

TEST_F(EnsightAscii, FilesThatCannotBeCreatedStopWithExitOne) {
    seven_vertices();
    // A plain file where the directory should be: the directory cannot be made.
    { std::FILE* f = std::fopen("ensight", "wb"); std::fclose(f); }
    EXPECT_EXIT(
        {
            dup2(2, 1);
            write_ensight_ascii(ensight_variable_table());
            commit_result_files();
        },
        testing::ExitedWithCode(1), "Unable to create directory: ensight");
    std::filesystem::remove("ensight");
    // A working directory that has gone: nothing can be created in it.
    std::filesystem::create_directory("gone");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            if (chdir("gone") != 0 || rmdir("../gone") != 0) std::abort();
            write_ensight_ascii(ensight_variable_table());
            commit_result_files();
        },
        testing::ExitedWithCode(1),
        "^\\*{75} \n\\*{9} Error -- Unable to create directory: ensight \\*{15}\n\\*{75} \n$");
}

}  // namespace
