// mapping_bench.cpp: a whole mapping run on a generated engine liner (an open cylinder of
// triangles) with a transfer file of many blocks, split into reading, locating, growth,
// integration and writing.
//
// The case is generated, not stored: `mapping_bench make_case DIR [theta z cells_theta
// cells_z blocks]` writes htc_inputs.in, surface.dat and transfer.out into DIR. The
// benchmark itself generates its cases under /tmp on first use and keeps them.
#include "config/options.h"
#include "mapping/deposit.h"
#include "mapping/hit_mapping.h"
#include "mapping/moving_surfaces.h"
#include "mapping/report.h"
#include "mapping/run.h"
#include "mapping/time_window.h"
#include "mapping/transfer.h"
#include "platform/fatal.h"
#include "platform/threads.h"
#include "surface/octree.h"
#include "surface/surface.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct CaseSize {
    int theta = 1000;        // triangle columns around the liner
    int z = 500;             // triangle rows along it (2 * theta * z triangles)
    int cells_theta = 500;   // CFD cells around (coarser than the triangles: growth fills)
    int cells_z = 400;       // CFD cells along
    int blocks = 51;         // output times; the first only marks the start
    int turning = 0;         // 1: the cells turn a tenth of a cell per block (samples move)
};

constexpr double liner_radius = 0.05, liner_height = 0.1;
constexpr double two_pi = 6.283185307179586;

bool write_options(const fs::path& dir) {
    std::FILE* out = std::fopen((dir / "htc_inputs.in").c_str(), "w");
    if (!out) return false;
    std::fprintf(out,
                 "1e-5 tolerance\n2 grow_mult\n1.0 scale_xyz\n0 rot_angle_x\n0 rot_angle_y\n"
                 "0 rot_angle_z\n0 trans_x\n0 trans_y\n0 trans_z\n"
                 "sc-rx-ry-rz-tx-ty-tz orderofoperations\n0 read_abaqus\n5000 max_htc\n"
                 "1 enforce_boundID_match\n0 hit_location_output_files\n"
                 "0 map_additional_variables\n0 use_convective_ht\n0 ensight_outputfiles\n"
                 "0 gmv_outputfiles\n0 fieldview_outputfiles\n0 dedicatedboundaryoutputfiles\n"
                 "0 start_time\n1 end_time\n0 startoption\n0 num_valve_entries\n");
    return std::fclose(out) == 0;
}

// Boundary IDs in three bands along the liner, so the ID match has work to do.
int band(double z) { return z < 0.03 ? 1 : (z < 0.07 ? 2 : 3); }

bool write_surface(const fs::path& dir, const CaseSize& size) {
    std::FILE* out = std::fopen((dir / "surface.dat").c_str(), "w");
    if (!out) return false;
    int nt = size.theta, nz = size.z;
    int vertex_count = nt * (nz + 1);
    std::fprintf(out, "%d %d %d\n", vertex_count, vertex_count, 2 * nt * nz);
    for (int j = 0; j <= nz; ++j)
        for (int i = 0; i < nt; ++i) {
            double a = two_pi * i / nt;
            std::fprintf(out, "%d %.9e %.9e %.9e\n", 1 + i + nt * j, liner_radius * std::cos(a),
                         liner_radius * std::sin(a), liner_height * j / nz);
        }
    for (int j = 0; j < nz; ++j)
        for (int i = 0; i < nt; ++i) {
            int a = 1 + i + nt * j, b = 1 + (i + 1) % nt + nt * j;
            int c = a + nt, d = b + nt;
            int id = band(liner_height * (j + 0.5) / nz);
            std::fprintf(out, "%d %d %d %d\n%d %d %d %d\n", a, b, c, id, d, c, b, id);
        }
    return std::fclose(out) == 0;
}

bool write_transfer(const fs::path& dir, const CaseSize& size) {
    std::FILE* out = std::fopen((dir / "transfer.out").c_str(), "w");
    if (!out) return false;
    int cells = size.cells_theta * size.cells_z;
    for (int b = 0; b < size.blocks; ++b) {
        std::fprintf(out, "Time= %.6e\nKelvora wall transfer data\nboundaries 3\ncells %d\n"
                          "units SI\ntemperatures K\ncolumns follow\n"
                          "Number Bound_id X Y Z F_TEMP FLUX AREA HTC B_TEMP Y_PLUS X_ORIG "
                          "Y_ORIG Z_ORIG\n",
                     1e-3 * b, cells);
        int n = 0;
        for (int j = 0; j < size.cells_z; ++j)
            for (int i = 0; i < size.cells_theta; ++i) {
                double a = two_pi * (i + 0.5 + 0.1 * b * size.turning) / size.cells_theta;
                // Cell centres lie on the true cylinder, a little off the facets.
                double x = liner_radius * std::cos(a), y = liner_radius * std::sin(a);
                double z = liner_height * (j + 0.5) / size.cells_z;
                double temp = 600 + 300 * z / liner_height + 20 * std::sin(a + 0.1 * b);
                double htc = 500 + 1500 * std::fabs(std::cos(a - 0.05 * b));
                double wall = 450 + 50 * z / liner_height;
                std::fprintf(out,
                             "%d %d %.6e %.6e %.6e %.4f %.6e %.6e %.4f %.4f %.3f %.6e %.6e %.6e\n",
                             ++n, band(z), x, y, z, temp, htc * (temp - wall), 1.5e-7, htc, wall,
                             30.0 + j % 7, x, y, z);
            }
    }
    return std::fclose(out) == 0;
}

bool make_case(const fs::path& dir, const CaseSize& size) {
    fs::create_directories(dir);
    return write_options(dir) && write_surface(dir, size) && write_transfer(dir, size);
}

fs::path ensure_case(const CaseSize& size) {
    fs::path dir = fs::temp_directory_path() /
                   ("quorvel_mapping_bench_" + std::to_string(size.theta) + "_" +
                    std::to_string(size.z) + "_" + std::to_string(size.cells_theta) + "_" +
                    std::to_string(size.cells_z) + "_" + std::to_string(size.blocks) +
                    (size.turning ? "_turning" : ""));
    if (fs::exists(dir / "done")) return dir;
    if (make_case(dir, size)) {
        std::FILE* done = std::fopen((dir / "done").c_str(), "w");  // a complete case
        if (done) std::fclose(done);
    }
    return dir;
}

// On one thread, the processor time of the run's thread: on a machine shared with other work
// the wall clock also counts the time the scheduler gave to others. With workers, the wall
// clock: their time is not the run's thread's.
struct Clock {
    using time_point = std::chrono::duration<double>;
    static time_point now() {
        timespec t;
        clock_gettime(thread_count() > 1 ? CLOCK_MONOTONIC : CLOCK_THREAD_CPUTIME_ID, &t);
        return time_point(static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec));
    }
};
double seconds_since(Clock::time_point start) { return (Clock::now() - start).count(); }

// The run's own sequence, with a clock around each part.
void BM_MappingRun(benchmark::State& state) {
    CaseSize size;
    size.theta = static_cast<int>(state.range(0));
    size.z = static_cast<int>(state.range(1));
    size.cells_theta = static_cast<int>(state.range(2));
    size.cells_z = static_cast<int>(state.range(3));
    size.blocks = static_cast<int>(state.range(4));
    const int method = static_cast<int>(state.range(5));
    size.turning = static_cast<int>(state.range(6));
    fs::path dir = ensure_case(size);
    fs::path old_dir = fs::current_path();
    fs::current_path(dir);
    // The run's console log would swamp the benchmark's table.
    std::fflush(stdout);
    int saved = dup(1);
    std::FILE* null_out = std::fopen("/dev/null", "w");
    if (null_out) dup2(fileno(null_out), 1);

    Clock::time_point setup_start = Clock::now();
    settings = MapSettings();
    read_options_file("surface.dat");
    settings.mapping_method = method;
    read_surface("surface.dat");
    build_subdivision();
    double setup = seconds_since(setup_start);

    double reading = 0, locating = 0, growth = 0, integration = 0, writing = 0, total = 0;
    int steps = 0;
    for (auto _ : state) {
        Clock::time_point run_start = Clock::now();
        start_mapping_run();
        TransferFile file;
        if (find_first_header(file, "transfer.out")) {
            // As the program reads: the next block is read ahead while a step is mapped.
            BlockReader reader(file);
            for (;;) {
                Clock::time_point t0 = Clock::now();
                BlockInfo block = reader.next();
                Clock::time_point t1 = Clock::now();
                reading += std::chrono::duration<double>(t1 - t0).count();
                clear_step();
                StepChoice choice = select_step(block.time, time_unit);
                const bool last = choice == StepChoice::skip_and_end_file || !block.more_blocks;
                if (!last) reader.read_ahead();
                integration += seconds_since(t1);
                if (choice == StepChoice::use) {
                    ++steps;
                    Clock::time_point t2 = Clock::now();
                    correct_positions();
                    Clock::time_point t3, t4;
                    int not_assigned;
                    if (method == 1) {
                        // The deposit has no separate growth: all of it counts as locating.
                        deposit_samples(block.time, time_unit);
                        t3 = t4 = Clock::now();
                        not_assigned = integrate_deposit(block.time, previous_time);
                    } else {
                        locate_samples(block.time, time_unit);
                        t3 = Clock::now();
                        grow_from_hits(block.time);
                        collect_empty(block.time);
                        t4 = Clock::now();
                        not_assigned = integrate_step(block.time);
                    }
                    report_end_step(block.time, block.time - previous_time);
                    report_step(block.time, previous_time, time_unit, not_assigned);
                    previous_time = block.time;
                    Clock::time_point t5 = Clock::now();
                    locating += std::chrono::duration<double>(t3 - t2).count();
                    growth += std::chrono::duration<double>(t4 - t3).count();
                    integration += std::chrono::duration<double>(t5 - t4).count();
                }
                if (last) break;
            }
        }
        close_line_reader(file.in);
        Clock::time_point end_start = Clock::now();
        end_mapping_run();
        writing += seconds_since(end_start);
        total += seconds_since(run_start);
    }

    flush_say();
    std::fflush(stdout);
    if (saved >= 0) {
        dup2(saved, 1);
        close(saved);
    }
    if (null_out) std::fclose(null_out);
    fs::current_path(old_dir);
    double runs = static_cast<double>(state.iterations());
    state.counters["triangles"] = static_cast<double>(triangle_table.size());
    state.counters["rows_per_block"] = static_cast<double>(size.cells_theta) * size.cells_z;
    state.counters["steps"] = steps / runs;
    state.counters["setup_s"] = setup;  // options, surface, octree: before the run
    state.counters["total_s"] = total / runs;
    state.counters["read_s"] = reading / runs;
    state.counters["locate_s"] = locating / runs;
    state.counters["growth_s"] = growth / runs;
    state.counters["integrate_s"] = integration / runs;  // includes the per-step clearing
    state.counters["write_s"] = writing / runs;
}

}  // namespace

// A small case for a quick look, then ~1M triangles with 11 blocks of 200k rows (10 steps)
// for before-and-after comparisons and 51 blocks (50 steps);
// then mapping_method (0 hit mapping and growth, 1 overlap deposit) and 1 for cells that
// move from block to block. The two methods side by side: --benchmark_filter='/1000/'
// --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true.
BENCHMARK(BM_MappingRun)
    ->Args({100, 50, 50, 40, 6, 0, 0})
    ->Args({100, 50, 50, 40, 6, 1, 0})
    ->Args({1000, 500, 500, 400, 11, 0, 0})
    ->Args({1000, 500, 500, 400, 51, 0, 0})
    ->Args({1000, 500, 500, 400, 51, 1, 0})
    // Samples that move every block: the deposit builds its weights afresh at each step.
    ->Args({300, 150, 150, 120, 11, 0, 1})
    ->Args({300, 150, 150, 120, 11, 1, 1})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "make_case") {
        CaseSize size;
        int* fields[] = {&size.theta, &size.z, &size.cells_theta, &size.cells_z, &size.blocks};
        for (int k = 0; k < 5 && 3 + k < argc; ++k) *fields[k] = std::atoi(argv[3 + k]);
        if (!make_case(argv[2], size)) {
            std::fprintf(stderr, "could not write the case into %s\n", argv[2]);
            return 1;
        }
        std::printf("%s: %d triangles, %d blocks of %d rows\n", argv[2], 2 * size.theta * size.z,
                    size.blocks, size.cells_theta * size.cells_z);
        return 0;
    }
    // "--threads N" first, as for the program (default: every core).
    if (argc >= 3 && std::string(argv[1]) == "--threads") {
        set_thread_count(std::atoi(argv[2]));
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
