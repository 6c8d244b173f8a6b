// Transfer reader speed against merely reading the same bytes.
//
// The first run writes a transfer file of about 250 MB (12 blocks of 100000 rows, 14 fixed
// columns and FLUX_CONV, HTC_CONV, with the three-digit exponents the solver's platform
// prints) to /tmp/quorvel_transfer_bench.out and keeps it for later runs; delete it to make
// a new one. Set QUORVEL_TRANSFER_BENCH_FILE to use another file.
#include "mapping/transfer.h"

#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/io.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int block_count = 12;
constexpr int rows_per_block = 100000;

std::string bench_file_name() {
    const char* name = std::getenv("QUORVEL_TRANSFER_BENCH_FILE");
    return name ? name : "/tmp/quorvel_transfer_bench.out";
}

long long file_size(const std::string& name) {
    struct stat info;
    return stat(name.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

void append_real(std::string& line, double value) {
    char field[48];
    int length = format_exponent_form(field, value, 6, false, 3);
    line.push_back(' ');
    line.append(field, length);
}

void write_bench_file(const std::string& name) {
    std::FILE* out = std::fopen(name.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "cannot create %s\n", name.c_str());
        std::exit(1);
    }
    std::mt19937_64 generator(4242);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::string line;
    for (int b = 0; b < block_count; ++b) {
        std::fprintf(out, "Time= %e\n", 1.0e-3 * (b + 1));
        for (int k = 0; k < 6; ++k) std::fprintf(out, "preamble line %d of the block\n", k + 1);
        std::fprintf(out, "Number Bound_id X Y Z F_TEMP FLUX AREA HTC B_TEMP Y_PLUS X_ORIG "
                          "Y_ORIG Z_ORIG FLUX_CONV HTC_CONV\n");
        for (int r = 0; r < rows_per_block; ++r) {
            line.clear();
            char head[32];
            int length = std::snprintf(head, sizeof head, "%8d %4d", r + 1, r % 40);
            line.append(head, length);
            double x = unit(generator) * 0.2 - 0.1, y = unit(generator) * 0.2 - 0.1;
            double z = unit(generator) * 0.15, lift = (r % 40 == 3) ? 0.002 * b : 0.0;
            append_real(line, x);
            append_real(line, y);
            append_real(line, z + lift);
            append_real(line, 300 + 900 * unit(generator));    // F_TEMP
            append_real(line, -2e6 + 4e6 * unit(generator));   // FLUX
            append_real(line, 1e-6 + 1e-5 * unit(generator));  // AREA
            append_real(line, 50 + 5000 * unit(generator));    // HTC
            append_real(line, 350 + 200 * unit(generator));    // B_TEMP
            append_real(line, 100 * unit(generator));          // Y_PLUS
            append_real(line, x);
            append_real(line, y);
            append_real(line, z);
            append_real(line, -2e6 + 4e6 * unit(generator));   // FLUX_CONV
            append_real(line, 50 + 5000 * unit(generator));    // HTC_CONV
            line.push_back('\n');
            std::fwrite(line.data(), 1, line.size(), out);
        }
    }
    std::fclose(out);
}

const std::string& bench_file() {
    static std::string name = [] {
        std::string file = bench_file_name();
        if (file_size(file) < 200LL * 1000 * 1000) write_bench_file(file);
        return file;
    }();
    return name;
}

// The bytes only: 1 MiB reads, as the line reader makes them.
void BM_PlainRead(benchmark::State& state) {
    const std::string& name = bench_file();
    std::vector<char> buffer(1 << 20);
    long long total = 0;
    for (auto _ : state) {
        std::FILE* in = std::fopen(name.c_str(), "rb");
        std::size_t got;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
            total += got;
            benchmark::DoNotOptimize(buffer.data());
        }
        std::fclose(in);
    }
    state.SetBytesProcessed(total);
}

// The bytes split into lines, nothing more.
void BM_LineSplit(benchmark::State& state) {
    const std::string& name = bench_file();
    long long total = file_size(name), lines = 0;
    LineReader in;
    for (auto _ : state) {
        open_line_reader(in, name);
        std::string_view line;
        while (next_line(in, line)) ++lines;
        close_line_reader(in);
    }
    benchmark::DoNotOptimize(lines);
    state.SetBytesProcessed(total * state.iterations());
}

// The whole reader: every block parsed into the pool, extras taken.
void BM_ReadTransferFile(benchmark::State& state) {
    const std::string& name = bench_file();
    long long total = file_size(name), rows = 0;
    for (auto _ : state) {
        settings = MapSettings{};
        settings.map_additional_variables = 1;
        settings.use_convective_ht = 1;
        reset_transfer_reader();
        TransferFile file;
        if (!find_first_header(file, name)) std::exit(1);
        for (;;) {
            BlockInfo block = read_block(file);
            rows += block.sample_count;
            standard_output.pending.clear();  // the progress lines are not what is measured
            if (!block.more_blocks) break;
        }
    }
    benchmark::DoNotOptimize(rows);
    state.SetBytesProcessed(total * state.iterations());
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows),
                                                  benchmark::Counter::kIsRate);
}

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LineSplit)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadTransferFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
