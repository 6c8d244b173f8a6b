// transform_bench.cpp: the transform mode on a generated boundary-condition file of n
// points (a time record every 100000 points), rotated and scaled. The input is written to
// /tmp once per size; bytes per second count the input.
#include "platform/fatal.h"
#include "transform/transform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::string make_input(int n) {
    std::string name = "/tmp/transform_bench_" + std::to_string(n) + ".txt";
    if (std::filesystem::exists(name)) return name;
    std::string tmp = name + ".part";
    std::FILE* out = std::fopen(tmp.c_str(), "w");
    if (!out) return name;
    std::fprintf(out, "generated\n1000 scale_xyz\n10 rot_angle_x\n20 rot_angle_y\n30 rot_angle_z\n"
                      "1 trans_x\n2 trans_y\n3 trans_z\nsc-rx-ry-rz-tx-ty-tz orderofoperations\n"
                      "x y z t\nunits\n");
    for (int i = 0; i < n; ++i) {
        if (i % 100000 == 0) std::fprintf(out, "%d time\nstep\n", i / 100000);
        std::fprintf(out, "%.9E\t%.9E\t%.9E\t%.9E\n", 1e-4 * i, -2e-4 * i, 0.5 + 1e-6 * i,
                     300.0 + i % 500);
    }
    std::fclose(out);
    std::filesystem::rename(tmp, name);
    return name;
}

void BM_TransformBcFile(benchmark::State& state) {
    std::string input = make_input(static_cast<int>(state.range(0)));
    std::string output = "/tmp/transform_bench_out.txt";
    for (auto _ : state) {
        transform_bc_file(input, output);
        flush_say();
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(input)));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TransformBcFile)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
