// tests/mapping/deposit_test.cpp: the overlap deposit against analytic answers: constants
// and smooth fields on non-matching plates, cylinders and spheres, a refinement study, a
// moving piston (with the hit mapping's growth as the contrast), resolution extremes, time
// algebra, touching boundaries and geometric mistakes.
#include "mapping/deposit.h"

#include "../surface/surface_test_support.h"
#include "mapping/hit_mapping.h"
#include "mapping/report.h"
#include "mapping/time_window.h"
#include "mapping/transfer.h"
#include "surface/locate.h"
#include "surface/octree.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr double pi = 3.141592653589793;

struct Mesh {
    std::vector<std::array<double, 3>> vertex;
    std::vector<std::array<int, 4>> triangle;  // three 0-based corners, boundary ID
};

struct Sample {
    double x[3];
    double area;
    double htc = 100, fluid_temp = 400, wall_temp = 350, flux = 0, yplus = 30;
    int boundary = 1;
};

using Field = std::function<double(const double*)>;

// Deterministic jitter in [-1, 1).
double jitter(int i, int j, int k) {
    unsigned h = 2166136261u;
    for (int v : {i, j, k}) h = (h ^ static_cast<unsigned>(v)) * 16777619u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return (h % 20000u) / 10000.0 - 1.0;
}

// The unit square [0, size]^2 in z = 0 as n x n cells of two triangles, the inner vertices
// moved by up to a fifth of a cell and the diagonals mixed: unlike any quad mesh.
// Vertices on x = straight_x keep their x, so a boundary between IDs can run straight.
Mesh plate_triangles(int n, double size = 1, const std::function<int(double)>& id_of_x = {},
                     double straight_x = -1) {
    Mesh mesh;
    double h = size / n;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            bool inner = i > 0 && i < n && j > 0 && j < n;
            bool straight = std::fabs(i * h - straight_x) < 1e-12;
            double dx = inner && !straight ? 0.2 * h * jitter(i, j, 1) : 0;
            double dy = inner ? 0.2 * h * jitter(i, j, 2) : 0;
            mesh.vertex.push_back({i * h + dx, j * h + dy, 0});
        }
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            int a = i + (n + 1) * j, b = a + 1, c = a + n + 1, d = c + 1;
            double cx = (i + 0.5) * h;
            int id = id_of_x ? id_of_x(cx) : 1;
            if (jitter(i, j, 3) > 0) {
                mesh.triangle.push_back({a, b, d, id});
                mesh.triangle.push_back({a, d, c, id});
            } else {
                mesh.triangle.push_back({a, b, c, id});
                mesh.triangle.push_back({b, d, c, id});
            }
        }
    return mesh;
}

// Quad cells of the same square, one sample at each centre.
std::vector<Sample> plate_samples(int m, const Field& htc, double size = 1,
                                  const std::function<int(double)>& id_of_x = {}) {
    std::vector<Sample> samples;
    double h = size / m;
    for (int j = 0; j < m; ++j)
        for (int i = 0; i < m; ++i) {
            Sample s;
            s.x[0] = (i + 0.5) * h;
            s.x[1] = (j + 0.5) * h;
            s.x[2] = 0;
            s.area = h * h;
            s.htc = htc(s.x);
            s.flux = 10 * s.htc;
            s.boundary = id_of_x ? id_of_x(s.x[0]) : 1;
            samples.push_back(s);
        }
    return samples;
}

// Open cylinder of radius r about z from z = 0 to height, n_theta x n_z cells of two
// triangles, every other ring turned by half a cell.
Mesh cylinder_triangles(int n_theta, int n_z, double r, double height, int id = 1) {
    Mesh mesh;
    for (int j = 0; j <= n_z; ++j)
        for (int i = 0; i < n_theta; ++i) {
            double a = 2 * pi * (i + 0.5 * (j % 2)) / n_theta;
            mesh.vertex.push_back({r * std::cos(a), r * std::sin(a), height * j / n_z});
        }
    for (int j = 0; j < n_z; ++j)
        for (int i = 0; i < n_theta; ++i) {
            int a = i + n_theta * j, b = (i + 1) % n_theta + n_theta * j;
            int c = a + n_theta, d = b + n_theta;
            if (j % 2 == 0) {
                mesh.triangle.push_back({a, b, c, id});
                mesh.triangle.push_back({b, d, c, id});
            } else {
                mesh.triangle.push_back({a, d, c, id});
                mesh.triangle.push_back({a, b, d, id});
            }
        }
    return mesh;
}

// CFD faces of the true cylinder between z_low and z_high: centres on the surface, exact areas.
std::vector<Sample> cylinder_samples(int m_theta, int m_z, double r, double z_low, double z_high,
                                     const Field& htc, int id = 1) {
    std::vector<Sample> samples;
    double dz = (z_high - z_low) / m_z, da = 2 * pi / m_theta;
    for (int j = 0; j < m_z; ++j)
        for (int i = 0; i < m_theta; ++i) {
            Sample s;
            double a = (i + 0.5) * da;
            s.x[0] = r * std::cos(a);
            s.x[1] = r * std::sin(a);
            s.x[2] = z_low + (j + 0.5) * dz;
            s.area = r * da * dz;
            s.htc = htc(s.x);
            s.flux = 10 * s.htc;
            s.boundary = id;
            samples.push_back(s);
        }
    return samples;
}

// Icosahedron refined `levels` times, corners pushed onto the sphere of radius r.
Mesh icosphere(int levels, double r) {
    Mesh mesh;
    double t = (1 + std::sqrt(5.0)) / 2;
    double base[12][3] = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                          {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    int faces[20][3] = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                        {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                        {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                        {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    auto push = [&](double x, double y, double z) {
        double l = std::sqrt(x * x + y * y + z * z);
        mesh.vertex.push_back({r * x / l, r * y / l, r * z / l});
        return static_cast<int>(mesh.vertex.size()) - 1;
    };
    for (auto& v : base) push(v[0], v[1], v[2]);
    for (auto& f : faces) mesh.triangle.push_back({f[0], f[1], f[2], 1});
    for (int level = 0; level < levels; ++level) {
        std::vector<std::array<int, 4>> finer;
        std::map<std::pair<int, int>, int> middle;
        auto mid = [&](int a, int b) {
            auto key = std::make_pair(std::min(a, b), std::max(a, b));
            auto it = middle.find(key);
            if (it != middle.end()) return it->second;
            const auto& p = mesh.vertex[a];
            const auto& q = mesh.vertex[b];
            int m = push(p[0] + q[0], p[1] + q[1], p[2] + q[2]);
            middle[key] = m;
            return m;
        };
        for (auto& f : mesh.triangle) {
            int ab = mid(f[0], f[1]), bc = mid(f[1], f[2]), ca = mid(f[2], f[0]);
            finer.push_back({f[0], ab, ca, 1});
            finer.push_back({f[1], bc, ab, 1});
            finer.push_back({f[2], ca, bc, 1});
            finer.push_back({ab, bc, ca, 1});
        }
        mesh.triangle = finer;
    }
    return mesh;
}

// Latitude-longitude faces of the sphere: centres on it, exact spherical areas.
std::vector<Sample> sphere_samples(int m_lat, int m_lon, double r, const Field& htc) {
    std::vector<Sample> samples;
    for (int j = 0; j < m_lat; ++j)
        for (int i = 0; i < m_lon; ++i) {
            double lat0 = -pi / 2 + pi * j / m_lat, lat1 = lat0 + pi / m_lat;
            double lat = (lat0 + lat1) / 2, lon = 2 * pi * (i + 0.5) / m_lon;
            Sample s;
            s.x[0] = r * std::cos(lat) * std::cos(lon);
            s.x[1] = r * std::cos(lat) * std::sin(lon);
            s.x[2] = r * std::sin(lat);
            s.area = r * r * (2 * pi / m_lon) * (std::sin(lat1) - std::sin(lat0));
            s.htc = htc(s.x);
            s.flux = 10 * s.htc;
            samples.push_back(s);
        }
    return samples;
}

void load_surface(const Mesh& mesh, double tolerance, int rule = 0, double scale = 1) {
    use_identity_frame();
    settings.scale_xyz = scale;
    settings.tolerance = tolerance;
    settings.max_htc = 1e9;
    settings.start_time = 0;
    settings.end_time = 1e9;
    settings.startoption = 1;
    settings.enforce_boundID_match = rule;
    settings.grow_mult = 2;
    settings.mapping_method = 1;
    std::string text;
    char line[200];
    std::snprintf(line, sizeof line, "%zu %zu %zu\n", mesh.vertex.size(), mesh.vertex.size(),
                  mesh.triangle.size());
    text += line;
    for (std::size_t v = 0; v < mesh.vertex.size(); ++v) {
        std::snprintf(line, sizeof line, "%zu %.17g %.17g %.17g\n", v + 1, mesh.vertex[v][0],
                      mesh.vertex[v][1], mesh.vertex[v][2]);
        text += line;
    }
    for (const auto& t : mesh.triangle) {
        std::snprintf(line, sizeof line, "%d %d %d %d\n", t[0] + 1, t[1] + 1, t[2] + 1, t[3]);
        text += line;
    }
    extra_names.clear();
    triangle_extra.clear();
    vertex_extra.clear();
    read_surface_text(text);
    build_subdivision();
    reset_time_window();
}

void set_samples(const std::vector<Sample>& samples) {
    sample_pool.assign(samples.size(), CellDataPoint{});
    sample_extra.clear();
    for (std::size_t s = 0; s < samples.size(); ++s) {
        CellDataPoint& p = sample_pool[s];
        for (int a = 0; a < 3; ++a) p.position[a] = samples[s].x[a];
        p.area = samples[s].area;
        p.htc = samples[s].htc;
        p.fluid_temp = samples[s].fluid_temp;
        p.boundary_temp = samples[s].wall_temp;
        p.flux = samples[s].flux;
        p.yplus = samples[s].yplus;
        p.bound_id = samples[s].boundary;
    }
    sample_count = static_cast<int>(samples.size());
}

// Steps of the overlap deposit, each of length 1 unless given.
struct DepositRun {
    double time = 0;
    void start() {
        time = 0;
        report_start_run();
        prepare_deposit();
    }
    void step(const std::vector<Sample>& samples, double dt = 1) {
        set_samples(samples);
        report_clear_step();
        deposit_samples(time + dt, "s");
        integrate_deposit(time + dt, time);
        report_end_step(time + dt, dt);
        time += dt;
    }
};

struct Totals {
    double htc = 0, flux = 0, flux_abs = 0, area = 0;
};
Totals sample_totals(const std::vector<Sample>& samples) {
    Totals t;
    for (const Sample& s : samples) {
        t.htc += s.htc * s.area;
        t.flux += s.flux * s.area;
        t.flux_abs += std::fabs(s.flux * s.area);
        t.area += s.area;
    }
    return t;
}
// Sum of value x area over initialized triangles, after the window.
Totals triangle_totals(int boundary = -1) {
    Totals t;
    for (std::size_t k = 0; k < triangle_table.size(); ++k) {
        const Triangle& tri = triangle_table[k];
        const int id = triangle_geometry[k].boundary_id;
        if (tri.initialized != 1 || (boundary >= 0 && id != boundary)) continue;
        t.htc += tri.htc * tri.area;
        t.flux += tri.flux * tri.area;
        t.area += tri.area;
    }
    return t;
}

double triangle_area_of(int t) {
    const Triangle& tri = triangle_table[t];
    const Vertex& a = vertex_table[tri.vert[0]];
    const Vertex& b = vertex_table[tri.vert[1]];
    const Vertex& c = vertex_table[tri.vert[2]];
    double u[3] = {b.x - a.x, b.y - a.y, b.z - a.z}, v[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

// Mean of f over triangle t (centroids of 16 x 16 sub-triangles: close to exact).
double triangle_mean(int t, const Field& f) {
    const Triangle& tri = triangle_table[t];
    const Vertex& a = vertex_table[tri.vert[0]];
    const Vertex& b = vertex_table[tri.vert[1]];
    const Vertex& c = vertex_table[tri.vert[2]];
    const int m = 16;
    double sum = 0;
    int count = 0;
    for (int up = 0; up < 2; ++up)
        for (int i = 0; i < m; ++i)
            for (int k = 0; k + i < m - up; ++k) {
                double u = (3.0 * i + 1 + up) / (3.0 * m), v = (3.0 * k + 1 + up) / (3.0 * m);
                double p[3] = {a.x + u * (b.x - a.x) + v * (c.x - a.x),
                               a.y + u * (b.y - a.y) + v * (c.y - a.y),
                               a.z + u * (b.z - a.z) + v * (c.z - a.z)};
                sum += f(p);
                ++count;
            }
    return sum / count;
}

struct Errors {
    double l1 = 0, l2 = 0, linf = 0, global = 0, low = 0, high = 0;
};
// Relative errors of the window HTC against exact triangle means of f, as the
// remapping literature reports them: L1, L2, L-infinity, the global conservation error and
// the extrema.
Errors field_errors(const Field& f) {
    double e1 = 0, r1 = 0, e2 = 0, r2 = 0, emax = 0, rmax = 0, mapped = 0, exact = 0;
    double low = 1e300, high = -1e300, ref_low = 1e300, ref_high = -1e300;
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        const Triangle& tri = triangle_table[t];
        double a = triangle_area_of(static_cast<int>(t));
        double ref = triangle_mean(static_cast<int>(t), f);
        double value = tri.initialized == 1 ? tri.htc : 0;
        double e = value - ref;
        e1 += std::fabs(e) * a;
        r1 += std::fabs(ref) * a;
        e2 += e * e * a;
        r2 += ref * ref * a;
        emax = std::max(emax, std::fabs(e));
        rmax = std::max(rmax, std::fabs(ref));
        mapped += value * a;
        exact += ref * a;
        low = std::min(low, value);
        high = std::max(high, value);
        ref_low = std::min(ref_low, ref);
        ref_high = std::max(ref_high, ref);
    }
    Errors out;
    out.l1 = e1 / r1;
    out.l2 = std::sqrt(e2 / r2);
    out.linf = emax / rmax;
    out.global = (mapped - exact) / r1;
    out.low = (low - ref_low) / (ref_high - ref_low);
    out.high = (high - ref_high) / (ref_high - ref_low);
    return out;
}

class Deposit : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        char pattern[] = "/tmp/quorvel_deposit_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::current_path(dir_);
        sample_pool.clear();
        sample_count = 0;
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }
    fs::path previous_, dir_;
    DepositRun run;
};

double constant(const double*) { return 100; }

// Largest relative deviation from `value` over triangles wetted the whole window.
double worst_constant_error(double value) {
    double worst = 0;
    for (const Triangle& tri : triangle_table) {
        if (tri.initialized != 1 || tri.time_without_hits > 1e-9) continue;
        worst = std::max(worst, std::fabs(tri.htc / value - 1));
    }
    return worst;
}

void expect_conserved(const std::vector<Sample>& samples, double steps = 1) {
    Totals source = sample_totals(samples), mapped = triangle_totals();
    EXPECT_NEAR(mapped.htc, source.htc, 1e-9 * source.htc);
    EXPECT_NEAR(mapped.flux, source.flux, 1e-9 * source.flux_abs);
    EXPECT_LE(deposit_window_figures.max_weight_error, 1e-12);
    const DepositBoundary& b = deposit_window_figures.boundary[samples[0].boundary];
    EXPECT_NEAR(b.deposited_flux, b.sample_flux, 1e-9 * b.sample_flux_abs);
    EXPECT_NEAR(b.deposited_htc, b.sample_htc, 1e-9 * b.sample_htc);
    EXPECT_NEAR(b.sample_htc, steps * source.htc, 1e-9 * steps * source.htc);
}

TEST_F(Deposit, ConstantOnNonMatchingPlateCylinderAndSphere) {
    struct Case {
        const char* name;
        Mesh mesh;
        std::vector<Sample> samples;
        double tolerance;
    };
    std::vector<Case> cases;
    cases.push_back({"plate", plate_triangles(23), plate_samples(31, constant), 1e-6});
    cases.push_back({"cylinder", cylinder_triangles(40, 20, 0.05, 0.1),
                     cylinder_samples(57, 26, 0.05, 0, 0.1, constant), 5e-4});
    cases.push_back({"sphere", icosphere(4, 1), sphere_samples(48, 96, 1, constant), 0.02});
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        load_surface(c.mesh, c.tolerance);
        run.start();
        run.step(c.samples);
        finish_deposit();
        expect_conserved(c.samples);
        EXPECT_EQ(uninitialized_count, 0);
        EXPECT_EQ(deposit_window_figures.unmapped, 0);
        double worst = worst_constant_error(100);
        std::printf("[figures] constant on %s: %zu triangles, %zu samples, worst %.4f %%\n",
                    c.name, triangle_table.size(), c.samples.size(), 100 * worst);
        // A plate has no poles; lat-long faces crowd at the sphere's, so it gets more room.
        EXPECT_LT(worst, std::string(c.name) == "sphere" ? 0.05 : 0.02);
    }
}

TEST_F(Deposit, LinearFieldOnPlateIsCloseAndIntegralExact) {
    Field linear = [](const double* x) { return 100 + 80 * x[0] + 40 * x[1]; };
    load_surface(plate_triangles(20), 1e-6);
    std::vector<Sample> samples = plate_samples(27, linear);
    run.start();
    run.step(samples);
    finish_deposit();
    expect_conserved(samples);
    Errors e = field_errors(linear);
    std::printf("[figures] linear on plate: L1 %.2e L2 %.2e Linf %.2e Lg %.2e\n", e.l1, e.l2,
                e.linf, e.global);
    EXPECT_LT(e.l1, 0.01);
    EXPECT_LT(e.linf, 0.05);
    EXPECT_LT(std::fabs(e.global), 1e-3);  // a sample's value vs its cell's mean: tiny
}

TEST_F(Deposit, RefinementHalvesTheErrorOfASmoothField) {
    // Franke-like bumps on the plate; both meshes refined twice per level.
    Field smooth = [](const double* x) {
        return 200 + 80 * std::exp(-((9 * x[0] - 2) * (9 * x[0] - 2) + (9 * x[1] - 2) * (9 * x[1] - 2)) / 4) +
               60 * std::cos(pi * x[0]) * std::sin(2 * pi * x[1]);
    };
    std::vector<Errors> levels;
    for (int level = 0; level < 4; ++level) {
        int n = 6 << level, m = 7 << level;
        load_surface(plate_triangles(n), 1e-6);
        std::vector<Sample> samples = plate_samples(m, smooth);
        run.start();
        run.step(samples);
        finish_deposit();
        expect_conserved(samples);
        levels.push_back(field_errors(smooth));
        const Errors& e = levels.back();
        std::printf("[figures] refinement %d (%zu triangles, %zu samples): L1 %.3e L2 %.3e "
                    "Linf %.3e Lg %.1e Lmin %.1e Lmax %.1e",
                    level, triangle_table.size(), samples.size(), e.l1, e.l2, e.linf, e.global,
                    e.low, e.high);
        if (level > 0) {
            const Errors& p = levels[level - 1];
            std::printf("  order L1 %.2f L2 %.2f Linf %.2f", std::log2(p.l1 / e.l1),
                        std::log2(p.l2 / e.l2), std::log2(p.linf / e.linf));
        }
        std::printf("\n");
    }
    // First order at least, over the whole study.
    double order_l1 = std::log2(levels[0].l1 / levels[3].l1) / 3;
    double order_l2 = std::log2(levels[0].l2 / levels[3].l2) / 3;
    EXPECT_GT(order_l1, 0.9);
    EXPECT_GT(order_l2, 0.9);
    EXPECT_LT(levels[3].linf, levels[1].linf);
}

// Exposed fraction of triangle t above z = cut.
double area_above(int t, double cut) {
    const Triangle& tri = triangle_table[t];
    std::vector<std::array<double, 3>> poly;
    std::array<double, 3> p[3];
    for (int k = 0; k < 3; ++k) {
        const Vertex& v = vertex_table[tri.vert[k]];
        p[k] = {v.x, v.y, v.z};
    }
    for (int k = 0; k < 3; ++k) {
        const auto& a = p[k];
        const auto& b = p[(k + 1) % 3];
        bool a_in = a[2] >= cut, b_in = b[2] >= cut;
        if (a_in) poly.push_back(a);
        if (a_in != b_in) {
            double s = (cut - a[2]) / (b[2] - a[2]);
            poly.push_back({a[0] + s * (b[0] - a[0]), a[1] + s * (b[1] - a[1]), cut});
        }
    }
    double n[3] = {0, 0, 0};
    for (std::size_t k = 1; k + 1 < poly.size(); ++k) {
        double u[3], v[3];
        for (int a = 0; a < 3; ++a) {
            u[a] = poly[k][a] - poly[0][a];
            v[a] = poly[k + 1][a] - poly[0][a];
        }
        n[0] += u[1] * v[2] - u[2] * v[1];
        n[1] += u[2] * v[0] - u[0] * v[2];
        n[2] += u[0] * v[1] - u[1] * v[0];
    }
    return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]) / triangle_area_of(t);
}

// A liner of radius 0.05 from z = 0 to 0.1; the piston top at z0 + s (1 - cos wt) / 2 covers
// what lies below it. At each of 36 crank steps the CFD liner is meshed afresh above the
// piston; h and q are uniform where there is gas.
struct Piston {
    static constexpr double r = 0.05, height = 0.1, z0 = 0.01, stroke = 0.06;
    static constexpr int steps = 36;
    static double top(int k) { return z0 + stroke * (1 - std::cos(2 * pi * k / steps)) / 2; }
    static std::vector<Sample> samples(int k) {
        double z = top(k);
        int rows = std::max(1, static_cast<int>(std::lround((height - z) / 0.0025)));
        std::vector<Sample> s = cylinder_samples(64, rows, r, z, height, constant, 2);
        for (Sample& x : s) {
            x.htc = 500;
            x.flux = 500 * (900 - 450);
            x.fluid_temp = 900;
            x.wall_temp = 450;
        }
        return s;
    }
    // The window's exact liner heat rate: q times the exposed true-cylinder area, averaged.
    static double heat_rate() {
        double sum = 0;
        for (int k = 1; k <= steps; ++k) sum += 500.0 * 450 * 2 * pi * r * (height - top(k));
        return sum / steps;
    }
};

TEST_F(Deposit, MovingPistonMatchesTheExposureAndTheHeatRate) {
    load_surface(cylinder_triangles(48, 30, Piston::r, Piston::height, 2), 5e-4, 1);
    run.start();
    double step_heat_error = 0;
    for (int k = 1; k <= Piston::steps; ++k) {
        std::vector<Sample> s = Piston::samples(k);
        run.step(s);
        const DepositBoundary& b = deposit_step_figures.boundary[2];
        step_heat_error = std::max(step_heat_error,
                                   std::fabs(b.deposited_flux - b.sample_flux) / b.sample_flux_abs);
    }
    finish_deposit();
    double worst = 0, worst_exposed = 0;
    std::array<double, 3> worst_at{};
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        double exposure = 0;
        for (int k = 1; k <= Piston::steps; ++k)
            exposure += area_above(static_cast<int>(t), Piston::top(k)) / Piston::steps;
        double htc = triangle_table[t].initialized ? triangle_table[t].htc : 0;
        double error = std::fabs(htc - 500 * exposure) / 500;
        if (error > worst) worst_at = {triangle_geometry[t].centroid[2], exposure, htc / 500};
        worst = std::max(worst, error);
        if (exposure > 0.5) worst_exposed = std::max(worst_exposed, error / exposure);
    }
    double heat = triangle_totals(2).flux;
    double heat_error = heat / Piston::heat_rate() - 1;
    // The mapping report, fed like any method, finds the same.
    report_finish_window();
    const BoundaryTally& liner = report_window[report_slot_of(2)];
    EXPECT_NEAR(liner.q_mapped, liner.q_source, 1e-9 * liner.q_source);
    EXPECT_NEAR(liner.ha_mapped, liner.ha_source, 1e-9 * liner.ha_source);
    EXPECT_EQ(liner.mapped, liner.samples);
    EXPECT_EQ(liner.zero_htc_lost, 0);
    std::printf("[figures] worst at z %.4f, exposure %.4f, mapped %.4f\n", worst_at[0],
                worst_at[1], worst_at[2]);
    std::printf("[figures] moving piston, deposit: liner heat rate %+.2e, worst triangle HTC "
                "error %.2f %% of h0 (%.2f %% of the local value where exposed > half the time), "
                "conservation per step %.1e, gap fill %d\n",
                heat_error, 100 * worst, 100 * worst_exposed, step_heat_error, gap_fill.triangles);
    EXPECT_LT(std::fabs(heat_error), 0.005);
    EXPECT_LT(step_heat_error, 1e-9);
    EXPECT_LT(worst, 0.02);
    EXPECT_EQ(gap_fill.triangles, 0);  // a liner's wetted area varies: never filled
    // Under the piston at its highest (z < z0) the liner never sees gas.
    for (const Triangle& tri : triangle_table) {
        double top_z = -1;
        for (int k = 0; k < 3; ++k) top_z = std::max(top_z, vertex_table[tri.vert[k]].z);
        if (top_z < Piston::z0 - 0.002) {
            EXPECT_EQ(tri.initialized, 0);
        }
    }
}

TEST_F(Deposit, MovingPistonGrowthOverstatesTheLiner) {
    // The contrast: the hit mapping grows the exposed liner's values onto liner the piston
    // covers in that step.
    load_surface(cylinder_triangles(48, 30, Piston::r, Piston::height, 2), 5e-4, 1);
    settings.mapping_method = 0;
    prepare_hit_mapping();
    for (Triangle& tri : triangle_table) tri.time_with_hits = tri.time_without_hits = 0;
    previous_time = 0;
    for (int k = 1; k <= Piston::steps; ++k) {
        set_samples(Piston::samples(k));
        clear_step();
        map_step(k, "s");
        integrate_step(k);
        previous_time = k;
    }
    finish_triangles();
    double heat = 0;
    for (const Triangle& tri : triangle_table)
        if (tri.initialized == 1) heat += tri.flux * tri.area;
    double heat_error = heat / Piston::heat_rate() - 1;
    std::printf("[figures] moving piston, growth (grow_mult 2): liner heat rate %+.2e\n",
                heat_error);
    EXPECT_GT(heat_error, 0.01);
}

TEST_F(Deposit, ResolutionExtremesLeaveNoHoles) {
    // CFD faces 10 times coarser and 10 times finer (in length) than the triangles.
    struct Case {
        const char* name;
        int triangles, samples;
    };
    for (Case c : {Case{"coarse CFD", 40, 4}, Case{"fine CFD", 6, 60}}) {
        SCOPED_TRACE(c.name);
        load_surface(plate_triangles(c.triangles), 1e-6);
        std::vector<Sample> samples = plate_samples(c.samples, constant);
        run.start();
        run.step(samples);
        finish_deposit();
        expect_conserved(samples);
        EXPECT_EQ(uninitialized_count, 0);
        EXPECT_EQ(gap_fill.triangles, 0);
        EXPECT_EQ(deposit_window_figures.mapped, static_cast<int>(samples.size()));
        double worst = worst_constant_error(100);
        std::printf("[figures] %s: %zu triangles, %zu samples, whole deposits %d, worst "
                    "constant error %.3f %%\n",
                    c.name, triangle_table.size(), samples.size(), deposit_window_figures.whole,
                    100 * worst);
        EXPECT_LT(worst, 0.02);
    }
}

TEST_F(Deposit, FluxThatChangesSignKeepsAFiniteConservationFigure) {
    load_surface(plate_triangles(16), 1e-6);
    std::vector<Sample> samples = plate_samples(21, constant);
    for (Sample& s : samples) s.flux = 1000 * std::cos(2 * pi * s.x[0]);
    run.start();
    run.step(samples);
    finish_deposit();
    Totals source = sample_totals(samples), mapped = triangle_totals();
    EXPECT_LT(std::fabs(source.flux), 1e-9 * source.flux_abs);  // the field sums to nothing
    EXPECT_NEAR(mapped.flux, source.flux, 1e-12 * source.flux_abs);
    const DepositBoundary& b = deposit_window_figures.boundary[1];
    EXPECT_LT(std::fabs(b.deposited_flux - b.sample_flux) / b.sample_flux_abs, 1e-12);
    EXPECT_EQ(gap_fill.flux_factor, 1.0);
}

TEST_F(Deposit, TimeAlgebraOfZeroHtcAndMissingBoundary) {
    // Two boundaries side by side. Step 1 (length 1): h = 0 with a flux everywhere. Step 2
    // (length 3): h = 200 at 500 K on both. Step 3 (length 2): boundary 2 has no samples.
    auto id = [](double x) { return x < 0.5 ? 1 : 2; };
    load_surface(plate_triangles(10, 1, id, 0.5), 1e-6, 1);
    std::vector<Sample> s1 = plate_samples(14, constant, 1, id), s2 = s1, s3;
    for (Sample& s : s1) {
        s.htc = 0;
        s.flux = 40;
        s.fluid_temp = 300;
    }
    for (Sample& s : s2) {
        s.htc = 200;
        s.flux = 60;
        s.fluid_temp = 500;
    }
    for (const Sample& s : s2)
        if (s.boundary == 1) s3.push_back(s);
    run.start();
    run.step(s1, 1);
    EXPECT_EQ(deposit_step_figures.zero_htc, static_cast<int>(s1.size()));
    run.step(s2, 3);
    run.step(s3, 2);
    finish_deposit();
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        const Triangle& tri = triangle_table[t];
        ASSERT_EQ(tri.initialized, 1);
        double tau = 6;
        bool first = triangle_geometry[t].boundary_id == 1;
        // Whole-time exposure on 1, steps 1 and 2 only on 2.
        EXPECT_NEAR(tri.time_with_hits, first ? 6 : 4, 1e-9);
        EXPECT_NEAR(tri.time_with_hits + tri.time_without_hits, tau, 1e-12);
        double htc = first ? 200.0 * 5 / 6 : 200.0 * 3 / 6;
        double flux = first ? (40.0 + 60 * 5) / 6 : (40.0 + 60 * 3) / 6;
        EXPECT_NEAR(tri.htc, htc, 0.02 * htc);
        EXPECT_NEAR(tri.flux, flux, 0.02 * flux);
        EXPECT_NEAR(tri.fluid_temp, 500, 1e-9);  // h-weighted: the h = 0 step counts nothing
    }
    // The report counts the HTC-0 samples and finds none of them lost.
    report_finish_window();
    for (int b : {1, 2}) {
        const BoundaryTally& tally = report_window[report_slot_of(b)];
        EXPECT_GT(tally.zero_htc, 0);
        EXPECT_EQ(tally.zero_htc_lost, 0);
    }
    // The flux of the h = 0 step is in the totals.
    Totals mapped = triangle_totals();
    double expected = (40.0 + 60 * 3) * 1 + 60 * 2 * 0.5;
    EXPECT_NEAR(mapped.flux * 6, expected, 1e-9 * expected);
}

TEST_F(Deposit, TouchingBoundariesDoNotMixUnderTheIdMatch) {
    // Boundary 1 has HTC 100, boundary 2 has 300. The two meshes draw the border between
    // them apart: at x = 0.47 for the samples, 0.5 for the triangles. Under the ID match no
    // triangle of 1 takes anything of 2 (the samples of 2 over triangles of 1 are refused
    // and reported); without it, the border triangles of 1 mix in 300.
    auto id = [](double x) { return x < 0.47 ? 1 : 2; };
    std::vector<Sample> samples = plate_samples(17, constant, 1, id);
    for (Sample& s : samples) s.htc = s.boundary == 1 ? 100 : 300;
    for (Sample& s : samples) s.flux = 10 * s.htc;
    for (int rule : {1, 0}) {
        SCOPED_TRACE(rule);
        load_surface(plate_triangles(12, 1, id), 1e-6, rule);
        run.start();
        run.step(samples);
        finish_deposit();
        double highest_on_1 = 0;
        for (std::size_t t = 0; t < triangle_table.size(); ++t)
            if (triangle_geometry[t].boundary_id == 1 && triangle_table[t].initialized == 1)
                highest_on_1 = std::max(highest_on_1, triangle_table[t].htc);
        if (rule == 1) {
            EXPECT_LT(highest_on_1, 100 * 1.02);
            for (int b : {1, 2}) {
                Totals source;
                for (int s = 0; s < sample_count; ++s)
                    if (samples[s].boundary == b && deposit_sample_triangle[s] >= 0)
                        source.htc += samples[s].htc * samples[s].area;
                EXPECT_NEAR(triangle_totals(b).htc, source.htc, 1e-9 * source.htc);
            }
            EXPECT_GT(deposit_window_figures.refused, 0);
            EXPECT_GT(deposit_window_figures.boundary[2].unmapped_area, 0);
        } else {
            EXPECT_GT(highest_on_1, 150);
            EXPECT_EQ(deposit_window_figures.unmapped, 0);
        }
    }
}

TEST_F(Deposit, OneTriangleDepositionRules) {
    // One triangle (0,0)-(1,0)-(0,1); samples at the centroid, on an edge a little off the
    // plane, just outside an edge, past a corner (no foot on either edge: unmapped) and
    // above the triangle beyond the tolerance (unmapped). The mapped ones land whole.
    Mesh mesh;
    mesh.vertex = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.triangle = {{0, 1, 2, 1}};
    load_surface(mesh, 0.01);
    const int n = 5;
    std::vector<Sample> samples(n);
    double positions[n][3] = {{1.0 / 3, 1.0 / 3, 0}, {0.5, 0, 0.001}, {0.5, -0.003, 0},
                              {1.004, -0.002, 0}, {0.2, 0.2, 0.5}};
    double areas[n] = {0.2, 0.1, 0.05, 0.04, 0.1};
    for (int s = 0; s < n; ++s) {
        for (int a = 0; a < 3; ++a) samples[s].x[a] = positions[s][a];
        samples[s].area = areas[s];
        samples[s].htc = 10 * (s + 1);
        samples[s].flux = 100 * (s + 1);
    }
    run.start();
    run.step(samples);
    EXPECT_EQ(deposit_step_figures.mapped, 3);
    EXPECT_EQ(deposit_step_figures.unmapped, 2);
    EXPECT_EQ(deposit_sample_triangle[3], no_triangle);
    EXPECT_EQ(deposit_sample_triangle[4], no_triangle);
    for (int s = 0; s < 3; ++s) EXPECT_NEAR(deposit_sample_weight[s], areas[s], 1e-15);
    finish_deposit();
    const Triangle& tri = triangle_table[0];
    double htc_area = 10 * 0.2 + 20 * 0.1 + 30 * 0.05;
    double flux_area = 100 * 0.2 + 200 * 0.1 + 300 * 0.05;
    EXPECT_NEAR(tri.htc * tri.area, htc_area, 1e-12);
    EXPECT_NEAR(tri.flux * tri.area, flux_area, 1e-12);
    const DepositBoundary& b = deposit_window_figures.boundary[1];
    EXPECT_NEAR(b.unmapped_area, 0.14, 1e-15);
    EXPECT_NEAR(b.sample_area, 0.35, 1e-15);
}

TEST_F(Deposit, AreaRatioShowsScaleAndOffsetMistakes) {
    // A structural cylinder 2 % wider than the CFD's: within the tolerance every sample maps
    // and the wetted area is 1.02 times the samples'.
    std::vector<Sample> samples = cylinder_samples(60, 20, 0.05, 0, 0.1, constant);
    load_surface(cylinder_triangles(50, 16, 0.051, 0.1), 2e-3);
    run.start();
    run.step(samples);
    finish_deposit();
    expect_conserved(samples);
    const DepositBoundary& b = deposit_window_figures.boundary[1];
    double ratio = b.wetted_area / b.sample_area;
    std::printf("[figures] cylinder 2 %% wider: area ratio %.4f\n", ratio);
    EXPECT_NEAR(ratio, 1.02, 0.005);
    EXPECT_EQ(deposit_window_figures.unmapped, 0);
    // Beyond the tolerance nothing maps, and the figures say so.
    load_surface(cylinder_triangles(50, 16, 0.051, 0.1), 5e-4);
    run.start();
    run.step(samples);
    finish_deposit();
    EXPECT_EQ(deposit_window_figures.unmapped, static_cast<int>(samples.size()));
    EXPECT_EQ(uninitialized_count, static_cast<int>(triangle_table.size()));
    // Millimetres against metres: the structural surface 1000 times larger.
    load_surface(cylinder_triangles(50, 16, 0.05, 0.1), 2e-3, 0, 1000);
    run.start();
    run.step(samples);
    finish_deposit();
    EXPECT_EQ(deposit_window_figures.unmapped, static_cast<int>(samples.size()));
}

TEST_F(Deposit, SliversOfAStaticWallAreFilledAndTheTotalsKept) {
    // Samples only on the left 0.9 of the plate but the structural plate reaches 1.0: the
    // last column of triangles is never wetted. Those next to triangles wetted all the time
    // are filled, then the wall is scaled back to its totals.
    load_surface(plate_triangles(10), 1e-6);
    std::vector<Sample> samples;
    for (const Sample& s : plate_samples(20, constant))
        if (s.x[0] < 0.8) samples.push_back(s);
    run.start();
    run.step(samples);
    run.step(samples);
    finish_deposit();
    EXPECT_GT(gap_fill.triangles, 0);
    Totals source = sample_totals(samples), mapped = triangle_totals();
    EXPECT_NEAR(mapped.htc, source.htc, 1e-9 * source.htc);
    EXPECT_NEAR(mapped.flux, source.flux, 1e-9 * source.flux);
    EXPECT_LT(gap_fill.htc_factor, 1.0);
}

}  // namespace

namespace {

// A flat disc of radius r at z in rings of about `size`, as structural models mesh a
// cylinder head: a centre point, then rings of growing counts zipped together.
Mesh disc_triangles(double r, double z, double size, int id) {
    Mesh mesh;
    int rings = std::max(1, static_cast<int>(std::lround(r / size)));
    mesh.vertex.push_back({0, 0, z});
    std::vector<int> previous = {0};
    for (int i = 1; i <= rings; ++i) {
        double ri = r * i / rings;
        int count = std::max(6, static_cast<int>(std::lround(2 * pi * ri / size)));
        std::vector<int> ring;
        for (int k = 0; k < count; ++k) {
            double a = 2 * pi * (k + 0.25 * (i % 2)) / count;
            ring.push_back(static_cast<int>(mesh.vertex.size()));
            mesh.vertex.push_back({ri * std::cos(a), ri * std::sin(a), z});
        }
        int na = static_cast<int>(previous.size()), nb = count, a = 0, b = 0;
        while (na > 1 && (a < na || b < nb)) {
            if (b >= nb || (a < na && double(a + 1) / na < double(b + 1) / nb)) {
                mesh.triangle.push_back(
                    {previous[a % na], previous[(a + 1) % na], ring[b % nb], id});
                ++a;
            } else {
                mesh.triangle.push_back({previous[a % na], ring[(b + 1) % nb], ring[b % nb], id});
                ++b;
            }
        }
        if (na == 1)
            for (int k = 0; k < count; ++k)
                mesh.triangle.push_back({0, ring[k], ring[(k + 1) % count], id});
        previous = ring;
    }
    return mesh;
}

// CFD faces of the same disc in `rings` rings, the innermost four wedges round the pole,
// each ring turned by half a face against the one inside: samples at the face centres'
// radius, so the cells round the pole are lopsided.
std::vector<Sample> disc_samples(double r, double z, int rings, double size, int id) {
    std::vector<Sample> samples;
    for (int i = 0; i < rings; ++i) {
        double r1 = r * i / rings, r2 = r * (i + 1) / rings, rm = (r1 + r2) / 2;
        int count = std::max(i == 0 ? 4 : 8, static_cast<int>(std::lround(2 * pi * rm / size)));
        for (int k = 0; k < count; ++k) {
            Sample s;
            double a = 2 * pi * (k + 0.5 * (i % 2) + 0.5) / count;
            s.x[0] = rm * std::cos(a);
            s.x[1] = rm * std::sin(a);
            s.x[2] = z;
            s.area = pi * (r2 * r2 - r1 * r1) / count;
            s.htc = 200;
            s.flux = 200 * 500;
            s.boundary = id;
            samples.push_back(s);
        }
    }
    return samples;
}

TEST_F(Deposit, StaticRingMeshedWallIsWettedWholeEveryStep) {
    // A head (boundary 3) meshed in rings from a centre point on both sides, over a liner
    // (boundary 2) whose exposed length and so its samples change every step. Every head
    // point is nearer its own sample than the reach, and the head is always exposed: each
    // triangle wetted the whole window, coverage 1 and the constant HTC everywhere. The
    // points round the pole, in cells that reach farther out than in, were once left dry.
    const double r = 0.043, top = 0.012;
    Mesh mesh = disc_triangles(r, top, 0.0036, 3);
    Mesh liner = cylinder_triangles(75, 20, r, top, 2);
    int offset = static_cast<int>(mesh.vertex.size());
    mesh.vertex.insert(mesh.vertex.end(), liner.vertex.begin(), liner.vertex.end());
    for (const auto& t : liner.triangle)
        mesh.triangle.push_back({t[0] + offset, t[1] + offset, t[2] + offset, 2});
    load_surface(mesh, 5e-4, 1);
    std::vector<Sample> head = disc_samples(r, top, 6, 0.008, 3);
    run.start();
    const int steps = 6;
    for (int k = 0; k < steps; ++k) {
        std::vector<Sample> samples = head;
        double low = 0.002 * (k + 1);
        int rows = 2 + k;
        for (Sample s : cylinder_samples(34, rows, r, low, top, constant, 2)) samples.push_back(s);
        run.step(samples);
    }
    finish_deposit();
    int head_triangles = 0;
    double low_coverage = 1e300, high_coverage = 0;
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        const Triangle& tri = triangle_table[t];
        if (triangle_geometry[t].boundary_id != 3) continue;
        ++head_triangles;
        SCOPED_TRACE(t);
        ASSERT_EQ(tri.initialized, 1);
        EXPECT_NEAR(tri.time_with_hits, steps, 1e-9);
        EXPECT_NEAR(tri.htc, 200, 200 * 0.02);
        double coverage = deposit_window[t].weight / deposit_window[t].wetted;
        low_coverage = std::min(low_coverage, coverage);
        high_coverage = std::max(high_coverage, coverage);
    }
    std::printf("[figures] ring-meshed head: %d triangles, coverage %.4f to %.4f\n",
                head_triangles, low_coverage, high_coverage);
    EXPECT_GT(low_coverage, 0.98);
    EXPECT_LT(high_coverage, 1.02);
    Totals source = sample_totals(head), mapped = triangle_totals(3);
    EXPECT_NEAR(mapped.htc, source.htc, 1e-9 * source.htc);
    EXPECT_NEAR(mapped.flux, source.flux, 1e-9 * source.flux);
}

}  // namespace
