// tests/mapping/mapping_test_tables.h: hand-built surfaces and samples for the mapping tests.
#pragma once

#include "config/options.h"
#include "mapping/hit_mapping.h"
#include "mapping/time_window.h"
#include "mapping/transfer.h"
#include "surface/surface.h"

#include <cmath>

// A fresh run state: no surface, no samples, no extra columns, default settings.
inline void reset_mapping_tables() {
    settings = MapSettings{};
    settings.max_htc = 1e9;
    settings.end_time = 1e9;
    triangle_table.clear();
    triangle_geometry.clear();
    vertex_table.clear();
    vertex_averages.clear();
    triangle_extra.clear();
    vertex_extra.clear();
    extra_names.clear();
    sample_pool.clear();
    sample_extra.clear();
    sample_count = 0;
    column_layout = ColumnLayout{};
    triangle_step.clear();
    triangle_step_extra.clear();
    reset_time_window();
}

// A chain of triangles: centroid i of `centroid_x` at (x, 0, 0), neighbours i-1 and i+1,
// all of one radius. Only what growth reads is filled.
inline void make_strip(const std::vector<double>& centroid_x, double radius) {
    int count = static_cast<int>(centroid_x.size());
    triangle_table.assign(count, Triangle{});
    triangle_geometry.assign(count, TriangleGeometry{});
    for (int i = 0; i < count; ++i) {
        TriangleGeometry& tri = triangle_geometry[i];
        tri.centroid[0] = centroid_x[i];
        tri.radius = radius;
        tri.neighbor[0] = i > 0 ? i - 1 : -1;
        tri.neighbor[1] = i + 1 < count ? i + 1 : -1;
        tri.neighbor[2] = -1;
    }
    clear_step();
}

// The convective columns as the transfer reader leaves them: FLUX_CONV and HTC_CONV, the two
// additional columns. Before the step tables are sized (make_strip, clear_step).
inline void use_convective_columns() {
    settings.use_convective_ht = 1;
    extra_names = {"FLUX_CONV", "HTC_CONV"};
    column_layout.extra_names = extra_names;
    column_layout.flux_conv_extra = 0;
    column_layout.htc_conv_extra = 1;
}
inline void set_convective_columns(int s, double flux_conv, double htc_conv) {
    extra_of_sample(s)[0] = flux_conv;
    extra_of_sample(s)[1] = htc_conv;
}

inline int add_sample(double htc, double fluid_temp, double area, double boundary_temp = 0,
                      double flux = 0) {
    CellDataPoint sample;
    sample.htc = htc;
    sample.fluid_temp = fluid_temp;
    sample.area = area;
    sample.boundary_temp = boundary_temp;
    sample.flux = flux;
    sample_pool.push_back(sample);
    sample_extra.resize(sample_pool.size() * extra_names.size());
    return sample_count++;
}
