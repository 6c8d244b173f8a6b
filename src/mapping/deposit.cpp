// mapping/deposit.cpp: the overlap deposit, its window averages, the sliver fill and its
// figures.
#include "mapping/deposit.h"

#include "config/options.h"
#include "mapping/hit_mapping.h"
#include "mapping/report.h"
#include "mapping/time_window.h"
#include "mapping/transfer.h"
#include "platform/fatal.h"
#include "platform/format.h"
#include "surface/locate.h"
#include "surface/surface.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

DepositFigures deposit_step_figures;
DepositFigures deposit_window_figures;
GapFill gap_fill;
std::vector<DepositSums> deposit_step;
std::vector<DepositSums> deposit_window;
std::vector<double> deposit_step_extra;
std::vector<double> deposit_window_extra;
std::vector<int> deposit_sample_triangle;
std::vector<double> deposit_sample_distance;
std::vector<double> deposit_sample_weight;

namespace {

// A point farther from its nearest sample than this many square roots of the sample's area
// is dry: the corners of a rectangular face lie within it up to sides of about 1:3.7.
constexpr double reach_factor = 1.0;
// Within half the square root of its area a point is always the sample's; beyond, only
// where the sample's cell, mirrored through the sample, reaches as far.
constexpr double inner_factor = 0.5;
constexpr double mirror_margin = 0.2;
constexpr double pi = 3.141592653589793;
// A sample's kernel reaches a little farther, to the centres of its neighbours.
constexpr double support_factor = 1.25;
// Quadrature points per median sample area, and the subdivision levels a triangle may take.
constexpr double points_per_sample = 9;
constexpr int max_level = 8;
constexpr int balancing_sweeps = 30;

std::vector<double> triangle_area;   // Heron's formula, as the map files print it
std::vector<std::uint8_t> quadrature_level;  // m: m*m points; 0 until the first samples
bool levels_ready = false;
double window_time = 0;

// The weights of the last step built, reused while the samples stay where they were.
struct Pair {
    int sample, triangle;
    double weight;
};
std::vector<Pair> pairs;
std::vector<int> touched;             // triangles with a pair, in order of first pair
std::vector<double> triangle_wetted;  // per triangle, this build's wetted area
std::vector<double> triangle_reach;   // largest reach of a sample on it, over the run
bool weights_cached = false;
std::vector<double> cached_samples;   // x, y, z, area, boundary ID per sample
int cached_count = -1;
int whole_count = 0;
double largest_weight_error = 0;
std::vector<double> sample_htc;       // h after the limit, per sample of the step
// For the report, per sample: the triangle that took most of it, or locate_point's answer.
std::vector<int> report_triangle_of;

// Samples sorted into a grid of cubes, for the nearest-sample search.
struct SampleGrid {
    double origin[3] = {0, 0, 0};
    double cell = 1;
    int dims[3] = {0, 0, 0};
    std::vector<int> start;  // dims product + 1
    std::vector<int> items;
};
SampleGrid grid;

double distance_between(const Vertex& a, const Vertex& b) {
    double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double heron_area(const Triangle& tri) {
    double a = distance_between(vertex_table[tri.vert[1]], vertex_table[tri.vert[2]]);
    double b = distance_between(vertex_table[tri.vert[0]], vertex_table[tri.vert[2]]);
    double c = distance_between(vertex_table[tri.vert[0]], vertex_table[tri.vert[1]]);
    double s = (a + b + c) / 2;
    double product = s * (s - a) * (s - b) * (s - c);
    return product > 0 ? std::sqrt(product) : 0.0;
}

bool boundary_allowed(int rule, int sample_boundary, int triangle_boundary) {
    if (rule == 1) return sample_boundary == triangle_boundary;
    if (rule == 2) return sample_boundary != 1 || triangle_boundary == 1;
    return true;
}

double sample_reach(double area) { return reach_factor * std::sqrt(area > 0 ? area : 0.0); }

double median(std::vector<double>& values) {
    if (values.empty()) return 0;
    std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + middle, values.end());
    return values[middle];
}

// Subdivision level of each triangle from the median area of the samples of its boundary
// (of all samples where its boundary has none), so a sample takes about 16 points.
void choose_levels(const std::vector<int>& mapped) {
    std::vector<double> all;
    std::vector<std::vector<double>> by_boundary(max_boundaries);
    for (int s : mapped) {
        double a = sample_pool[s].area;
        if (!(a > 0)) continue;
        all.push_back(a);
        int t = deposit_sample_triangle[s];
        int id = triangle_geometry[t].boundary_id;
        if (id >= 0 && id < max_boundaries) by_boundary[id].push_back(a);
    }
    if (all.empty()) return;
    double typical = median(all);
    std::vector<double> typical_of(max_boundaries, typical);
    for (int id = 0; id < max_boundaries; ++id)
        if (!by_boundary[id].empty()) typical_of[id] = median(by_boundary[id]);
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        int id = triangle_geometry[t].boundary_id;
        double a = (id >= 0 && id < max_boundaries) ? typical_of[id] : typical;
        double level = std::ceil(std::sqrt(points_per_sample * triangle_area[t] / a));
        quadrature_level[t] = static_cast<std::uint8_t>(std::clamp(level, 1.0, double(max_level)));
    }
    levels_ready = true;
}

void build_grid(const std::vector<int>& mapped, double cell) {
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    for (int s : mapped)
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], sample_pool[s].position[a]);
            high[a] = std::max(high[a], sample_pool[s].position[a]);
        }
    // Few enough cubes that the table stays near the sample count, whatever the spread.
    double limit = 8.0 * mapped.size() + 4096;
    if (!(cell > 0)) cell = 1;
    for (;;) {
        double product = 1;
        for (int a = 0; a < 3; ++a) product *= std::floor((high[a] - low[a]) / cell) + 1;
        if (product <= limit) break;
        cell *= 1.26;
    }
    grid.cell = cell;
    std::size_t cells = 1;
    for (int a = 0; a < 3; ++a) {
        grid.origin[a] = low[a];
        grid.dims[a] = static_cast<int>(std::floor((high[a] - low[a]) / cell)) + 1;
        cells *= grid.dims[a];
    }
    grid.start.assign(cells + 1, 0);
    grid.items.resize(mapped.size());
    auto cell_of = [&](const double* p) {
        int c[3];
        for (int a = 0; a < 3; ++a)
            c[a] = std::clamp(static_cast<int>((p[a] - grid.origin[a]) / grid.cell), 0,
                              grid.dims[a] - 1);
        return (static_cast<std::size_t>(c[2]) * grid.dims[1] + c[1]) * grid.dims[0] + c[0];
    };
    for (int s : mapped) ++grid.start[cell_of(sample_pool[s].position) + 1];
    for (std::size_t c = 0; c < cells; ++c) grid.start[c + 1] += grid.start[c];
    std::vector<int> fill(grid.start.begin(), grid.start.end() - 1);
    for (int s : mapped) grid.items[fill[cell_of(sample_pool[s].position)]++] = s;
}

struct Candidate {
    double q[3];  // the sample's foot on the triangle's plane
    double reach2;    // a point is wet when its nearest sample is this close
    double inner2;    // and always wet this close
    double support2_inverse;  // 1 / the square of how far the sample's kernel reaches
    double overlap;
    int sample;
};

// A cell reaches as far on one side of its sample as on the other: a point p that is
// nearest to sample `best` lies in its patch when the Voronoi cell, followed from the
// sample the opposite way, reaches |p - sample| too. At the edge of the wetted region (the
// piston's top edge on a liner) nothing bounds the cell on the far side, and this keeps the
// patch from spilling onto wall the gas does not touch. A cell open on both sides is
// bounded by the reach alone. Cells of an irregular layout are lopsided (the wedges round
// the pole of a ring mesh reach farther out than in), so the test is only for points past
// the edge: a point with samples all round it, within twice the reach, is wet.
bool inside_mirror(const double p[3], const double n[3], int best,
                   const std::vector<Candidate>& candidates) {
    const double* x = candidates[best].q;
    const double r[3] = {p[0] - x[0], p[1] - x[1], p[2] - x[2]};
    const double r_length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    // Directions to the samples near p in the triangle's plane (the feet lie in it), from r
    // and n x r; p is inside the samples' hull when no gap between them is half a turn.
    const double b[3] = {n[1] * r[2] - n[2] * r[1], n[2] * r[0] - n[0] * r[2],
                         n[0] * r[1] - n[1] * r[0]};
    const double near2 = 4 * candidates[best].reach2;
    static thread_local std::vector<double> angles;
    angles.clear();
    for (const Candidate& c : candidates) {
        const double d[3] = {c.q[0] - p[0], c.q[1] - p[1], c.q[2] - p[2]};
        if (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] > near2) continue;
        angles.push_back(std::atan2(d[0] * b[0] + d[1] * b[1] + d[2] * b[2],
                                    d[0] * r[0] + d[1] * r[1] + d[2] * r[2]));
    }
    if (angles.size() >= 3) {
        std::sort(angles.begin(), angles.end());
        double gap = angles.front() + 2 * pi - angles.back();
        for (std::size_t k = 1; k < angles.size(); ++k)
            gap = std::max(gap, angles[k] - angles[k - 1]);
        if (gap < 0.95 * pi) return true;
    }
    double extent = 1e300;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        if (static_cast<int>(k) == best) continue;
        const double v[3] = {candidates[k].q[0] - x[0], candidates[k].q[1] - x[1],
                             candidates[k].q[2] - x[2]};
        double behind = -(v[0] * r[0] + v[1] * r[1] + v[2] * r[2]);
        if (behind <= 0) continue;
        // Distance from the sample, along -r, to the bisector with sample k.
        double e = (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) * r_length / (2 * behind);
        extent = std::min(extent, e);
    }
    return extent == 1e300 || r_length <= (1 + mirror_margin) * extent;
}

// Quadrature points of triangle t to their nearest candidates; pairs for the samples that
// took any, and the triangle's wetted area.
void assign_points(int t, double search, std::vector<Candidate>& candidates) {
    const Triangle& tri = triangle_table[t];
    const int level = quadrature_level[t];
    if (level == 0 || !(triangle_area[t] > 0)) return;
    const Vertex& v0 = vertex_table[tri.vert[0]];
    const Vertex& v1 = vertex_table[tri.vert[1]];
    const Vertex& v2 = vertex_table[tri.vert[2]];
    const double p0[3] = {v0.x, v0.y, v0.z};
    const double e1[3] = {v1.x - v0.x, v1.y - v0.y, v1.z - v0.z};
    const double e2[3] = {v2.x - v0.x, v2.y - v0.y, v2.z - v0.z};
    double n[3];
    triangle_normal(tri, n);
    const TriangleGeometry& geo = triangle_geometry[t];
    const double p1[3] = {v1.x, v1.y, v1.z}, p2[3] = {v2.x, v2.y, v2.z};
    int range[3][2];
    for (int a = 0; a < 3; ++a) {
        double lo = std::min({p0[a], p1[a], p2[a]}), hi = std::max({p0[a], p1[a], p2[a]});
        double from = std::floor((lo - search - grid.origin[a]) / grid.cell);
        double to = std::floor((hi + search - grid.origin[a]) / grid.cell);
        if (to < 0 || from > grid.dims[a] - 1) return;
        range[a][0] = static_cast<int>(std::max(from, 0.0));
        range[a][1] = static_cast<int>(std::min(to, double(grid.dims[a] - 1)));
    }
    const double tolerance = settings.tolerance;
    const int rule = settings.enforce_boundID_match;
    const double reach_limit = search + geo.radius;
    candidates.clear();
    for (int z = range[2][0]; z <= range[2][1]; ++z)
        for (int y = range[1][0]; y <= range[1][1]; ++y) {
            std::size_t row = (static_cast<std::size_t>(z) * grid.dims[1] + y) * grid.dims[0];
            int first = grid.start[row + range[0][0]], last = grid.start[row + range[0][1] + 1];
            for (int k = first; k < last; ++k) {
                int s = grid.items[k];
                const CellDataPoint& sample = sample_pool[s];
                if (!boundary_allowed(rule, sample.bound_id, geo.boundary_id)) continue;
                const double* x = sample.position;
                double offset = (x[0] - p0[0]) * n[0] + (x[1] - p0[1]) * n[1] + (x[2] - p0[2]) * n[2];
                if (std::fabs(offset) > tolerance) continue;
                Candidate c;
                for (int a = 0; a < 3; ++a) c.q[a] = x[a] - offset * n[a];
                double dx = c.q[0] - geo.centroid[0], dy = c.q[1] - geo.centroid[1],
                       dz = c.q[2] - geo.centroid[2];
                if (dx * dx + dy * dy + dz * dz > reach_limit * reach_limit) continue;
                double reach = sample_reach(sample.area);
                c.reach2 = reach * reach;
                c.support2_inverse = 1 / (sample.area * (support_factor * support_factor));
                c.inner2 = sample.area * (inner_factor * inner_factor);
                c.overlap = 0;
                c.sample = s;
                candidates.push_back(c);
            }
        }
    if (candidates.empty()) return;
    const int count = static_cast<int>(candidates.size());
    static thread_local std::vector<double> kernel;
    kernel.resize(count);
    const double weight = triangle_area[t] / (level * level);
    const double step = 1.0 / (3.0 * level);
    double wetted = 0;
    // The centroids of the level*level equal sub-triangles: upward ones at (3i+1, 3k+1),
    // downward ones at (3i+2, 3k+2), in units of edge / (3 level).
    for (int up = 0; up < 2; ++up)
        for (int i = 0; i < level; ++i)
            for (int k = 0; k + i < level - up; ++k) {
                double u = (3 * i + 1 + up) * step, v = (3 * k + 1 + up) * step;
                double p[3];
                for (int a = 0; a < 3; ++a) p[a] = p0[a] + u * e1[a] + v * e2[a];
                int best = -1;
                double best2 = 1e300, total = 0;
                // One pass: the nearest sample, and the kernel of every sample covering p.
                for (int c = 0; c < count; ++c) {
                    const Candidate& k = candidates[c];
                    double dx = p[0] - k.q[0], dy = p[1] - k.q[1], dz = p[2] - k.q[2];
                    double d2 = dx * dx + dy * dy + dz * dz;
                    if (d2 < best2) {
                        best2 = d2;
                        best = c;
                    }
                    double x = d2 * k.support2_inverse;
                    double w = x < 1 ? (1 - x) * (1 - x) : 0.0;
                    kernel[c] = w;
                    total += w;
                }
                if (best2 > candidates[best].reach2) continue;  // dry
                if (best2 > candidates[best].inner2 && !inside_mirror(p, n, best, candidates))
                    continue;
                // Shared among the samples whose kernel covers the point, so a sample's
                // share changes smoothly from point to point and no pair is missed for want
                // of a point on the right side of a cell boundary.
                double share = weight / total;
                for (int c = 0; c < count; ++c) candidates[c].overlap += kernel[c] * share;
                wetted += weight;
            }
    if (wetted == 0) return;
    touched.push_back(t);
    triangle_wetted[t] = wetted;
    for (const Candidate& c : candidates)
        if (c.overlap > 0) pairs.push_back({c.sample, t, c.overlap});
}

// Alternate sweeps bring each fully wetted triangle's sum to its area, times the ratio of
// sample area to captured area of the samples that lie wholly inside the wetted region,
// and each sample's sum back to its area; the last sweep is the samples', so their sums are
// exact. Triangles at the edge of the wetted region are left free: they take what the
// samples there have over, so the demand stays local and the sweeps converge.
void balance(const std::vector<int>& mapped) {
    const std::size_t triangle_count = triangle_table.size();
    std::vector<double> row(triangle_count, 0.0), target(triangle_count, -1.0);
    std::vector<double> column(sample_count, 0.0);
    std::vector<char> at_edge(sample_count, 0);
    auto full = [](int t) { return triangle_wetted[t] >= triangle_area[t] * (1 - 1e-12); };
    auto slot = [](int t) {
        int id = triangle_geometry[t].boundary_id;
        return (id >= 0 && id < max_boundaries) ? id : max_boundaries;
    };
    // Factors first, then one multiplication per pair.
    auto sample_sweep = [&]() {
        for (int s : mapped) column[s] = 0;
        for (const Pair& p : pairs) column[p.sample] += p.weight;
        for (int s : mapped) column[s] = sample_pool[s].area / column[s];
        for (Pair& p : pairs) p.weight *= column[p.sample];
    };
    for (const Pair& p : pairs)
        if (!full(p.triangle)) at_edge[p.sample] = 1;
    std::vector<double> captured(max_boundaries + 1, 0.0), carried(max_boundaries + 1, 0.0);
    for (const Pair& p : pairs)
        if (!at_edge[p.sample]) captured[slot(p.triangle)] += p.weight;
    sample_sweep();
    for (const Pair& p : pairs)
        if (!at_edge[p.sample]) carried[slot(p.triangle)] += p.weight;
    int constrained = 0;
    for (int t : touched) {
        if (!full(t)) continue;
        int b = slot(t);
        target[t] = triangle_wetted[t] * (captured[b] > 0 ? carried[b] / captured[b] : 1.0);
        ++constrained;
    }
    if (constrained == 0) return;
    double worst_before = 1e300;
    for (int sweep = 0; sweep < balancing_sweeps; ++sweep) {
        for (int t : touched) row[t] = 0;
        for (const Pair& p : pairs) row[p.triangle] += p.weight;
        double worst = 0;
        for (int t : touched) {
            if (target[t] > 0) {
                worst = std::max(worst, std::fabs(row[t] / target[t] - 1));
                row[t] = target[t] / row[t];
            } else {
                row[t] = 1;  // at the edge of the wetted region: free
            }
        }
        // Far inside the accuracy the local values can have.
        if (worst < 1e-5) break;
        // Rows that cannot all be met (a triangle whose samples are claimed elsewhere) stall
        // the sweeps; once ten of them gain less than a tenth, more would only spread it.
        if (sweep % 10 == 0) {
            if (worst > 0.9 * worst_before) break;
            worst_before = worst;
        }
        for (Pair& p : pairs) p.weight *= row[p.triangle];
        sample_sweep();
    }
}

bool same_samples() {
    if (!weights_cached || cached_count != sample_count) return false;
    const double* c = cached_samples.data();
    for (int s = 0; s < sample_count; ++s, c += 5) {
        const CellDataPoint& sample = sample_pool[s];
        if (c[0] != sample.position[0] || c[1] != sample.position[1] ||
            c[2] != sample.position[2] || c[3] != sample.area || c[4] != sample.bound_id)
            return false;
    }
    return true;
}

void build_weights() {
    deposit_sample_triangle.assign(sample_count, no_triangle);
    deposit_sample_distance.assign(sample_count, -1.0);
    deposit_sample_weight.assign(sample_count, 0.0);
    for (int t : touched) triangle_wetted[t] = 0;
    pairs.clear();
    touched.clear();
    whole_count = 0;
    std::vector<int> mapped;
    double largest_reach = 0;
    std::vector<double> reaches;
    for (int s = 0; s < sample_count; ++s) {
        double distance = -1.0;
        int t = locate_point(sample_pool[s].position, sample_pool[s].bound_id, distance);
        deposit_sample_triangle[s] = t;
        deposit_sample_distance[s] = distance;
        // A sample without area is mapped but carries nothing.
        if (t < 0 || !(sample_pool[s].area > 0)) continue;
        mapped.push_back(s);
        double reach = sample_reach(sample_pool[s].area);
        largest_reach = std::max(largest_reach, reach);
        reaches.push_back(reach);
    }
    if (!levels_ready) choose_levels(mapped);
    if (!mapped.empty() && levels_ready) {
        // Samples farther off the wall than the largest reach are found only through the
        // triangle they project onto; that keeps the search local.
        double search = largest_reach * (support_factor / reach_factor) +
                        std::min(settings.tolerance, largest_reach);
        build_grid(mapped, 2 * median(reaches));
        std::vector<Candidate> candidates;
        int triangle_count = static_cast<int>(triangle_table.size());
        for (int t = 0; t < triangle_count; ++t) assign_points(t, search, candidates);
    }
    // A sample no point went to (a triangle much larger than the sample) goes whole onto
    // the triangle it projects onto.
    std::vector<double> taken(sample_count, 0.0);
    for (const Pair& p : pairs) taken[p.sample] += p.weight;
    for (int s : mapped) {
        if (taken[s] > 0) continue;
        int t = deposit_sample_triangle[s];
        pairs.push_back({s, t, sample_pool[s].area});
        ++whole_count;
        if (triangle_wetted[t] == 0) touched.push_back(t);
        triangle_wetted[t] = std::min(triangle_area[t], triangle_wetted[t] + sample_pool[s].area);
    }
    balance(mapped);
    report_triangle_of = deposit_sample_triangle;
    std::vector<double> largest(sample_count, 0.0);
    for (const Pair& p : pairs)
        if (p.weight > largest[p.sample]) {
            largest[p.sample] = p.weight;
            report_triangle_of[p.sample] = p.triangle;
        }
    largest_weight_error = 0;
    for (const Pair& p : pairs) deposit_sample_weight[p.sample] += p.weight;
    for (int s : mapped) {
        double area = sample_pool[s].area;
        double error = area != 0 ? std::fabs(deposit_sample_weight[s] / area - 1) : 0.0;
        largest_weight_error = std::max(largest_weight_error, error);
    }
    for (const Pair& p : pairs)
        triangle_reach[p.triangle] =
            std::max(triangle_reach[p.triangle], sample_reach(sample_pool[p.sample].area));
    cached_samples.resize(5 * static_cast<std::size_t>(sample_count));
    double* c = cached_samples.data();
    for (int s = 0; s < sample_count; ++s, c += 5) {
        const CellDataPoint& sample = sample_pool[s];
        c[0] = sample.position[0];
        c[1] = sample.position[1];
        c[2] = sample.position[2];
        c[3] = sample.area;
        c[4] = sample.bound_id;
    }
    cached_count = sample_count;
    weights_cached = true;
}

// h and q as the settings choose them, h limited with the same warning as the hit mapping.
void limit_htc(double time, const std::string& time_unit) {
    sample_htc.resize(sample_count);
    bool convective = settings.use_convective_ht == 1;
    for (int s = 0; s < sample_count; ++s) {
        const CellDataPoint& sample = sample_pool[s];
        double h = htc_of_sample(s);
        if (deposit_sample_triangle[s] >= 0 && h > settings.max_htc) {
            say(convective ? "warning: setting max htc value to %f at time %f %s: htc_conv = %f, "
                             "area = %e, at %e %e %e \n"
                           : "warning: setting max htc value to %f at time %f %s: htc = %f, "
                             "area = %e, at %e %e %e \n",
                settings.max_htc, time, time_unit.c_str(), h, sample.area, sample.position[0],
                sample.position[1], sample.position[2]);
            h = settings.max_htc;
        }
        sample_htc[s] = h;
    }
}

void clear_step_sums() {
    for (int t : touched) {
        deposit_step[t] = DepositSums{};
        double* extra = deposit_step_extra.data() + t * extra_names.size();
        for (std::size_t k = 0; k < extra_names.size(); ++k) extra[k] = 0;
    }
}

// Coverage (deposited over wetted area) of wetted triangles: least, largest and mean.
struct CoverageTally {
    double least = 1e300, largest = 0, sum = 0;
    int count = 0;

    void add(const DepositSums& sums) {
        if (!(sums.wetted > 0)) return;
        double coverage = sums.weight / sums.wetted;
        least = std::min(least, coverage);
        largest = std::max(largest, coverage);
        sum += coverage;
        ++count;
    }
    void store(DepositFigures& f) const {
        f.coverage_min = count ? least : 0;
        f.coverage_max = largest;
        f.coverage_mean = count ? sum / count : 0;
    }
};

void step_figures() {
    DepositFigures& f = deposit_step_figures;
    f = DepositFigures{};
    f.boundary.assign(max_boundaries, DepositBoundary{});
    f.steps = 1;
    f.whole = whole_count;
    f.max_weight_error = largest_weight_error;
    for (int s = 0; s < sample_count; ++s) {
        const CellDataPoint& sample = sample_pool[s];
        DepositBoundary& b = f.boundary[sample.bound_id];
        double q = flux_of_sample(s);
        if (deposit_sample_triangle[s] < 0) {
            ++f.unmapped;
            if (deposit_sample_triangle[s] == refused_for_boundary_id) ++f.refused;
            ++b.unmapped;
            b.unmapped_area += sample.area;
            b.unmapped_flux_abs += std::fabs(q * sample.area);
            continue;
        }
        ++f.mapped;
        ++b.mapped;
        if (sample_htc[s] == 0) ++f.zero_htc;
        f.max_distance = std::max(f.max_distance, deposit_sample_distance[s]);
        b.sample_area += sample.area;
        b.sample_flux += q * sample.area;
        b.sample_flux_abs += std::fabs(q * sample.area);
        b.sample_htc += sample_htc[s] * sample.area;
    }
    for (const Pair& p : pairs) {
        const CellDataPoint& sample = sample_pool[p.sample];
        DepositBoundary& b = f.boundary[sample.bound_id];
        b.deposited_flux += p.weight * flux_of_sample(p.sample);
        b.deposited_htc += p.weight * sample_htc[p.sample];
    }
    CoverageTally coverage;
    for (int t : touched) {
        int id = triangle_geometry[t].boundary_id;
        const DepositSums& sums = deposit_step[t];
        if (id >= 0 && id < max_boundaries) f.boundary[id].wetted_area += sums.wetted;
        coverage.add(sums);
    }
    coverage.store(f);
}

void add_window_figures(double dt) {
    DepositFigures& w = deposit_window_figures;
    const DepositFigures& f = deposit_step_figures;
    bool first = w.steps == 0;
    if (w.boundary.empty()) w.boundary.assign(max_boundaries, DepositBoundary{});
    w.steps += 1;
    w.mapped += f.mapped;
    w.unmapped += f.unmapped;
    w.refused += f.refused;
    w.zero_htc += f.zero_htc;
    w.whole += f.whole;
    w.max_distance = std::max(w.max_distance, f.max_distance);
    w.max_weight_error = std::max(w.max_weight_error, f.max_weight_error);
    for (int id = 0; id < max_boundaries; ++id) {
        DepositBoundary& a = w.boundary[id];
        const DepositBoundary& b = f.boundary[id];
        a.sample_area += dt * b.sample_area;
        a.sample_flux += dt * b.sample_flux;
        a.sample_htc += dt * b.sample_htc;
        a.sample_flux_abs += dt * b.sample_flux_abs;
        a.deposited_flux += dt * b.deposited_flux;
        a.deposited_htc += dt * b.deposited_htc;
        a.unmapped_area += dt * b.unmapped_area;
        a.unmapped_flux_abs += dt * b.unmapped_flux_abs;
        a.mapped += b.mapped;
        a.unmapped += b.unmapped;
        a.wetted_area += dt * b.wetted_area;
        a.wetted_min = first ? b.wetted_area : std::min(a.wetted_min, b.wetted_area);
        a.wetted_max = first ? b.wetted_area : std::max(a.wetted_max, b.wetted_area);
    }
}

void write_step_files(double time, int dry_count) {
    if (settings.hit_location_output_files == 1) {
        int mapped = deposit_step_figures.mapped;
        OutFile file;
        open_point_file(file, format_string("detailedoutput/directhitpoints_%f.dat", time), mapped);
        int number = 1;
        for (int s = sample_count - 1; s >= 0; --s) {
            if (deposit_sample_triangle[s] < 0) continue;
            const double* p = sample_pool[s].position;
            out_format(file, "%d %e %e %e\n", number++, p[0], p[1], p[2]);
        }
        close_point_file(file);
        open_point_file(file, format_string("detailedoutput/cfd_datapoints_%f.dat", time),
                        sample_count);
        for (int s = 0; s < sample_count; ++s) {
            const double* p = sample_pool[s].position;
            out_format(file, "%d %e %e %e\n", s, p[0], p[1], p[2]);
        }
        close_point_file(file);
    }
    if (dry_count == 0) return;
    say("there are %i triangles without any deposit in this step\n", dry_count);
    OutFile file;
    open_point_file(file, format_string("detailedoutput/uninit_triangles_%f.dat", time),
                    dry_count);
    int number = 1;
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        if (deposit_step[t].weight > 0) continue;
        const double* c = triangle_geometry[t].centroid;
        out_format(file, "%d %e %e %e\n", number++, c[0], c[1], c[2]);
    }
    close_point_file(file);
}

// Every sample and every triangle with a deposit into the mapping report, whose sums are
// method-neutral: the samples with the columns used, the triangles with their step means.
void report_deposit_step() {
    for (int s = 0; s < sample_count; ++s) {
        const CellDataPoint& sample = sample_pool[s];
        report_sample(sample, report_triangle_of[s], flux_of_sample(s), sample_htc[s],
                      deposit_sample_distance[s]);
    }
    if (!report_ready()) return;
    for (int t : touched) {
        double area = triangle_table[t].area;
        if (!(area > 0)) continue;
        report_triangle_step(t, deposit_step[t].flux / area, deposit_step[t].htc / area);
    }
}

}  // namespace

void prepare_deposit() {
    std::size_t triangle_count = triangle_table.size();
    std::size_t extra_count = extra_names.size();
    deposit_step.assign(triangle_count, DepositSums{});
    deposit_window.assign(triangle_count, DepositSums{});
    deposit_step_extra.assign(triangle_count * extra_count, 0.0);
    deposit_window_extra.assign(triangle_count * extra_count, 0.0);
    triangle_area.resize(triangle_count);
    for (std::size_t t = 0; t < triangle_count; ++t) triangle_area[t] = heron_area(triangle_table[t]);
    quadrature_level.assign(triangle_count, 0);
    triangle_wetted.assign(triangle_count, 0.0);
    triangle_reach.assign(triangle_count, 0.0);
    levels_ready = false;
    weights_cached = false;
    cached_count = -1;
    pairs.clear();
    touched.clear();
    window_time = 0;
    deposit_step_figures = DepositFigures{};
    deposit_window_figures = DepositFigures{};
    gap_fill = GapFill{};
}

void deposit_samples(double time, const std::string& time_unit) {
    // The extra columns are known only once the first block's headings are read.
    std::size_t extra_count = extra_names.size();
    if (deposit_step_extra.size() != triangle_table.size() * extra_count) {
        deposit_step_extra.assign(triangle_table.size() * extra_count, 0.0);
        deposit_window_extra.assign(triangle_table.size() * extra_count, 0.0);
    }
    clear_step_sums();
    if (!same_samples()) build_weights();
    limit_htc(time, time_unit);
    for (const Pair& p : pairs) {
        const CellDataPoint& sample = sample_pool[p.sample];
        double w = p.weight, h = sample_htc[p.sample];
        DepositSums& sums = deposit_step[p.triangle];
        sums.htc += w * h;
        sums.fluid_temp_htc += w * h * sample.fluid_temp;
        sums.wall_temp_htc += w * h * sample.boundary_temp;
        sums.fluid_temp += w * sample.fluid_temp;
        sums.wall_temp += w * sample.boundary_temp;
        sums.flux += w * flux_of_sample(p.sample);
        sums.yplus += w * sample.yplus;
        sums.weight += w;
        const double* x = extra_of_sample(p.sample);
        double* extra = deposit_step_extra.data() + p.triangle * extra_count;
        for (std::size_t k = 0; k < extra_count; ++k) extra[k] += w * x[k];
    }
    for (int t : touched) deposit_step[t].wetted = triangle_wetted[t];
    report_deposit_step();
    step_figures();
    const DepositFigures& f = deposit_step_figures;
    double wetted = 0;
    for (int t : touched) wetted += triangle_wetted[t];
    say("deposited %i samples onto %i triangles (wetted area %e), %i samples unmapped\n",
        f.mapped, static_cast<int>(touched.size()), wetted, f.unmapped);
    step_counts = StepCounts{};
    step_counts.direct_hit_count = f.mapped;
    step_counts.direct_triangle_count = static_cast<int>(touched.size());
    step_counts.miss_count = f.unmapped;
    step_counts.boundary_blocked_count = f.refused;
    int dry_count = static_cast<int>(triangle_table.size() - touched.size());
    step_counts.empty_count = dry_count;
    write_step_files(time, dry_count);
}

int integrate_deposit(double time, double previous_time) {
    double dt = time - previous_time;
    std::size_t extra_count = extra_names.size();
    window_time += dt;
    for (int t : touched) {
        const DepositSums& s = deposit_step[t];
        DepositSums& w = deposit_window[t];
        w.htc += dt * s.htc;
        w.fluid_temp_htc += dt * s.fluid_temp_htc;
        w.wall_temp_htc += dt * s.wall_temp_htc;
        w.fluid_temp += dt * s.fluid_temp;
        w.wall_temp += dt * s.wall_temp;
        w.flux += dt * s.flux;
        w.yplus += dt * s.yplus;
        w.weight += dt * s.weight;
        w.wetted += dt * s.wetted;
        const double* step_extra = deposit_step_extra.data() + t * extra_count;
        double* window_extra = deposit_window_extra.data() + t * extra_count;
        for (std::size_t k = 0; k < extra_count; ++k) window_extra[k] += dt * step_extra[k];
    }
    add_window_figures(dt);
    return static_cast<int>(triangle_table.size() - touched.size());
}

namespace {

void finish_deposit_triangles() {
    std::size_t extra_count = extra_names.size();
    const double tau = window_time;
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        Triangle& tri = triangle_table[t];
        const DepositSums& w = deposit_window[t];
        double area = triangle_area[t];
        double exposure_time = area > 0 ? std::min(tau, w.wetted / area) : 0.0;
        tri.reach = triangle_reach[t];
        if (!(w.weight > 0) || !(exposure_time > 0) || !(tau > 0)) {
            tri.time_with_hits = 0;
            tri.time_without_hits = tau > 0 ? tau : 0;
            tri.fluid_temp = tri.boundary_temp = tri.flux = tri.htc = tri.yplus = 0;
            tri.area = 0;
            tri.initialized = 0;
            continue;
        }
        tri.area = area;
        tri.time_with_hits = exposure_time;
        tri.time_without_hits = tau - exposure_time;
        tri.htc = w.htc / (area * tau);
        tri.flux = w.flux / (area * tau);
        if (w.htc > 0) {
            tri.fluid_temp = w.fluid_temp_htc / w.htc;
            tri.boundary_temp = w.wall_temp_htc / w.htc;
        } else {
            tri.fluid_temp = w.fluid_temp / w.weight;
            tri.boundary_temp = w.wall_temp / w.weight;
        }
        tri.yplus = w.yplus / w.weight;
        const double* window_extra = deposit_window_extra.data() + t * extra_count;
        double* extra = extra_of_triangle(static_cast<int>(t));
        for (std::size_t k = 0; k < extra_count; ++k) extra[k] = window_extra[k] / w.weight;
        tri.initialized = 1;
    }
}

// Triangles no sample ever reached, on a boundary whose wetted area never varied, next to
// triangles wetted the whole time: slivers the deposit missed. They take the area-weighted
// mean of those neighbours, then the boundary is scaled back to its totals. A boundary
// whose wetted area varies (a liner under a piston) is never filled: its dry triangles are
// dry.
void fill_slivers() {
    const double tau = window_time;
    gap_fill = GapFill{};
    if (!(tau > 0)) return;
    const auto& boundaries = deposit_window_figures.boundary;
    auto static_boundary = [&](int id) {
        if (id < 0 || id >= max_boundaries || boundaries.empty()) return false;
        const DepositBoundary& b = boundaries[id];
        return b.wetted_min > 0 && b.wetted_max <= 1.05 * b.wetted_min;
    };
    auto whole_time = [&](int t) {
        return triangle_table[t].initialized == 1 &&
               triangle_table[t].time_with_hits >= tau * (1 - 1e-9);
    };
    std::size_t extra_count = extra_names.size();
    struct Fill {
        int triangle;
        double htc, flux, fluid_temp, wall_temp, yplus;
        std::vector<double> extra;
    };
    std::vector<Fill> fills;
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        const Triangle& tri = triangle_table[t];
        const TriangleGeometry& geo = triangle_geometry[t];
        if (tri.initialized == 1 || !static_boundary(geo.boundary_id)) continue;
        if (!(triangle_area[t] > 0)) continue;
        Fill fill{static_cast<int>(t), 0, 0, 0, 0, 0, std::vector<double>(extra_count, 0.0)};
        double area_sum = 0, htc_area = 0;
        for (int k = 0; k < 3; ++k) {
            int n = geo.neighbor[k];
            if (n < 0 || triangle_geometry[n].boundary_id != geo.boundary_id || !whole_time(n))
                continue;
            const Triangle& nt = triangle_table[n];
            double a = triangle_area[n];
            area_sum += a;
            htc_area += a * nt.htc;
            fill.htc += a * nt.htc;
            fill.flux += a * nt.flux;
            fill.fluid_temp += a * nt.htc * nt.fluid_temp;
            fill.wall_temp += a * nt.htc * nt.boundary_temp;
            fill.yplus += a * nt.yplus;
            const double* x = extra_of_triangle(n);
            for (std::size_t e = 0; e < extra_count; ++e) fill.extra[e] += a * x[e];
        }
        if (area_sum == 0) continue;
        fill.fluid_temp = htc_area > 0 ? fill.fluid_temp / htc_area : 0;
        fill.wall_temp = htc_area > 0 ? fill.wall_temp / htc_area : 0;
        if (htc_area == 0) {
            // No HTC anywhere near: the plain means of the neighbours' temperatures.
            for (int k = 0; k < 3; ++k) {
                int n = geo.neighbor[k];
                if (n < 0 || triangle_geometry[n].boundary_id != geo.boundary_id || !whole_time(n))
                    continue;
                fill.fluid_temp += triangle_area[n] * triangle_table[n].fluid_temp / area_sum;
                fill.wall_temp += triangle_area[n] * triangle_table[n].boundary_temp / area_sum;
            }
        }
        fill.htc /= area_sum;
        fill.flux /= area_sum;
        fill.yplus /= area_sum;
        for (double& x : fill.extra) x /= area_sum;
        fills.push_back(std::move(fill));
    }
    if (fills.empty()) return;
    // Totals per boundary before and after, to scale back.
    std::vector<double> htc_before(max_boundaries, 0.0), flux_before(max_boundaries, 0.0);
    std::vector<double> flux_abs(max_boundaries, 0.0), wetted(max_boundaries, 0.0);
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        const Triangle& tri = triangle_table[t];
        const int id = triangle_geometry[t].boundary_id;
        if (tri.initialized != 1 || !static_boundary(id)) continue;
        htc_before[id] += tri.htc * triangle_area[t];
        flux_before[id] += tri.flux * triangle_area[t];
        flux_abs[id] += std::fabs(tri.flux * triangle_area[t]);
        wetted[id] += triangle_area[t];
    }
    std::vector<double> htc_after = htc_before, flux_after = flux_before;
    std::vector<bool> filled_boundary(max_boundaries, false);
    for (const Fill& fill : fills) {
        Triangle& tri = triangle_table[fill.triangle];
        double area = triangle_area[fill.triangle];
        tri.initialized = 1;
        tri.area = area;
        tri.time_with_hits = tau;
        tri.time_without_hits = 0;
        tri.htc = fill.htc;
        tri.flux = fill.flux;
        tri.fluid_temp = fill.fluid_temp;
        tri.boundary_temp = fill.wall_temp;
        tri.yplus = fill.yplus;
        double* extra = extra_of_triangle(fill.triangle);
        for (std::size_t e = 0; e < extra_count; ++e) extra[e] = fill.extra[e];
        const int id = triangle_geometry[fill.triangle].boundary_id;
        htc_after[id] += fill.htc * area;
        flux_after[id] += fill.flux * area;
        filled_boundary[id] = true;
        ++gap_fill.triangles;
        gap_fill.area += area;
        gap_fill.flux_moved += fill.flux * area;
    }
    std::vector<double> htc_factor(max_boundaries, 1.0), flux_factor(max_boundaries, 1.0);
    for (int id = 0; id < max_boundaries; ++id) {
        if (!filled_boundary[id]) continue;
        gap_fill.wetted_area += wetted[id];
        gap_fill.flux_abs += flux_abs[id];
        if (htc_after[id] != 0) htc_factor[id] = htc_before[id] / htc_after[id];
        // A flux that sums to about nothing has no scale to keep.
        if (flux_after[id] != 0 && flux_before[id] * flux_after[id] > 0)
            flux_factor[id] = flux_before[id] / flux_after[id];
        if (std::fabs(htc_factor[id] - 1) > std::fabs(gap_fill.htc_factor - 1))
            gap_fill.htc_factor = htc_factor[id];
        if (std::fabs(flux_factor[id] - 1) > std::fabs(gap_fill.flux_factor - 1))
            gap_fill.flux_factor = flux_factor[id];
    }
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        Triangle& tri = triangle_table[t];
        const int id = triangle_geometry[t].boundary_id;
        if (tri.initialized != 1 || id < 0 || id >= max_boundaries || !filled_boundary[id])
            continue;
        tri.htc *= htc_factor[id];
        tri.flux *= flux_factor[id];
    }
}

void print_window_figures() {
    const DepositFigures& w = deposit_window_figures;
    say("\noverlap deposit over %d steps: %d samples mapped, %d unmapped (%d refused for "
        "boundary ID), %d with HTC 0, %d taken whole by one triangle\n",
        w.steps, w.mapped, w.unmapped, w.refused, w.zero_htc, w.whole);
    say("largest weight-sum error %.3e, largest mapping distance %e, coverage of wetted "
        "triangles %.4f to %.4f (mean %.4f)\n",
        w.max_weight_error, w.max_distance, w.coverage_min, w.coverage_max, w.coverage_mean);
    if (w.boundary.empty()) return;
    for (int id = 0; id < max_boundaries; ++id) {
        const DepositBoundary& b = w.boundary[id];
        if (b.mapped == 0 && b.unmapped == 0 && b.wetted_area == 0) continue;
        double flux_error = b.sample_flux_abs > 0
                                ? (b.deposited_flux - b.sample_flux) / b.sample_flux_abs : 0.0;
        double htc_error = b.sample_htc != 0
                               ? (b.deposited_htc - b.sample_htc) / std::fabs(b.sample_htc) : 0.0;
        double ratio = b.sample_area > 0 ? b.wetted_area / b.sample_area : 0.0;
        double unmapped_share = b.sample_area + b.unmapped_area > 0
                                    ? b.unmapped_area / (b.sample_area + b.unmapped_area) : 0.0;
        // Window means: the sums carry the step lengths.
        double per_time = window_time > 0 ? 1 / window_time : 0.0;
        say("boundary %d: mean q*A %e (conservation %.3e), mean h*A %e (conservation %.3e), "
            "area ratio %.4f, unmapped area share %.3e, wetted area %e to %e\n",
            id, b.sample_flux * per_time, flux_error, b.sample_htc * per_time, htc_error, ratio,
            unmapped_share, b.wetted_min, b.wetted_max);
    }
    if (gap_fill.triangles > 0)
        say("filled %d sliver triangles: %.3e of the wetted area, %.3e of the heat moved, "
            "rescaled by %.6f (h) and %.6f (q)\n",
            gap_fill.triangles, gap_fill.wetted_area > 0 ? gap_fill.area / gap_fill.wetted_area : 0.0,
            gap_fill.flux_abs > 0 ? std::fabs(gap_fill.flux_moved) / gap_fill.flux_abs : 0.0,
            gap_fill.htc_factor, gap_fill.flux_factor);
}

}  // namespace

namespace {

// Coverage of the wetted triangles over the window: deposited area over wetted area (1
// where the two meshes cover the same wall; their area ratio where they do not).
void window_coverage() {
    CoverageTally coverage;
    for (const DepositSums& sums : deposit_window) coverage.add(sums);
    coverage.store(deposit_window_figures);
}

}  // namespace

void finish_deposit() {
    window_coverage();
    finish_deposit_triangles();
    fill_slivers();
    uninitialized_triangles.clear();
    uninitialized_count = 0;
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        if (triangle_table[t].initialized == 1) continue;
        ++uninitialized_count;
        uninitialized_triangles.push_back(static_cast<int>(t));
    }
    finish_vertices();
    print_window_figures();
}

void write_deposit_section(OutFile& file) {
    const DepositFigures& w = deposit_window_figures;
    out_text(file, "\nOverlap deposit (mapping_method 1)\n");
    out_format(file,
               "largest weight-sum error %.3e (each sample's weights sum to its area; limit "
               "1e-12), %d samples taken whole by one triangle\n",
               w.max_weight_error, w.whole);
    out_format(file, "coverage of the wetted triangles (deposited area / wetted area): %.4f to "
                     "%.4f, mean %.4f\n",
               w.coverage_min, w.coverage_max, w.coverage_mean);
    out_format(file, "%-8s %11s %11s %11s %11s %10s %9s %9s %9s %14s %14s\n", "boundary",
               "q_conserv", "ha_conserv", "unmap_ar_%", "unmap_q_%", "area_ratio", "expo_min",
               "expo_mean", "expo_max", "wetted_min_m2", "wetted_max_m2");
    if (w.boundary.empty()) return;
    // Exposure per structural boundary: the share of the window each triangle was wetted.
    std::vector<double> low(max_boundaries, 1e300), high(max_boundaries, -1.0);
    std::vector<double> exposed(max_boundaries, 0.0), area(max_boundaries, 0.0);
    for (std::size_t t = 0; t < triangle_table.size() && t < deposit_window.size(); ++t) {
        int id = triangle_geometry[t].boundary_id;
        double a = triangle_area[t];
        if (id < 0 || id >= max_boundaries || !(a > 0) || !(window_time > 0)) continue;
        double e = std::min(1.0, deposit_window[t].wetted / (a * window_time));
        low[id] = std::min(low[id], e);
        high[id] = std::max(high[id], e);
        exposed[id] += e * a;
        area[id] += a;
    }
    for (int id = 0; id < max_boundaries; ++id) {
        const DepositBoundary& b = w.boundary[id];
        if (b.mapped == 0 && b.unmapped == 0 && area[id] == 0) continue;
        auto relative = [](double mapped, double source, double scale) {
            return scale > 0 ? (mapped - source) / scale : 0.0;
        };
        double all_area = b.sample_area + b.unmapped_area;
        double all_heat = b.sample_flux_abs + b.unmapped_flux_abs;
        std::string expo = area[id] > 0 ? format_string("%9.4f %9.4f %9.4f", low[id],
                                                        exposed[id] / area[id], high[id])
                                        : format_string("%9s %9s %9s", "-", "-", "-");
        out_format(file, "%-8d %+11.3e %+11.3e %11.4f %11.4f %10.4f %s %14.6e %14.6e\n", id,
                   relative(b.deposited_flux, b.sample_flux, b.sample_flux_abs),
                   relative(b.deposited_htc, b.sample_htc, std::fabs(b.sample_htc)),
                   all_area > 0 ? 100 * b.unmapped_area / all_area : 0.0,
                   all_heat > 0 ? 100 * b.unmapped_flux_abs / all_heat : 0.0,
                   b.sample_area > 0 ? b.wetted_area / b.sample_area : 0.0, expo.c_str(),
                   b.wetted_min, b.wetted_max);
    }
    // The thresholds: conservation and weight sums are exact by construction, so anything
    // past round-off is a fault; an area ratio far from 1 is a scale or placement mistake.
    for (int id = 0; id < max_boundaries; ++id) {
        const DepositBoundary& b = w.boundary[id];
        if (b.mapped == 0) continue;
        std::string reasons;
        auto add = [&](const std::string& reason) {
            reasons += (reasons.empty() ? "" : "; ") + reason;
        };
        double q_error = b.sample_flux_abs > 0
                             ? std::fabs(b.deposited_flux - b.sample_flux) / b.sample_flux_abs
                             : 0.0;
        double h_error = b.sample_htc != 0
                             ? std::fabs(b.deposited_htc - b.sample_htc) / std::fabs(b.sample_htc)
                             : 0.0;
        if (q_error > 1e-9 || h_error > 1e-9) add("conservation off by more than 1e-9");
        double ratio = b.sample_area > 0 ? b.wetted_area / b.sample_area : 0.0;
        if (ratio < 0.9 || ratio > 1.1)
            add(format_string("area ratio %.4f outside 0.9 to 1.1: a scale or placement mistake?",
                              ratio));
        else if (ratio < 0.98 || ratio > 1.02)
            add(format_string("area ratio %.4f outside 0.98 to 1.02", ratio));
        double all_area = b.sample_area + b.unmapped_area;
        if (all_area > 0 && b.unmapped_area > 0.001 * all_area)
            add(format_string("%.2f %% of the sample area unmapped", 100 * b.unmapped_area / all_area));
        if (!reasons.empty()) out_format(file, "boundary %d: WARNING: %s\n", id, reasons.c_str());
    }
    if (w.max_weight_error > 1e-12)
        out_format(file, "WARNING: a sample's weights are off its area by %.3e\n",
                   w.max_weight_error);
    if (gap_fill.triangles == 0) {
        out_text(file, "gap fill: none\n");
    } else {
        out_format(file,
                   "gap fill: %d triangles, %.4f %% of their boundaries' wetted area, %.4f %% of "
                   "the heat moved, rescaled by %.6f (h) and %.6f (q)\n",
                   gap_fill.triangles,
                   gap_fill.wetted_area > 0 ? 100 * gap_fill.area / gap_fill.wetted_area : 0.0,
                   gap_fill.flux_abs > 0 ? 100 * std::fabs(gap_fill.flux_moved) / gap_fill.flux_abs
                                         : 0.0,
                   gap_fill.htc_factor, gap_fill.flux_factor);
    }
}
