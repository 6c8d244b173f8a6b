// Map files on hand-built tables: exact bytes (CR LF, three-digit exponents), filters,
// the ABAQUS element runs and the summary line.
#include "output/map_files.h"

#include "output_test_util.h"
#include "platform/io.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using MapFiles = InTempDirectory;

const char* const triangle_header =
    "tri_num #x(m) y(m) z(m) TriArea(m) BoundaryTemp(K) Flux(W/m^2) Htc(W/m^2/K) "
    "FluidTemp(K) Yplus(-) timewithhits(s) totaltime(s), mach, q_rad BoundaryID\n";
const char* const triangle0_line =
    "0 1.000000e+000 2.000000e+000 3.000000e+000 5.000000e-001 2.931500e+002 1.250000e+003 "
    "2.500000e+001 3.900000e+002 1.500000e+000 2.000000e-001 3.000000e-001 7.000000e+000 "
    "-1.250000e-003 3\n";

std::string zeros(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += " 0.000000e+000";
    return text;
}

// Three triangles, the middle one never got data; two extra variables.
void three_triangles() {
    for (int i = 0; i < 5; ++i) add_vertex(i, 0, 0);
    set_triangles({make_triangle(0, 1, 2, 3), make_triangle(1, 2, 3, 3),
                      make_triangle(2, 3, 4, 0)});
    extra_names = {"mach", "q_rad"};
    triangle_extra = {7, -0.00125, 99, 99, 0, 0};
    vertex_extra.assign(2 * vertex_table.size(), 0.0);
    triangle_geometry[0].centroid[0] = 1;
    triangle_geometry[0].centroid[1] = 2;
    triangle_geometry[0].centroid[2] = 3;
    Triangle& t = triangle_table[0];
    t.area = 0.5;
    t.boundary_temp = 293.15;
    t.flux = 1250;
    t.htc = 25;
    t.fluid_temp = 390;
    t.yplus = 1.5;
    t.time_with_hits = 0.2;
    t.time_without_hits = 0.1;
    t.initialized = 1;
    triangle_table[1].boundary_temp = 999;
    triangle_table[2].initialized = 1;
}

TEST_F(MapFiles, TriangleMapSkipsUninitializedAndCountsInSummary) {
    three_triangles();
    printed_triangle_count = 0;
    testing::internal::CaptureStdout();
    write_triangle_map("htc_triangles.map", "s", 0, 0);
    commit_result_files();
    flush_say();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Of 3 triangeles, printed results for 2 initialized triangles\n");
    EXPECT_EQ(read_whole_file("htc_triangles.map"),
              crlf(std::string(triangle_header) + triangle0_line + "2" + zeros(13) + " 0\n"));
}

TEST_F(MapFiles, GroupFilesFilterByBoundaryAndPrintNoSummary) {
    three_triangles();
    vertex_averages[0].initialized = vertex_averages[4].initialized = 1;
    vertex_averages[0].boundary_id = 3;
    settings.boundary_groups = {{"head", 1, {3}}, {"empty", 0, {}}, {"other", 2, {5, 0}}};
    printed_triangle_count = 0;
    testing::internal::CaptureStdout();
    write_triangle_map("htc_triangles.map", "s", 0, 0);
    commit_result_files();
    write_triangle_map("htc_triangles_head.map", "s", 1, 0);
    commit_result_files();
    write_triangle_map("htc_triangles_empty.map", "s", 1, 1);
    commit_result_files();
    write_triangle_map("htc_triangles_other.map", "s", 1, 2);
    commit_result_files();
    write_vertex_map("htc_vertex_head.map", "s", 1, 0);
    commit_result_files();
    write_vertex_map("htc_vertex_empty.map", "s", 1, 1);
    commit_result_files();
    flush_say();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Of 3 triangeles, printed results for 2 initialized triangles\n");
    EXPECT_EQ(printed_triangle_count, 4);  // every file's accepted triangles
    EXPECT_EQ(read_whole_file("htc_triangles_head.map"),
              crlf(std::string(triangle_header) + triangle0_line));
    EXPECT_EQ(read_whole_file("htc_triangles_empty.map"), crlf(triangle_header));
    EXPECT_EQ(read_whole_file("htc_triangles_other.map"),
              crlf(std::string(triangle_header) + "2" + zeros(13) + " 0\n"));

    std::string vertex_header =
        "#vert_num x(m) y(m) z(m) BoundaryTemp(K) Flux(W/m^2) Htc(W/m^2/K) FluidTemp(K) "
        "Yplus(-) timewithhits(s) totaltime(s) mach q_rad SumAngle(deg) BoundaryID\n";
    EXPECT_EQ(read_whole_file("htc_vertex_empty.map"), crlf(vertex_header));
    std::string head = read_whole_file("htc_vertex_head.map");
    ASSERT_GT(head.size(), crlf(vertex_header).size());
    EXPECT_EQ(head.substr(crlf(vertex_header).size(), 2), "0 ");
    EXPECT_EQ(std::count(head.begin(), head.end(), '\n'), 2);  // vertex 4 is on boundary 0
}

TEST_F(MapFiles, NothingInitializedGivesHeaderOnlyAndZeroPrinted) {
    three_triangles();
    for (Triangle& t : triangle_table) t.initialized = 0;
    printed_triangle_count = 0;
    testing::internal::CaptureStdout();
    write_triangle_map("htc_triangles.map", "s", 0, 0);
    commit_result_files();
    flush_say();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Of 3 triangeles, printed results for 0 initialized triangles\n");
    EXPECT_EQ(read_whole_file("htc_triangles.map"), crlf(triangle_header));
}

TEST_F(MapFiles, AbaqusFormAveragesRunsOfOneElement) {
    settings.read_abaqus = 1;
    for (int i = 0; i < 9; ++i) add_vertex(i, 0, 0);
    extra_names = {"mach"};
    auto add = [](int element, int face, int initialized, double temp, double flux, double htc,
                  double fluid, double yplus, double with, double without, double extra) {
        int n = static_cast<int>(triangle_table.size());
        Triangle& t = add_triangle(make_triangle(n, n + 1, n + 2));
        t.initialized = initialized;
        t.boundary_temp = temp;
        t.flux = flux;
        t.htc = htc;
        t.fluid_temp = fluid;
        t.yplus = yplus;
        t.time_with_hits = with;
        t.time_without_hits = without;
        triangle_extra.push_back(extra);
        element_number.push_back(element);
        face_number.push_back(face);
    };
    // A quadrilateral face split in two: the means of the halves.
    add(10, 2, 1, 300, 100, 10, 400, 1, 1, 0, 2);
    add(10, 2, 1, 310, 300, 30, 500, 3, 1, 1, 4);
    // An uninitialized triangle inside element 20 does not split its line.
    add(20, 1, 1, 100, 0, 0, 0, 0, 0, 0, 0);
    add(20, 1, 0, 9999, 9999, 9999, 9999, 9999, 9999, 9999, 9999);
    add(20, 1, 1, 200, 0, 0, 0, 0, 0, 0, 0);
    // Element 10 again, not next to its first run: a line of its own.
    add(10, 3, 1, 50, 0, 0, 0, 0, 0, 0, 0);
    add(30, 4, 0, 1, 1, 1, 1, 1, 1, 1, 1);
    printed_triangle_count = 0;
    testing::internal::CaptureStdout();
    write_triangle_map("htc_abaqus.map", "CA", 0, 0);
    commit_result_files();
    flush_say();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Of 7 triangeles, printed results for 5 initialized triangles\n");
    EXPECT_EQ(read_whole_file("htc_abaqus.map"),
              crlf("element_num, face, BoundaryTemp(K), Flux(W/m^2), Htc(W/m^2/K), "
                   "FluidTemp(K), Yplus(-), timewithhits(CA), totaltime(CA), mach\n"
                   "10,F2,3.050000e+002,2.000000e+002,2.000000e+001,4.500000e+002,"
                   "2.000000e+000,1.000000e+000,1.500000e+000,3.000000e+000\n"
                   "20,F1,1.500000e+002,0.000000e+000,0.000000e+000,0.000000e+000,"
                   "0.000000e+000,0.000000e+000,0.000000e+000,0.000000e+000\n"
                   "10,F3,5.000000e+001,0.000000e+000,0.000000e+000,0.000000e+000,"
                   "0.000000e+000,0.000000e+000,0.000000e+000,0.000000e+000\n"));
}

TEST_F(MapFiles, VertexMapHeaderValuesAndSumAngleInDegrees) {
    for (int i = 0; i < 3; ++i) add_vertex(i, 0, 0);
    extra_names = {"mach", "q_rad"};
    vertex_extra = {7, -0.00125, 99, 99, 0, 0};
    vertex_table[0] = make_vertex(1, 2, 3);
    VertexAverages& v = vertex_averages[0];
    v.boundary_temp = 293.15;
    v.flux = 1250;
    v.htc = 25;
    v.fluid_temp = 390;
    v.yplus = 1.5;
    v.time_with_hits = 0.2;
    v.time_without_hits = 0.1;
    v.angle_sum = std::acos(-1.0);  // pi to double precision: 179.99999998 degrees
    v.boundary_id = 3;
    v.initialized = 1;
    vertex_table[2] = make_vertex(0, 0, 0);
    vertex_averages[2].angle_sum = 0.5 * 3.141592654;
    vertex_averages[2].initialized = 1;
    testing::internal::CaptureStdout();
    write_vertex_map("htc_vertex.map", "CA", 0, 0);
    commit_result_files();
    flush_say();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(read_whole_file("htc_vertex.map"),
              crlf("#vert_num x(m) y(m) z(m) BoundaryTemp(K) Flux(W/m^2) Htc(W/m^2/K) "
                   "FluidTemp(K) Yplus(-) timewithhits(CA) totaltime(CA) mach q_rad "
                   "SumAngle(deg) BoundaryID\n"
                   "0 1.000000e+000 2.000000e+000 3.000000e+000 2.931500e+002 1.250000e+003 "
                   "2.500000e+001 3.900000e+002 1.500000e+000 2.000000e-001 3.000000e-001 "
                   "7.000000e+000 -1.250000e-003 180.00 3\n"
                   "2" + zeros(12) + " 90.00 0\n"));
}

TEST_F(MapFiles, MapFileThatCannotBeCreatedStopsNamingIt) {
    three_triangles();
    // fatal() prints to standard output; the death test reads standard error.
    EXPECT_EXIT(
        {
            dup2(2, 1);
            write_triangle_map("no_such_dir/htc_triangles.map", "s", 0, 0);
            commit_result_files();
        },
        testing::ExitedWithCode(1), "could not create map file no_such_dir/htc_triangles.map");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            write_vertex_map("no_such_dir/htc_vertex.map", "s", 0, 0);
            commit_result_files();
        },
        testing::ExitedWithCode(1), "could not create map file no_such_dir/htc_vertex.map");
}

// A full disk, as a file-size limit the kernel enforces: the run stops naming the file, the
// earlier result keeps its name and content, and no temporary is left.
TEST_F(MapFiles, WriteFailureKeepsThePreviousResultAndLeavesNoTemporary) {
    three_triangles();
    {
        std::FILE* previous = std::fopen("htc_triangles.map", "wb");
        std::fputs("previous result\n", previous);
        std::fclose(previous);
    }
    EXPECT_EXIT(
        {
            dup2(2, 1);
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit;
            limit.rlim_cur = limit.rlim_max = 100;
            setrlimit(RLIMIT_FSIZE, &limit);
            write_triangle_map("htc_triangles.map", "s", 0, 0);
            commit_result_files();
        },
        testing::ExitedWithCode(1), "could not write file htc_triangles.map \\(File too large\\)");
    EXPECT_EQ(read_whole_file("htc_triangles.map"), "previous result\n");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"htc_triangles.map"});
}

}  // namespace
