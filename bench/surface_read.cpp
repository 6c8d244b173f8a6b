// bench/surface_read.cpp: reading a surface file, timed, and what its tables hold.
//
//   surface_read SURFACE [rounds]
//
// Each round reads the whole file with read_surface (topology and geometry included) and
// times it in this thread's processor time, so other work on a busy machine does not count.
// The last lines give the median, the bytes of the surface tables per triangle, and the
// process's peak resident memory per triangle (the first round's peak: later rounds reuse
// the tables). Pin it to one core: taskset -c 1 surface_read cyl_1m.surf 7
#include "config/options.h"
#include "platform/fatal.h"
#include "surface/surface.h"
#include "quiet_stdout.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// VmHWM of this process, in bytes.
long peak_resident_bytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
    std::fclose(status);
    return kib * 1024;
}

// FNV-1a over what every version of the tables holds, to compare builds' results.
struct Checksum {
    unsigned long long value = 1469598103934665603ull;
    template <typename T>
    void add(const T& field) {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&field);
        for (std::size_t i = 0; i < sizeof field; ++i) value = (value ^ bytes[i]) * 1099511628211ull;
    }
};

unsigned long long table_checksum() {
    Checksum sum;
    // The fields in the order of the records that once held them all, so the sum compares
    // with readers that stored the index and the normal.
    for (std::size_t v = 0; v < vertex_table.size(); ++v) {
        sum.add(vertex_table[v].x);
        sum.add(vertex_table[v].y);
        sum.add(vertex_table[v].z);
        sum.add(static_cast<int>(v));
    }
    for (std::size_t k = 0; k < triangle_table.size(); ++k) {
        const Triangle& t = triangle_table[k];
        const TriangleGeometry& g = triangle_geometry[k];
        double normal[3];
        triangle_normal(t, normal);
        sum.add(t.vert);
        sum.add(static_cast<int>(k));
        sum.add(g.neighbor);
        sum.add(g.boundary_id);
        sum.add(g.centroid);
        sum.add(normal);
        sum.add(g.radius);
    }
    return sum.value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: surface_read SURFACE [rounds]\n");
        return 1;
    }
    const std::string name = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    settings = MapSettings();
    settings.scale_xyz = 1;
    operation_order = OperationOrder{{"SC", "RX", "RY", "RZ", "TX", "TY", "TZ"}};

    const long resident_before = peak_resident_bytes();
    std::vector<double> times;
    long first_peak = 0;
    for (int round = 0; round < rounds; ++round) {
        // A run reads its surface once, into fresh memory: so does every round.
        if (round > 0) {
            std::vector<Triangle>().swap(triangle_table);
            std::vector<TriangleGeometry>().swap(triangle_geometry);
            std::vector<Vertex>().swap(vertex_table);
        }
        double start = thread_seconds();
        {
            QuietStdout quiet;
            read_surface(name);
        }
        times.push_back(thread_seconds() - start);
        if (round == 0) first_peak = peak_resident_bytes();
        std::printf("round %d: %.3f s\n", round + 1, times.back());
    }
    std::sort(times.begin(), times.end());
    const double triangles = static_cast<double>(triangle_table.size());
    const double tables =
        static_cast<double>(triangle_table.capacity() * sizeof(Triangle) +
                            triangle_geometry.capacity() * sizeof(TriangleGeometry) +
                            vertex_table.capacity() * sizeof(Vertex));
    std::printf("triangles %zu vertices %zu\n", triangle_table.size(), vertex_table.size());
    std::printf("checksum %016llx\n", table_checksum());
    std::printf("median read s %.3f\n", times[times.size() / 2]);
    std::printf("record bytes: Triangle %zu TriangleGeometry %zu Vertex %zu\n", sizeof(Triangle),
                sizeof(TriangleGeometry), sizeof(Vertex));
    std::printf("surface tables B per triangle %.1f\n", tables / triangles);
    std::printf("peak resident growth B per triangle %.1f\n",
                static_cast<double>(first_peak - resident_before) / triangles);
    return 0;
}
