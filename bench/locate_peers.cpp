// bench/locate_peers.cpp: point location against a peer library on the same surface and the
// same points, timed side by side in one process.
//
//   locate_peers SURFACE POINTS.txt [rounds] [tolerance]
//
// SURFACE is a surface file, POINTS.txt a count and then "x y z" lines (the team's benchmark
// data). Each round times quorvel's locate_point over every point, then, when built with
// Embree, Embree's point query for the nearest triangle within the tolerance; the rounds
// interleave so that a busy machine slows both alike. The last lines give the medians, set-up
// times, the memory location keeps and how often the two agree. Run it pinned to one core
// (bench/compare_peers.sh). QUORVEL_ONLY=1 skips Embree's rounds; QUORVEL_SHUFFLE=1 locates
// the points in a random order, and QUORVEL_ORDER=1 then sorts them by locate_order_key.
// QUORVEL_DIGEST=1 prints checksums of the octree (nodes in order, leaf lists) and of every
// answer and distance, to compare two builds. The set-up is timed over QUORVEL_SETUP_ROUNDS
// rounds (5), each building quorvel's octree and then Embree's BVH afresh (on the thread it
// runs on, as Embree is made to), and the medians are printed.
#include "config/options.h"
#include "platform/fatal.h"
#include "platform/system.h"
#include "surface/locate.h"
#include "surface/octree.h"
#include "surface/surface.h"
#include "quiet_stdout.h"

#include <algorithm>
#include <ctime>
#include <random>
#include <utility>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#ifdef QUORVEL_WITH_EMBREE
#include <embree3/rtcore.h>
#endif

namespace {

// Processor time of this thread: on a machine shared with other work the wall clock also
// counts the time the scheduler gave to others.
struct Clock {
    using time_point = double;
    static double now() {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
};
double seconds_since(double start) { return Clock::now() - start; }

std::vector<double> read_points(const char* name) {
    std::FILE* in = std::fopen(name, "r");
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", name);
        std::exit(1);
    }
    long count = 0;
    if (std::fscanf(in, "%ld", &count) != 1 || count < 0) {
        std::fprintf(stderr, "%s: no point count\n", name);
        std::exit(1);
    }
    std::vector<double> points(3 * static_cast<std::size_t>(count));
    for (double& value : points)
        if (std::fscanf(in, "%lf", &value) != 1) {
            std::fprintf(stderr, "%s: fewer points than its count\n", name);
            std::exit(1);
        }
    std::fclose(in);
    return points;
}

// FNV-1a over the bytes of a value.
struct Digest {
    std::uint64_t value = 14695981039346656037ull;
    template <typename T>
    void add(const T& item) {
        unsigned char bytes[sizeof(T)];
        std::memcpy(bytes, &item, sizeof(T));
        for (unsigned char b : bytes) value = (value ^ b) * 1099511628211ull;
    }
};

std::uint64_t octree_digest() {
    Digest digest;
    for (const OctreeNode& node : octree_nodes) {
        digest.add(node.level);
        for (float c : node.center) digest.add(c);
        for (int c : node.child) digest.add(c);
        digest.add(node.list_count);
        for (int n = 0; n < node.list_count; ++n)
            digest.add(octree_leaf_triangles[node.list_begin + n]);
    }
    return digest.value;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

#ifdef QUORVEL_WITH_EMBREE
// The closest point of triangle abc to p (the region test of real-time collision detection).
void closest_on_triangle(const double p[3], const double a[3], const double b[3],
                         const double c[3], double out[3]) {
    double ab[3], ac[3], ap[3];
    for (int k = 0; k < 3; ++k) ab[k] = b[k] - a[k], ac[k] = c[k] - a[k], ap[k] = p[k] - a[k];
    auto dot = [](const double* x, const double* y) { return x[0] * y[0] + x[1] * y[1] + x[2] * y[2]; };
    auto set = [&](const double* base, const double* dir, double t) {
        for (int k = 0; k < 3; ++k) out[k] = base[k] + t * (dir ? dir[k] : 0);
    };
    double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return set(a, nullptr, 0);
    double bp[3];
    for (int k = 0; k < 3; ++k) bp[k] = p[k] - b[k];
    double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return set(b, nullptr, 0);
    double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return set(a, ab, d1 / (d1 - d3));
    double cp[3];
    for (int k = 0; k < 3; ++k) cp[k] = p[k] - c[k];
    double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return set(c, nullptr, 0);
    double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return set(a, ac, d2 / (d2 - d6));
    double va = d3 * d6 - d5 * d4;
    if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0) {
        double bc[3];
        for (int k = 0; k < 3; ++k) bc[k] = c[k] - b[k];
        return set(b, bc, (d4 - d3) / ((d4 - d3) + (d5 - d6)));
    }
    double denom = 1 / (va + vb + vc);
    double v = vb * denom, w = vc * denom;
    for (int k = 0; k < 3; ++k) out[k] = a[k] + ab[k] * v + ac[k] * w;
}

struct Query {
    const double* p;
    int best = -1;
    double best_distance = 0;
};

bool closest_triangle(RTCPointQueryFunctionArguments* args) {
    Query& query = *static_cast<Query*>(args->userPtr);
    const int t = static_cast<int>(args->primID);
    const Triangle& tri = triangle_table[t];
    double corner[3][3];
    for (int k = 0; k < 3; ++k) {
        const Vertex& v = vertex_table[tri.vert[k]];
        corner[k][0] = v.x, corner[k][1] = v.y, corner[k][2] = v.z;
    }
    double q[3];
    closest_on_triangle(query.p, corner[0], corner[1], corner[2], q);
    double dx = q[0] - query.p[0], dy = q[1] - query.p[1], dz = q[2] - query.p[2];
    double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (d <= args->query->radius) {
        query.best = t;
        query.best_distance = d;
        args->query->radius = static_cast<float>(d);
        return true;  // the search radius shrank
    }
    return false;
}

struct EmbreeScene {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;

    // The device is made once, outside the timed build: only the BVH's making is timed.
    EmbreeScene() { device = rtcNewDevice("threads=1"); }
    void release() {
        if (scene) rtcReleaseScene(scene);
        scene = nullptr;
    }
    void build() {
        release();
        scene = rtcNewScene(device);
        RTCGeometry geometry = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
        float* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(
            geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float),
            vertex_table.size()));
        for (std::size_t v = 0; v < vertex_table.size(); ++v) {
            vertices[3 * v] = static_cast<float>(vertex_table[v].x);
            vertices[3 * v + 1] = static_cast<float>(vertex_table[v].y);
            vertices[3 * v + 2] = static_cast<float>(vertex_table[v].z);
        }
        unsigned* indices = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
            geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned),
            triangle_table.size()));
        for (std::size_t t = 0; t < triangle_table.size(); ++t)
            for (int k = 0; k < 3; ++k)
                indices[3 * t + k] = static_cast<unsigned>(triangle_table[t].vert[k]);
        rtcCommitGeometry(geometry);
        rtcAttachGeometry(scene, geometry);
        rtcReleaseGeometry(geometry);
        rtcCommitScene(scene);
    }
    ~EmbreeScene() {
        release();
        if (device) rtcReleaseDevice(device);
    }

    int locate(const double p[3], double tolerance, double& distance) {
        RTCPointQuery point;
        point.x = static_cast<float>(p[0]);
        point.y = static_cast<float>(p[1]);
        point.z = static_cast<float>(p[2]);
        point.radius = static_cast<float>(tolerance);
        point.time = 0;
        RTCPointQueryContext context;
        rtcInitPointQueryContext(&context);
        Query query{p};
        rtcPointQuery(scene, &point, &context, closest_triangle, &query);
        distance = query.best_distance;
        return query.best;
    }
};
#endif

}  // namespace

int main(int argc, char** argv) {
    give_back_big_tables();  // as the program does: big tables map their own pages
    if (argc < 3) {
        std::fprintf(stderr, "usage: locate_peers SURFACE POINTS.txt [rounds] [tolerance]\n");
        return 2;
    }
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const double tolerance = argc > 4 ? std::atof(argv[4]) : 1e-4;
    settings = MapSettings();
    settings.scale_xyz = 1;
    settings.tolerance = tolerance;
    operation_order = OperationOrder{{"SC", "RX", "RY", "RZ", "TX", "TY", "TZ"}};

    Clock::time_point start = Clock::now();
    {
        QuietStdout quiet;
        read_surface(argv[1]);
    }
    const double read_time = seconds_since(start);
    // Set-up rounds, each quorvel's and then Embree's, from scratch: the tables of the one
    // before are freed first, and big tables map fresh pages as in a run.
    const int setup_rounds =
        std::getenv("QUORVEL_SETUP_ROUNDS") ? std::max(1, std::atoi(std::getenv("QUORVEL_SETUP_ROUNDS")))
                                            : 5;
    std::vector<double> octree_times, embree_builds;
    double setup_peak_mb = 0;
#ifdef QUORVEL_WITH_EMBREE
    EmbreeScene peer;
#endif
    for (int round = 0; round < setup_rounds; ++round) {
#ifdef QUORVEL_WITH_EMBREE
        peer.release();
#endif
        start = Clock::now();
        {
            QuietStdout quiet;
            build_subdivision();
        }
        octree_times.push_back(seconds_since(start));
        if (round == 0) {
            // The surface and location's tables at their largest, before any peer exists.
            rusage usage;
            getrusage(RUSAGE_SELF, &usage);
            setup_peak_mb = static_cast<double>(usage.ru_maxrss) / 1024;
        }
#ifdef QUORVEL_WITH_EMBREE
        start = Clock::now();
        peer.build();
        embree_builds.push_back(seconds_since(start));
#endif
    }
    const double octree_time = median(octree_times);
    std::vector<double> points = read_points(argv[2]);
    const std::size_t count = points.size() / 3;
    // QUORVEL_SHUFFLE=1: the points in a random order (cache-hostile); QUORVEL_ORDER=1 then
    // puts them in locate_order_key order, timing the keys and the sort.
    auto reorder = [&](std::vector<std::size_t> order) {
        std::vector<double> moved(points.size());
        for (std::size_t s = 0; s < count; ++s)
            for (int a = 0; a < 3; ++a) moved[3 * s + a] = points[3 * order[s] + a];
        points.swap(moved);
    };
    if (std::getenv("QUORVEL_SHUFFLE")) {
        std::vector<std::size_t> order(count);
        for (std::size_t s = 0; s < count; ++s) order[s] = s;
        std::mt19937_64 random(2026);
        std::shuffle(order.begin(), order.end(), random);
        reorder(order);
    }
    if (std::getenv("QUORVEL_ORDER")) {
        start = Clock::now();
        std::vector<std::pair<std::uint64_t, std::size_t>> keyed(count);
        for (std::size_t s = 0; s < count; ++s) keyed[s] = {locate_order_key(&points[3 * s]), s};
        std::sort(keyed.begin(), keyed.end());
        std::vector<std::size_t> order(count);
        for (std::size_t s = 0; s < count; ++s) order[s] = keyed[s].second;
        std::printf("ordering the points by locate_order_key: %.3f s\n", seconds_since(start));
        reorder(order);
    }
    std::vector<int> ours(count);
    if (std::getenv("QUORVEL_DIGEST")) {
        Digest answers;
        for (std::size_t s = 0; s < count; ++s) {
            double distance = -1;
            answers.add(locate_point(&points[3 * s], 0, distance));
            answers.add(distance);
        }
        std::printf("digest: octree %016llx answers %016llx\n",
                    static_cast<unsigned long long>(octree_digest()),
                    static_cast<unsigned long long>(answers.value));
    }

    std::vector<double> our_rates;
    long our_hits = 0;
#ifdef QUORVEL_WITH_EMBREE
    std::vector<int> theirs(count);
    std::vector<double> peer_rates;
    long peer_hits = 0;
#endif
    for (int round = 0; round < rounds; ++round) {
        start = Clock::now();
        our_hits = 0;
        for (std::size_t s = 0; s < count; ++s) {
            double distance = -1;
            ours[s] = locate_point(&points[3 * s], 0, distance);
            our_hits += ours[s] >= 0;
        }
        our_rates.push_back(static_cast<double>(count) / seconds_since(start) / 1e6);
#ifdef QUORVEL_WITH_EMBREE
        if (std::getenv("QUORVEL_ONLY")) {
            peer_rates.push_back(1);
            continue;
        }
        start = Clock::now();
        peer_hits = 0;
        for (std::size_t s = 0; s < count; ++s) {
            double distance = -1;
            theirs[s] = peer.locate(&points[3 * s], tolerance, distance);
            peer_hits += theirs[s] >= 0;
        }
        peer_rates.push_back(static_cast<double>(count) / seconds_since(start) / 1e6);
#endif
    }
    std::printf("points %zu, triangles %zu, leaf entries %zu\n", count, triangle_table.size(),
                octree_leaf_triangles.size());
    // What point location keeps after set-up: its tables and the octree's.
    const double kept = static_cast<double>(
        locate_table_bytes() + octree_nodes.capacity() * sizeof(OctreeNode) +
        octree_leaf_triangles.capacity() * sizeof(int));
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("memory: location and octree keep %.1f B per triangle; peak RSS %.0f MB "
                "(%.0f MB after quorvel's set-up)\n",
                kept / static_cast<double>(std::max<std::size_t>(1, triangle_table.size())),
                static_cast<double>(usage.ru_maxrss) / 1024, setup_peak_mb);
    std::printf("set-up s: reading the surface %.3f, octree %.3f", read_time, octree_time);
#ifdef QUORVEL_WITH_EMBREE
    std::vector<double> setup_ratios;
    for (int round = 0; round < setup_rounds; ++round)
        setup_ratios.push_back(octree_times[round] / embree_builds[round]);
    std::printf(", Embree BVH %.3f; medians of %d rounds, octree / BVH %.2f", median(embree_builds),
                setup_rounds, median(setup_ratios));
#endif
    std::printf("\nquorvel M points/s: median %.3f of %d rounds, %ld hits\n", median(our_rates),
                rounds, our_hits);
#ifdef QUORVEL_WITH_EMBREE
    long same = 0;
    for (std::size_t s = 0; s < count; ++s) same += ours[s] == theirs[s];
    std::printf("Embree M points/s: median %.3f, %ld hits; same triangle for %.2f %% of points\n",
                median(peer_rates), peer_hits, 100.0 * static_cast<double>(same) / count);
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) ratios.push_back(our_rates[round] / peer_rates[round]);
    std::printf("ratio quorvel / Embree: median of the rounds' ratios %.2f\n", median(ratios));
#else
    std::printf("Embree: not built (install libembree-dev and reconfigure)\n");
#endif
    return 0;
}
