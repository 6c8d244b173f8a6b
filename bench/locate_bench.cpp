// bench/locate_bench.cpp: reading a surface of 1M triangles, building its octree and
// locating 1M samples near it.
#include "config/options.h"
#include "platform/fatal.h"
#include "platform/io.h"
#include "surface/locate.h"
#include "surface/octree.h"
#include "surface/surface.h"
#include "quiet_stdout.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int ring_steps = 1000, tube_steps = 500;  // 2 * 1000 * 500 = 1M triangles
constexpr double tolerance = 5e-4;

// A torus of radii 0.1 m and 0.04 m, edges about 0.5 mm: the size and density of a
// refined engine surface.
const std::string& surface_text() {
    static std::string text;
    if (!text.empty()) return text;
    const int vertices = ring_steps * tube_steps;
    char line[160];
    std::snprintf(line, sizeof line, "%d %d %d\n", vertices, vertices, 2 * vertices);
    text = line;
    const double two_pi = 6.283185307179586;
    for (int i = 0; i < ring_steps; ++i)
        for (int j = 0; j < tube_steps; ++j) {
            double a = two_pi * i / ring_steps, b = two_pi * j / tube_steps;
            double r = 0.1 + 0.04 * std::cos(b);
            std::snprintf(line, sizeof line, "%d %.9e %.9e %.9e\n", 1 + i * tube_steps + j,
                          r * std::cos(a), r * std::sin(a), 0.04 * std::sin(b));
            text += line;
        }
    for (int i = 0; i < ring_steps; ++i)
        for (int j = 0; j < tube_steps; ++j) {
            int a = 1 + i * tube_steps + j;
            int b = 1 + ((i + 1) % ring_steps) * tube_steps + j;
            int c = 1 + ((i + 1) % ring_steps) * tube_steps + (j + 1) % tube_steps;
            int d = 1 + i * tube_steps + (j + 1) % tube_steps;
            std::snprintf(line, sizeof line, "%d %d %d %d\n%d %d %d %d\n", a, b, c, 1 + j % 7, a,
                          c, d, 1 + j % 7);
            text += line;
        }
    return text;
}

void set_up_frame() {
    settings = MapSettings();
    settings.scale_xyz = 1;
    settings.tolerance = tolerance;
    operation_order = OperationOrder{{"SC", "RX", "RY", "RZ", "TX", "TY", "TZ"}};
}

void read_the_surface() {
    LineReader in;
    open_memory_reader(in, surface_text(), "torus.dat");
    QuietStdout quiet;
    read_surface_from(in);
}

void BM_ReadSurface(benchmark::State& state) {
    set_up_frame();
    surface_text();
    for (auto _ : state) read_the_surface();
    state.SetItemsProcessed(state.iterations() * static_cast<long>(triangle_table.size()));
    state.counters["triangles"] = static_cast<double>(triangle_table.size());
}
BENCHMARK(BM_ReadSurface)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_BuildSubdivision(benchmark::State& state) {
    set_up_frame();
    read_the_surface();
    for (auto _ : state) {
        QuietStdout quiet;
        build_subdivision();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(triangle_table.size()));
    state.counters["leaf_entries"] = static_cast<double>(octree_leaf_triangles.size());
}
BENCHMARK(BM_BuildSubdivision)->Unit(benchmark::kMillisecond)->Iterations(2);

// 1M samples within 0.8 tolerance of the surface, in random order as a CFD mesh's boundary
// cells are not sorted along the structural surface.
void BM_LocateMillionPoints(benchmark::State& state) {
    set_up_frame();
    read_the_surface();
    {
        QuietStdout quiet;
        build_subdivision();
    }
    const int sample_count = 1000000;
    std::vector<double> points(3 * static_cast<std::size_t>(sample_count));
    std::mt19937 random(2026);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int s = 0; s < sample_count; ++s) {
        const Triangle& t = triangle_table[random() % triangle_table.size()];
        double u = unit(random), v = unit(random);
        if (u + v > 1) u = 1 - u, v = 1 - v;
        double h = tolerance * 1.6 * (unit(random) - 0.5);
        const Vertex& p0 = vertex_table[t.vert[0]];
        const double base[3] = {p0.x, p0.y, p0.z};
        const TriangleEdges edges = triangle_edges(t);
        double normal[3];
        triangle_normal(t, normal);
        for (int a = 0; a < 3; ++a)
            points[3 * s + a] =
                base[a] + u * edges.edge1[a] + v * edges.edge2[a] + h * normal[a];
    }
    long mapped = 0;
    for (auto _ : state) {
        mapped = 0;
        for (int s = 0; s < sample_count; ++s) {
            double distance;
            int hit = locate_point(&points[3 * static_cast<std::size_t>(s)], 1, distance);
            mapped += hit >= 0;
        }
        benchmark::DoNotOptimize(mapped);
    }
    state.SetItemsProcessed(state.iterations() * sample_count);
    state.counters["mapped"] = static_cast<double>(mapped);
}
BENCHMARK(BM_LocateMillionPoints)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
