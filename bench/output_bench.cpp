// bench/output_bench.cpp: the map files and viewer files of a surface of 1M triangles
// and 500k vertices, all with data, two extra variables.
#include "config/options.h"
#include "output/map_files.h"
#include "output/viewers.h"
#include "surface/surface.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int side = 708;  // 708 x 708 vertices, 2 * 707 * 707 = 999698 triangles

void fill_surface() {
    if (!triangle_table.empty()) return;
    static std::filesystem::path directory = [] {
        char pattern[] = "/tmp/quorvel_output_bench_XXXXXX";
        std::filesystem::path p = mkdtemp(pattern);
        std::filesystem::current_path(p);
        return p;
    }();
    extra_names = {"mach", "q_rad"};
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            vertex_table.push_back(Vertex{1e-3 * i, -1e-3 * j, 1e-4 * std::sin(0.01 * i * j)});
            VertexAverages v;
            v.initialized = 1;
            v.boundary_temp = 300 + 0.001 * i;
            v.flux = 1e5 + j;
            v.htc = 1500 + 0.01 * (i + j);
            v.fluid_temp = 900 - 0.002 * j;
            v.yplus = 1.5;
            v.time_with_hits = 0.02;
            v.angle_sum = 6.283185307;
            v.boundary_id = j % 7;
            vertex_averages.push_back(v);
            vertex_extra.push_back(0.3);
            vertex_extra.push_back(-12.5);
        }
    for (int j = 0; j + 1 < side; ++j)
        for (int i = 0; i + 1 < side; ++i) {
            int a = j * side + i;
            for (int k = 0; k < 2; ++k) {
                Triangle t;
                t.vert[0] = a + k;
                t.vert[1] = k == 0 ? a + 1 : a + side + 1;
                t.vert[2] = a + side;
                t.area = 5e-7;
                t.initialized = (i + j) % 10 != 0;
                t.boundary_temp = 300 + 0.001 * i;
                t.flux = 1e5 + j;
                t.htc = 1500;
                t.fluid_temp = 900;
                t.yplus = 1.5;
                t.time_with_hits = 0.02;
                TriangleGeometry g;
                g.centroid[0] = 1e-3 * i;
                g.centroid[1] = -1e-3 * j;
                g.boundary_id = j % 7;
                triangle_table.push_back(t);
                triangle_geometry.push_back(g);
                triangle_extra.push_back(0.3);
                triangle_extra.push_back(-12.5);
            }
        }
}

void TriangleMap(benchmark::State& state) {
    fill_surface();
    for (auto _ : state) {
        printed_triangle_count = 0;
        write_triangle_map("htc_triangles.map", "s", 0, 0);
    }
}
BENCHMARK(TriangleMap)->Unit(benchmark::kMillisecond)->Iterations(3);

void VertexMap(benchmark::State& state) {
    fill_surface();
    for (auto _ : state) write_vertex_map("htc_vertex.map", "s", 0, 0);
}
BENCHMARK(VertexMap)->Unit(benchmark::kMillisecond)->Iterations(3);

void EnsightAscii(benchmark::State& state) {
    fill_surface();
    for (auto _ : state) write_ensight_ascii(ensight_variable_table());
}
BENCHMARK(EnsightAscii)->Unit(benchmark::kMillisecond)->Iterations(3);

void EnsightBinary(benchmark::State& state) {
    fill_surface();
    for (auto _ : state) write_ensight_binary(true, 1);
}
BENCHMARK(EnsightBinary)->Unit(benchmark::kMillisecond)->Iterations(3);

void Gmv(benchmark::State& state) {
    fill_surface();
    for (auto _ : state) write_gmv();
}
BENCHMARK(Gmv)->Unit(benchmark::kMillisecond)->Iterations(3);

void FieldviewBinary(benchmark::State& state) {
    fill_surface();
    settings.fieldview_outputfiles = 1;
    for (auto _ : state) write_fieldview();
}
BENCHMARK(FieldviewBinary)->Unit(benchmark::kMillisecond)->Iterations(3);

void FieldviewAscii(benchmark::State& state) {
    fill_surface();
    settings.fieldview_outputfiles = -1;
    for (auto _ : state) write_fieldview();
}
BENCHMARK(FieldviewAscii)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::path here = std::filesystem::current_path();
    if (here.string().rfind("/tmp/quorvel_output_bench_", 0) == 0) {
        std::filesystem::current_path("/tmp");
        std::filesystem::remove_all(here);
    }
    return 0;
}
