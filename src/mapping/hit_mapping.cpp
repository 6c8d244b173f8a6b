// mapping/hit_mapping.cpp: direct hits, neighbour growth, empty triangles, the per-step
// diagnostic point files and the step summary.
#include "mapping/hit_mapping.h"

#include "config/options.h"
#include "mapping/report.h"
#include "mapping/transfer.h"
#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/system.h"
#include "surface/locate.h"

#include <cmath>

std::vector<TriangleStep> triangle_step;
std::vector<double> triangle_step_extra;
std::vector<int> grow_mark;
StepCounts step_counts;

namespace {

// What growth reads of a triangle, in one cache line: the search visits every triangle
// near every hit, and the full records are several times larger.
struct GrowthNode {
    double centroid[3];
    double radius;
    int neighbor[3];
    int boundary_id;
};
std::vector<GrowthNode> growth_nodes;
std::vector<double> grown_reach;  // of the last contribution; copied to the triangle after

// Sized once for the surface, so a step allocates nothing.
std::vector<int> hit_chain;        // directly hit triangles in order of first hit
std::vector<int> growth_queue;     // each triangle enters at most once per origin
std::vector<int> grown_triangles;  // in order of first growth
// Pool index of each sample that hit, in pool order; kept only for the hit file, it grows
// to the largest block once.
std::vector<int> hit_samples;

const char* const directory_name = "detailedoutput";

// The point files list the newest point first.
template <typename Position>
void write_newest_first(const std::string& name, const std::vector<int>& items,
                        Position position) {
    OutFile file;
    open_point_file(file, name, static_cast<int>(items.size()));
    int number = 1;
    for (auto it = items.rbegin(); it != items.rend(); ++it, ++number) {
        const double* p = position(*it);
        out_format(file, "%d %e %e %e\n", number, p[0], p[1], p[2]);
    }
    close_point_file(file);
}

std::string point_file_name(const char* pattern, double time) {
    return format_string(pattern, time);
}

void add_sample(int t, int s, double time, const std::string& time_unit) {
    const CellDataPoint& sample = sample_pool[s];
    TriangleStep& step = triangle_step[t];
    double area = sample.area;
    step.step_weight += area;
    bool convective = settings.use_convective_ht == 1;
    double h = convective ? sample.htc_conv : sample.htc;
    double q = convective ? sample.flux_conv : sample.flux;
    if (h > settings.max_htc) {
        say(convective ? "warning: setting max htc value to %f at time %f %s: htc_conv = %f, "
                         "area = %e, at %e %e %e \n"
                       : "warning: setting max htc value to %f at time %f %s: htc = %f, "
                         "area = %e, at %e %e %e \n",
            settings.max_htc, time, time_unit.c_str(), h, area, sample.position[0],
            sample.position[1], sample.position[2]);
        h = settings.max_htc;
    }
    step.step_flux += q * area;
    step.step_htc += h * area;
    step.step_fluid_temp += h * sample.fluid_temp * area;
    step.step_boundary_temp += h * sample.boundary_temp * area;
    step.step_yplus += sample.yplus * area;
    int extra_count = static_cast<int>(extra_names.size());
    double* step_extra = step_extra_of(t);
    const double* sample_extra_values = extra_of_sample(s);
    for (int k = 0; k < extra_count; ++k) step_extra[k] += sample_extra_values[k] * area;
}

// Temperatures were summed with the HTC as weight, everything else with the step weight.
void average_step(int t) {
    TriangleStep& step = triangle_step[t];
    step.step_fluid_temp /= step.step_htc;
    step.step_boundary_temp /= step.step_htc;
    step.step_flux /= step.step_weight;
    step.step_htc /= step.step_weight;
    step.step_yplus /= step.step_weight;
    int extra_count = static_cast<int>(extra_names.size());
    double* step_extra = step_extra_of(t);
    for (int k = 0; k < extra_count; ++k) step_extra[k] /= step.step_weight;
}

bool growth_refused(int mode, int origin_boundary, int neighbor_boundary) {
    if (mode == 1) return neighbor_boundary != origin_boundary;
    // Piston values stay on the piston; other walls may still grow onto it.
    if (mode == 2) return origin_boundary == 1 && neighbor_boundary != 1;
    return false;
}

// Beyond the limit, as sqrt(d2) > limit decides it: the square of the limit settles all but
// a band of rounding around it, where the root is taken as before.
inline bool beyond(double d2, double limit) {
    const double limit2 = limit * limit;
    if (limit >= 0 && limit2 > 1e-280 && limit2 < 1e280) {
        if (d2 <= limit2 * (1 - 1e-12)) return false;
        if (d2 >= limit2 * (1 + 1e-12)) return true;
    }
    return std::sqrt(d2) > limit;
}

void grow_from(int origin) {
    const GrowthNode* nodes = growth_nodes.data();
    const GrowthNode& o = nodes[origin];
    const TriangleStep& os = triangle_step[origin];
    const double origin_reach = triangle_table[origin].reach;
    const int mark = triangle_table[origin].index;
    const double* os_extra = step_extra_of(origin);
    const int extra_count = static_cast<int>(extra_names.size());
    // Local copies: the stores below could otherwise alias the settings for the compiler.
    const int mode = settings.enforce_boundID_match;
    const double grow_mult = settings.grow_mult;
    const double origin_centroid[3] = {o.centroid[0], o.centroid[1], o.centroid[2]};
    const int origin_boundary = o.boundary_id;
    int* marks = grow_mark.data();
    int* queue = growth_queue.data();
    int blocked = 0;
    marks[origin] = mark;
    int head = 0, tail = 0;
    queue[tail++] = origin;
    while (head < tail) {
        const GrowthNode& f = nodes[queue[head++]];
        for (int k = 0; k < 3; ++k) {
            const int n = f.neighbor[k];
            if (n < 0 || marks[n] == mark) continue;
            const GrowthNode& nt = nodes[n];
            // Not marked: a refused neighbour is looked at, and counted, again.
            if (growth_refused(mode, origin_boundary, nt.boundary_id)) {
                ++blocked;
                continue;
            }
            marks[n] = mark;
            // Measured from the origin, not from the triangle the search came through, so
            // the footprint does not creep across the surface.
            const double dx = nt.centroid[0] - origin_centroid[0];
            const double dy = nt.centroid[1] - origin_centroid[1];
            const double dz = nt.centroid[2] - origin_centroid[2];
            const double limit = (origin_reach + nt.radius) * grow_mult;
            if (beyond(dx * dx + dy * dy + dz * dz, limit)) continue;
            TriangleStep& ns = triangle_step[n];
            if (ns.hit_state != hit_directly) {
                if (ns.hit_state == no_data) {
                    ++step_counts.grown_count;
                    ns.hit_state = grown;
                    grown_triangles.push_back(n);
                }
                ns.step_fluid_temp += os.step_fluid_temp * os.step_htc;
                ns.step_boundary_temp += os.step_boundary_temp * os.step_htc;
                ns.step_flux += os.step_flux;
                ns.step_htc += os.step_htc;
                ns.step_yplus += os.step_yplus;
                double* ns_extra = step_extra_of(n);
                for (int e = 0; e < extra_count; ++e) ns_extra[e] += os_extra[e];
                grown_reach[n] = limit;
                ns.step_weight += 1;
            }
            queue[tail++] = n;
        }
    }
    step_counts.boundary_blocked_count += blocked;
}

}  // namespace

void open_point_file(OutFile& file, const std::string& name, int count) {
    if (!open_result_file(file, name, LineEnd::crlf)) {
        bool made = make_directory(directory_name);
        // The directory may be there already; only a second failure is final.
        if (!open_result_file(file, name, LineEnd::crlf)) {
            if (!made) {
                say("*************************************************************************** \n");
                say("********* Error -- Unable to create directory: %s ***************\n",
                    directory_name);
                say("*************************************************************************** \n");
            }
            fatal("could not create %s\n", name.c_str());
        }
    }
    out_format(file, "%d %d 0\n", count, count);
}

void close_point_file(OutFile& file) {
    std::string name = file.name;
    // A full disk must not look like a finished run.
    if (!try_close_out_file(file)) fatal("ERROR: could not write %s\n", name.c_str());
    // Each diagnostic file stands alone: it takes its name at once.
    commit_result_files();
}

namespace {

void size_extra_tables() {
    std::size_t extra_size = triangle_table.size() * extra_names.size();
    if (triangle_step_extra.size() != extra_size) triangle_step_extra.assign(extra_size, 0.0);
    if (triangle_extra.size() != extra_size) triangle_extra.assign(extra_size, 0.0);
    std::size_t vertex_extra_size = vertex_table.size() * extra_names.size();
    if (vertex_extra.size() != vertex_extra_size) vertex_extra.assign(vertex_extra_size, 0.0);
}

}  // namespace

void prepare_hit_mapping() {
    std::size_t triangle_count = triangle_table.size();
    if (triangle_step.size() != triangle_count) {
        triangle_step.assign(triangle_count, TriangleStep{});
        grow_mark.assign(triangle_count, -1);
        grown_reach.assign(triangle_count, 0.0);
        hit_chain.clear();
        hit_chain.reserve(triangle_count);
        grown_triangles.clear();
        grown_triangles.reserve(triangle_count);
        growth_queue.assign(triangle_count, 0);
    }
    growth_nodes.resize(triangle_count);
    for (std::size_t t = 0; t < triangle_count; ++t) {
        const Triangle& tri = triangle_table[t];
        GrowthNode& node = growth_nodes[t];
        for (int k = 0; k < 3; ++k) {
            node.centroid[k] = tri.centroid[k];
            node.neighbor[k] = tri.neighbor[k];
        }
        node.radius = tri.radius;
        node.boundary_id = tri.boundary_id;
    }
    size_extra_tables();
}

void clear_step() {
    if (triangle_step.size() != triangle_table.size()) prepare_hit_mapping();
    size_extra_tables();
    for (TriangleStep& step : triangle_step) step = TriangleStep{};
    for (int& mark : grow_mark) mark = -1;
    for (double& value : triangle_step_extra) value = 0;
    step_counts = StepCounts{};
    hit_chain.clear();
    grown_triangles.clear();
    hit_samples.clear();
    report_clear_step();
}

// The report takes locate_point's answers as they are.
static_assert(report_sample_missed == no_triangle &&
              report_sample_refused == refused_for_boundary_id);

namespace {

// Every sample goes into the report, mapped or not, with the columns add_sample uses.
void report_outcome(int s, int t, double distance) {
    const CellDataPoint& sample = sample_pool[s];
    bool convective = settings.use_convective_ht == 1;
    double h = convective ? sample.htc_conv : sample.htc;
    if (h > settings.max_htc) h = settings.max_htc;
    report_sample(sample, t, convective ? sample.flux_conv : sample.flux, h, distance);
}

}  // namespace

void record_hit(int s, int t, double distance, double time, const std::string& time_unit) {
    report_outcome(s, t, distance);
    if (t < 0) {
        ++step_counts.miss_count;
        if (t == refused_for_boundary_id) ++step_counts.boundary_blocked_count;
        return;
    }
    ++step_counts.direct_hit_count;
    if (settings.hit_location_output_files == 1) hit_samples.push_back(s);
    TriangleStep& step = triangle_step[t];
    if (step.hit_state != hit_directly) {
        ++step_counts.direct_triangle_count;
        hit_chain.push_back(t);
        step.hit_state = hit_directly;
    }
    add_sample(t, s, time, time_unit);
    Triangle& tri = triangle_table[t];
    if (distance > tri.max_hit_distance) tri.max_hit_distance = distance;
}

void locate_samples(double time, const std::string& time_unit) {
    for (int s = 0; s < sample_count; ++s) {
        const CellDataPoint& sample = sample_pool[s];
        double distance = -1.0;
        int t = locate_point(sample.position, sample.bound_id, distance);
        record_hit(s, t, distance, time, time_unit);
    }
    write_hit_points(time);
}

void write_hit_points(double time) {
    if (settings.hit_location_output_files == 1) {
        write_newest_first(point_file_name("detailedoutput/directhitpoints_%f.dat", time),
                           hit_samples, [](int s) { return sample_pool[s].position; });
    }
    hit_samples.clear();
}

void grow_from_hits(double time) {
    for (int t : hit_chain) {
        triangle_table[t].reach =
            std::sqrt(triangle_step[t].step_weight) + triangle_table[t].max_hit_distance;
        average_step(t);
    }
    // The most recently first-hit triangle grows first.
    for (auto it = hit_chain.rbegin(); it != hit_chain.rend(); ++it) grow_from(*it);
    for (int t : grown_triangles) {
        triangle_table[t].reach = grown_reach[t];
        average_step(t);
    }
    say("initialized %i triangles from %i direct hits, initialized %i triangles through "
        "neighbor triangles.\n",
        step_counts.direct_triangle_count, step_counts.direct_hit_count, step_counts.grown_count);
    if (settings.hit_location_output_files == 1) {
        write_newest_first(point_file_name("detailedoutput/grownpoints_%f.dat", time),
                           grown_triangles, [](int t) { return triangle_table[t].centroid; });
    }
}

void collect_empty(double time) {
    int triangle_count = static_cast<int>(triangle_table.size());
    int empty_count = 0;
    // A NaN average is not "0 or less" and so not empty.
    for (int t = 0; t < triangle_count; ++t)
        if (triangle_step[t].step_fluid_temp <= 0) ++empty_count;
    step_counts.empty_count = empty_count;
    if (settings.hit_location_output_files == 1) {
        OutFile file;
        open_point_file(file, point_file_name("detailedoutput/cfd_datapoints_%f.dat", time),
                        sample_count);
        for (int s = 0; s < sample_count; ++s) {
            const double* p = sample_pool[s].position;
            out_format(file, "%d %e %e %e\n", s, p[0], p[1], p[2]);
        }
        close_point_file(file);
    }
    if (empty_count == 0) return;
    say("there are %i triangles that are isolated from any initialized triangles, and "
        "therefore remain uninitialized\n",
        empty_count);
    OutFile file;
    open_point_file(file, point_file_name("detailedoutput/uninit_triangles_%f.dat", time),
                    empty_count);
    int number = 1;
    for (int t = 0; t < triangle_count; ++t) {
        if (!(triangle_step[t].step_fluid_temp <= 0)) continue;
        const double* c = triangle_table[t].centroid;
        out_format(file, "%d %e %e %e\n", number++, c[0], c[1], c[2]);
    }
    close_point_file(file);
}

void map_step(double time, const std::string& time_unit) {
    locate_samples(time, time_unit);
    grow_from_hits(time);
    collect_empty(time);
}

void report_step(double time, double previous_time, const std::string& time_unit,
                 int not_assigned_count) {
    say("there were %i triangles that were not assigned any heat flux information in this time "
        "step\n",
        not_assigned_count);
    say("there were %i cell datapoints that did not hit a triangle\n", step_counts.miss_count);
    if (step_counts.boundary_blocked_count > 0) {
        say("WARNING: mapping of %d triangles was prevented due to boundID difference\n",
            step_counts.boundary_blocked_count);
        say("with the enforce_boundID_match!=0, differences between the Kelvora surface and the "
            "mapping surface in boundary ID flagging will prevent data mapping\n");
    }
    say("this time interval was %e %s\n", time - previous_time, time_unit.c_str());
    say("\n");
    flush_say();
}
