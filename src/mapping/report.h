// mapping/report.h: the mapping report: per step and per boundary ID, what the samples
// carried and what the surface received, so a user can check conservation, coverage and
// misses without a script of their own.
//
// It knows nothing of how samples reach triangles: a mapping method reports each sample's
// outcome (report_sample) and, per step, each triangle that holds data with its step flux and
// HTC (report_triangle_step); the run closes each step (report_end_step) and, once the final
// averages are formed, the window (report_finish_window), then writes the files.
#pragma once

#include "mapping/transfer.h"
#include "surface/surface.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Sums of one boundary over one step, or, in report_window, over the window (sample
// figures time-averaged, triangle figures from the final map).
struct BoundaryTally {
    long long samples = 0, mapped = 0, missed = 0, refused = 0;
    long long zero_htc = 0;       // samples whose HTC, after the max_htc limit, is 0
    long long zero_htc_lost = 0;  // of those mapped, the ones whose triangle got no data
    double sample_area = 0;       // sum of A over the samples
    double q_source = 0;          // sum of q*A over the samples
    double ha_source = 0;         // sum of h*A over the samples
    double q_mapped = 0;          // sum of flux*area over the triangles holding data
    double ha_mapped = 0;         // sum of htc*area over them
    double max_distance = 0;      // of the mapped samples
    double distance_sum = 0;
    // Only in report_window: the surface's side.
    long long triangles = 0, triangles_initialized = 0;
    double area = 0, area_initialized = 0;
};

struct StepRecord {
    double time = 0, interval = 0;
    std::vector<BoundaryTally> tally;  // by slot; slots added later count as empty
};

// Boundary IDs in order of discovery; slot_of_id maps an ID to its slot.
extern std::vector<int> report_ids;
extern std::map<int, int> report_slot_of_id;
// A bit per triangle (by index) for whether it holds data in the step in progress. What else
// the report needs of a triangle is on the surface: its slot is its boundary ID's, and its
// area, until the final averages, the Triangle's.
extern std::vector<std::uint64_t> report_data_bits;
extern std::vector<BoundaryTally> report_step_tally;  // by slot, the step in progress
extern std::vector<StepRecord> report_steps;          // the used steps, in order
extern std::vector<BoundaryTally> report_window;      // by slot, after report_finish_window
extern double report_window_time;                     // sum of the used steps' intervals

constexpr int report_sample_missed = -1, report_sample_refused = -2;

// Slot of a boundary ID, made on first sight.
int report_slot(int boundary_id);
extern int report_fast_slot[max_boundaries];  // slot + 1; 0 until the ID has a slot
inline int report_slot_of(int id) {
    int slot = static_cast<unsigned>(id) < static_cast<unsigned>(max_boundaries)
                   ? report_fast_slot[id] - 1
                   : -1;
    return slot >= 0 ? slot : report_slot(id);
}

// A new run: the surface's boundaries taken, each triangle's area set (Heron's formula, as
// the map prints it), every sum cleared. Must follow read_surface.
void report_start_run();
// Clears the step in progress (the mapping methods call it at each step start).
void report_clear_step();

// A mapped sample with HTC 0: its flux is lost when its triangle ends the step without data
// (its HTC-weighted temperature is 0/0), which report_end_step finds out.
void report_zero_htc_hit(int slot, int triangle);

// One sample of the step in progress: the triangle it landed on and the distance, or
// report_sample_missed / report_sample_refused. q and h are the columns the mapping uses,
// h already limited to max_htc.
inline void report_sample(const CellDataPoint& sample, int triangle, double q, double h,
                          double distance) {
    int slot = report_slot_of(sample.bound_id);
    BoundaryTally& b = report_step_tally[slot];
    ++b.samples;
    b.sample_area += sample.area;
    b.q_source += q * sample.area;
    b.ha_source += h * sample.area;
    if (h == 0) {
        ++b.zero_htc;
        if (triangle >= 0) report_zero_htc_hit(slot, triangle);
    }
    if (triangle >= 0) {
        ++b.mapped;
        b.distance_sum += distance;
        if (distance > b.max_distance) b.max_distance = distance;
    } else if (triangle == report_sample_refused) {
        ++b.refused;
    } else {
        ++b.missed;
    }
}

// A triangle that holds data in the step in progress, with its step-averaged flux and HTC.
inline void report_triangle_step(int t, double flux, double htc) {
    const double area = triangle_table[t].area;
    BoundaryTally& b = report_step_tally[report_slot_of(triangle_geometry[t].boundary_id)];
    b.q_mapped += flux * area;
    b.ha_mapped += htc * area;
    report_data_bits[static_cast<unsigned>(t) / 64] |= std::uint64_t{1} << (t % 64);
}
// True when report_triangle_step can be called: the tables follow the surface.
bool report_ready();

// Ends a used step of the given interval.
void report_end_step(double time, double interval);
// After the final triangle averages: the window's figures from the steps and the map.
void report_finish_window();

// The three files and the summary on standard output.
void write_report_files(const std::string& time_unit);
void print_report_summary();

// Names of the files.
extern const char* const report_csv_name;
extern const char* const report_text_name;
extern const char* const report_steps_name;

// 100 * (mapped / source - 1); NaN when the source is 0 or not known.
double report_error_pct(double mapped, double source);

// The checks of one boundary: empty when it passes, else the reasons, "; " between them.
std::string report_verdict(const BoundaryTally& window);
