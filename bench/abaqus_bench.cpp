// abaqus_bench.cpp: converting a generated deck of n x n x n bricks with a shell skin and a
// surface holding one face of every brick. The deck is written to /tmp once per size.
#include "abaqus/abaqus_deck.h"
#include "config/options.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

std::string make_deck(int n) {
    std::string name = "/tmp/abaqus_bench_" + std::to_string(n) + ".inp";
    if (std::filesystem::exists(name)) return name;
    std::string tmp = name + ".part";
    std::FILE* out = std::fopen(tmp.c_str(), "w");
    if (!out) return name;
    const int m = n + 1;
    auto node = [m](int i, int j, int k) { return 1 + i + m * (j + m * k); };
    std::fprintf(out, "*HEADING\ngenerated brick deck\n*NODE, NSET=ALL\n");
    for (int k = 0; k < m; ++k)
        for (int j = 0; j < m; ++j)
            for (int i = 0; i < m; ++i)
                std::fprintf(out, "%d, %.6f, %.6f, %.6f\n", node(i, j, k), 0.01 * i, 0.01 * j, 0.01 * k);
    std::fprintf(out, "*ELEMENT, TYPE=C3D8R, ELSET=BRICKS\n");
    int e = 1;
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i, ++e)
                std::fprintf(out, "%d, %d, %d, %d, %d, %d, %d, %d, %d\n", e, node(i, j, k),
                             node(i + 1, j, k), node(i + 1, j + 1, k), node(i, j + 1, k),
                             node(i, j, k + 1), node(i + 1, j, k + 1), node(i + 1, j + 1, k + 1),
                             node(i, j + 1, k + 1));
    std::fprintf(out, "*ELEMENT, TYPE=S4R, ELSET=SKIN\n");
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i, ++e)
            std::fprintf(out, "%d, %d, %d, %d, %d\n", e, node(i, j, 0), node(i + 1, j, 0),
                         node(i + 1, j + 1, 0), node(i, j + 1, 0));
    // Faces listed in reverse element order, so the per-element index is really needed.
    std::fprintf(out, "*SURFACE, NAME=WALL, TYPE=ELEMENT\n");
    for (int f = n * n * n; f >= 1; --f) std::fprintf(out, "%d, S%d\n", f, 1 + f % 6);
    std::fclose(out);
    std::filesystem::rename(tmp, name);
    return name;
}

void BM_ReadAbaqusDeck(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::string deck = make_deck(n);
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "abaqus_bench_run";
    std::filesystem::create_directories(dir);
    std::filesystem::path old_dir = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    settings = MapSettings();
    settings.num_surface = 1;
    settings.surface_names = {"WALL"};
    // The conversion's console log would swamp the benchmark's own table.
    std::fflush(stdout);
    int saved = dup(1);
    std::FILE* null_out = std::fopen("/dev/null", "w");
    if (null_out) dup2(fileno(null_out), 1);
    for (auto _ : state) read_abaqus_deck(deck);
    std::fflush(stdout);
    if (saved >= 0) {
        dup2(saved, 1);
        close(saved);
    }
    if (null_out) std::fclose(null_out);
    std::filesystem::current_path(old_dir);
    state.counters["elements"] = static_cast<double>(n) * n * n + static_cast<double>(n) * n;
}

}  // namespace

// 60^3 = 216,000 bricks (and 3,600 shells); 100^3 = 10^6 bricks.
BENCHMARK(BM_ReadAbaqusDeck)->Arg(60)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
