// mapping/deposit.h: the overlap deposit (mapping_method 1). Each sample stands for its own
// patch of wall; a triangle takes from the samples whose patch covers it, each sample's
// weights sum to exactly its area, so no heat is made or lost; a triangle no sample covers in
// a step gets nothing for that step.
//
// How a step goes: every sample is projected with locate_point (a miss is unmapped, counted,
// never moved); quadrature points on each triangle go to the samples of a matching boundary
// within the normal tolerance: a point is dry when its nearest sample is farther than
// sqrt(area), or farther than the sample's cell reaches on the opposite side (the edge of
// the wetted region, a piston's top edge); a wet point is shared among the samples whose
// smooth kernel covers it. A sample's share O_ij becomes weights W_ij = a_i O_ij / V_i; a
// sample with no point goes whole onto the triangle it projects onto. Balancing sweeps bring
// each fully wetted triangle's sum to its area, ending on the samples so their sums stay
// exact. The triangles then take linear sums (h, h T, q, ...), nothing divided per step.
// While the samples stay where they were (a fixed wall), the weights are reused.
#pragma once

#include "platform/io.h"

#include <string>
#include <vector>

// Linear sums on one triangle: per step, and over the window with the step length as factor.
struct DepositSums {
    double htc = 0;              // sum W h
    double fluid_temp_htc = 0;   // sum W h T_fluid
    double wall_temp_htc = 0;    // sum W h T_wall
    double fluid_temp = 0;       // sum W T_fluid: the temperature where h is 0 throughout
    double wall_temp = 0;        // sum W T_wall
    double flux = 0;             // sum W q
    double yplus = 0;            // sum W y+
    double weight = 0;           // sum W
    double wetted = 0;           // wetted area (per step); over the window, wetted area x time
};

// Figures of the deposit, per step and over the window (window sums carry the step length).
struct DepositBoundary {
    double sample_area = 0, sample_flux = 0, sample_htc = 0, sample_flux_abs = 0;  // mapped
    double deposited_flux = 0, deposited_htc = 0;  // the same, summed from the weights
    double unmapped_area = 0, unmapped_flux_abs = 0;
    int mapped = 0, unmapped = 0;
    double wetted_area = 0;  // structural, on triangles of this boundary ID
    double wetted_min = 0, wetted_max = 0;  // over the steps (window figures only)
    double triangle_area = 0;
};

struct DepositFigures {
    int steps = 0;
    int mapped = 0, unmapped = 0, refused = 0, zero_htc = 0, whole = 0;
    double max_distance = 0;
    double max_weight_error = 0;  // max over samples |sum_j W_ij / a_i - 1|
    double coverage_min = 0, coverage_max = 0, coverage_mean = 0;  // wetted triangles, W/wet
    std::vector<DepositBoundary> boundary;  // by boundary ID, max_boundaries entries
};

extern DepositFigures deposit_step_figures;    // the last step
extern DepositFigures deposit_window_figures;  // summed over the window

// After the window: what the sliver fill did.
struct GapFill {
    int triangles = 0;
    double area = 0, wetted_area = 0;
    double flux_moved = 0, flux_abs = 0;  // q A filled, and sum |q A| of those boundaries
    double htc_factor = 1, flux_factor = 1;  // the rescale, furthest from 1
};
extern GapFill gap_fill;

// Per triangle (indexed like triangle_table): this step's sums and the window's.
extern std::vector<DepositSums> deposit_step;
extern std::vector<DepositSums> deposit_window;
extern std::vector<double> deposit_step_extra;    // extra_names.size() per triangle
extern std::vector<double> deposit_window_extra;

// Per sample of the last step: the triangle it projects onto (or no_triangle /
// refused_for_boundary_id), the distance there, and the sum of its weights.
extern std::vector<int> deposit_sample_triangle;
extern std::vector<double> deposit_sample_distance;
extern std::vector<double> deposit_sample_weight;

// A new run: tables sized for the surface, sums and figures zeroed, no weights cached.
void prepare_deposit();
// The step's samples onto the surface (the sums of deposit_step), with the HTC limit and its
// warnings, the diagnostic files and the step's line of figures.
void deposit_samples(double time, const std::string& time_unit);
// Adds the step over time - previous_time; returns the triangles without any deposit.
int integrate_deposit(double time, double previous_time);
// After the last step: final triangle values, sliver fill, uninitialized list, vertices,
// and the window's figures on standard output.
void finish_deposit();
// The deposit's own checks, a section of the mapping report's text file: conservation, weight
// sums, unmapped share, coverage, area ratio, exposure per boundary and the gap fill.
void write_deposit_section(OutFile& file);
