// mapping/hit_mapping.h: one step's samples onto the surface: direct hits, their averages,
// growth to un-hit neighbours, the empty triangles, the diagnostic point files and the step
// summary.
#pragma once

#include "platform/io.h"
#include "surface/surface.h"

#include <cstdint>
#include <string>
#include <vector>

// Per-step fields of one triangle, indexed like triangle_table. During the step the value
// fields hold sums; after map_step they hold the step's averages.
struct TriangleStep {
    double step_fluid_temp = 0, step_boundary_temp = 0, step_flux = 0, step_htc = 0;
    double step_yplus = 0;
    double step_weight = 0;  // summed sample area (direct), or number of contributions (grown)
};

constexpr int no_data = 0, hit_directly = 1, grown = 2;

extern std::vector<TriangleStep> triangle_step;
// Per triangle, beside the step's values: no_data, hit_directly or grown.
extern std::vector<std::uint8_t> triangle_hit_state;
extern std::vector<double> triangle_step_extra;  // extra_names.size() values per triangle
inline double* step_extra_of(int t) {
    return triangle_step_extra.data() + t * extra_names.size();
}

struct StepCounts {
    int direct_hit_count = 0;       // samples that hit a triangle
    int direct_triangle_count = 0;  // triangles with a direct hit
    int grown_count = 0;
    int miss_count = 0;              // samples that hit nothing
    int boundary_blocked_count = 0;  // refusals for boundary ID, in location and growth
    int empty_count = 0;
};
extern StepCounts step_counts;
// Whether growth may gather its sums by a plan (see hit_mapping.cpp); the tests compare
// that with growth by searches alone, which false keeps it to.
extern bool growth_plans_allowed;

// Sizes the step tables for the surface: at the start of a run, once the surface is
// complete. Nothing is allocated per step after that (the extra-column tables follow the
// column count).
void prepare_hit_mapping();
// Gives back the memory of the step tables and of the answers kept between steps, once the
// last step is integrated: the final averages and the writers come after, and need none of
// it. The next step or run prepares them again.
void release_hit_mapping();
// Step start, for every block read: the per-step fields the last step touched and all
// counters cleared.
void clear_step();

// The whole step: locate_samples, grow_from_hits, collect_empty.
void map_step(double time, const std::string& time_unit);
// Its parts, for the benchmark's split.
void locate_samples(double time, const std::string& time_unit);  // hits, their file
// One sample's answer from locate_point (a triangle, or no_triangle /
// refused_for_boundary_id) added to the step; then the hit file once all are in.
void record_hit(int sample, int triangle, double distance, double time,
                const std::string& time_unit);
void write_hit_points(double time);
void grow_from_hits(double time);     // averages, growth, grown averages, their file
void collect_empty(double time);      // sample file, empty triangles and their file
void report_step(double time, double previous_time, const std::string& time_unit,
                 int not_assigned_count);

// Diagnostic point file "detailedoutput/...": creates the directory when needed; a file
// that cannot be created ends the run naming it.
// open_point_file writes its first line, "count count 0".
void open_point_file(OutFile& file, const std::string& name, int count);
void close_point_file(OutFile& file);
