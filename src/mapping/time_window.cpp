// mapping/time_window.cpp: step selection, time integration and the final averages.
#include "mapping/time_window.h"

#include "config/options.h"
#include "mapping/hit_mapping.h"
#include "mapping/report.h"
#include "platform/fatal.h"
#include "platform/threads.h"
#include "surface/surface.h"

#include <algorithm>
#include <cmath>
#include <vector>

bool first_step = true;
double previous_time = 0;
std::vector<int> uninitialized_triangles;
int uninitialized_count = 0;

namespace {

const char* const frame = "******************************************************************";

void framed(const char* reason, double time, const std::string& time_unit) {
    say("\n%s\n", frame);
    say(reason, time, time_unit.c_str());
    say("%s\n\n", frame);
}

double distance(const Vertex& a, const Vertex& b) {
    double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

}  // namespace

void reset_time_window() {
    first_step = true;
    previous_time = 0;
    uninitialized_triangles.clear();
    uninitialized_count = 0;
}

StepChoice select_step(double time, const std::string& time_unit) {
    // Until a block settles the start, each block's own time is where the window starts.
    if (first_step) previous_time = time;
    if (first_step && settings.startoption == 0) {
        framed("skipping time = %e %s because it is the first set of data.\n", time, time_unit);
        first_step = false;
        return StepChoice::skip;
    }
    // A restart file repeats times already read; they add nothing. The block at exactly
    // the last time read passes and counts with an interval of 0.
    if (previous_time > time) {
        framed("skipping time = %e %s because it is redundant\n", time, time_unit);
        return StepChoice::skip;
    }
    if (time < settings.start_time) {
        framed("skipping time = %e %s because it is before the time interval specified by the "
               "user\n",
               time, time_unit);
        previous_time = time;
        return StepChoice::skip;
    }
    if (time > settings.end_time) {
        framed("skipping time = %e %s because it is after the time interval specified by the "
               "user\n",
               time, time_unit);
        previous_time = time;
        return StepChoice::skip_and_end_file;
    }
    if (first_step && settings.startoption == 1) {
        framed("Using time = %e %s for first increment back to start time.\n", time, time_unit);
        first_step = false;
        previous_time = settings.start_time;
    }
    return StepChoice::use;
}

int integrate_step(double time) {
    double dt = time - previous_time;
    int extra_count = static_cast<int>(extra_names.size());
    int triangle_count = static_cast<int>(triangle_table.size());
    int not_assigned_count = 0;
    const bool report = report_ready();
    for (int t = 0; t < triangle_count; ++t) {
        Triangle& tri = triangle_table[t];
        const TriangleStep& step = triangle_step[t];
        if (step.step_fluid_temp > 0) {
            tri.time_with_hits += dt;
            tri.boundary_temp += dt * step.step_boundary_temp * step.step_htc;
            tri.fluid_temp += dt * step.step_fluid_temp * step.step_htc;
            tri.flux += dt * step.step_flux;
            tri.htc += dt * step.step_htc;
            tri.yplus += dt * step.step_yplus;
            double* extra = extra_of_triangle(t);
            const double* step_extra = step_extra_of(t);
            for (int k = 0; k < extra_count; ++k) extra[k] += dt * step_extra[k];
            if (report) report_triangle_step(t, step.step_flux, step.step_htc);
        } else {
            tri.time_without_hits += dt;
            ++not_assigned_count;
        }
    }
    return not_assigned_count;
}

void finish_triangles() {
    int extra_count = static_cast<int>(extra_names.size());
    int triangle_count = static_cast<int>(triangle_table.size());
    uninitialized_triangles.clear();
    uninitialized_count = 0;
    for (int t = 0; t < triangle_count; ++t) {
        Triangle& tri = triangle_table[t];
        if (tri.boundary_temp > 0) {
            double a = distance(vertex_table[tri.vert[1]], vertex_table[tri.vert[2]]);
            double b = distance(vertex_table[tri.vert[0]], vertex_table[tri.vert[2]]);
            double c = distance(vertex_table[tri.vert[0]], vertex_table[tri.vert[1]]);
            double s = (a + b + c) / 2;
            tri.area = std::sqrt(s * (s - a) * (s - b) * (s - c));
        } else {
            tri.area = 0;
        }
        if (tri.time_with_hits > 0) {
            tri.boundary_temp = tri.boundary_temp / tri.htc;
            tri.yplus /= tri.time_with_hits;
            double* extra = extra_of_triangle(t);
            for (int k = 0; k < extra_count; ++k) extra[k] /= tri.time_with_hits;
            tri.fluid_temp = tri.fluid_temp / tri.htc;
            double total_time = tri.time_with_hits + tri.time_without_hits;
            tri.flux /= total_time;
            tri.htc /= total_time;
            tri.initialized = 1;
        } else {
            // Only steps of no length can have added to the integral (0 times a value: -0,
            // or NaN for an infinite one): an uninitialized triangle keeps the 0 it always had.
            tri.fluid_temp = 0;
            tri.initialized = 0;
            ++uninitialized_count;
            uninitialized_triangles.push_back(t);
        }
    }
}

void finish_vertices() {
    int extra_count = static_cast<int>(extra_names.size());
    int triangle_count = static_cast<int>(triangle_table.size());
    int vertex_count = static_cast<int>(vertex_table.size());
    vertex_averages.assign(vertex_table.size(), VertexAverages{});
    vertex_extra.assign(vertex_table.size() * extra_names.size(), 0.0);
    // A vertex is initialized when any triangle using it is: it then has that triangle's
    // data and angle, so its averages are defined whatever its other triangles hold. Its
    // times then come from those triangles alone; an uninitialized neighbour's time, over
    // the initialized angles only, would make its total longer than the window.
    for (const Triangle& tri : triangle_table)
        if (tri.time_with_hits > 0)
            for (int j = 0; j < 3; ++j) vertex_averages[tri.vert[j]].initialized = 1;
    // The corner angles of a block of triangles on every worker; their sums into the
    // vertices on this thread, in triangle order.
    constexpr int block = 1 << 15;
    std::vector<double> angles(3 * static_cast<std::size_t>(std::min(block, triangle_count)));
    for (int t = 0; t < triangle_count; ++t) {
        const int in_block = t % block;
        if (in_block == 0) {
            const int size = std::min(block, triangle_count - t);
            parallel_for(size, 4096, [&](int begin, int end, int) {
                for (int k = begin; k < end; ++k) triangle_corner_angles(triangle_table[t + k], &angles[3 * k]);
            });
        }
        const Triangle& tri = triangle_table[t];
        for (int j = 0; j < 3; ++j) vertex_averages[tri.vert[j]].reach = 100;
        bool has_data = tri.time_with_hits > 0;
        const double* extra = extra_of_triangle(t);
        const double* corner_angle = &angles[3 * static_cast<std::size_t>(in_block)];
        for (int j = 0; j < 3; ++j) {
            VertexAverages& vertex = vertex_averages[tri.vert[j]];
            double w = corner_angle[j];
            if (!has_data) {
                if (!vertex.initialized) vertex.time_without_hits += w * tri.time_without_hits;
                continue;
            }
            vertex.time_with_hits += w * tri.time_with_hits;
            vertex.time_without_hits += w * tri.time_without_hits;
            vertex.angle_sum += w;
            vertex.boundary_temp += w * tri.htc * tri.boundary_temp;
            vertex.fluid_temp += w * tri.htc * tri.fluid_temp;
            vertex.flux += w * tri.flux;
            vertex.htc += w * tri.htc;
            vertex.yplus += w * tri.yplus;
            if (tri.reach > 0) vertex.reach = tri.reach;
            double* vertex_extra_values = extra_of_vertex(tri.vert[j]);
            for (int k = 0; k < extra_count; ++k) vertex_extra_values[k] += w * extra[k];
            vertex.boundary_id = triangle_geometry[t].boundary_id;
        }
    }
    for (int v = 0; v < vertex_count; ++v) {
        VertexAverages& vertex = vertex_averages[v];
        // No initialized triangle, or only angles of 0: nothing to average, and the
        // writers skip the uninitialized ones.
        if (vertex.angle_sum == 0) continue;
        vertex.time_with_hits /= vertex.angle_sum;
        vertex.time_without_hits /= vertex.angle_sum;
        vertex.boundary_temp /= vertex.htc;
        vertex.fluid_temp /= vertex.htc;
        vertex.flux /= vertex.angle_sum;
        vertex.htc /= vertex.angle_sum;
        vertex.yplus /= vertex.angle_sum;
        double* extra = extra_of_vertex(v);
        for (int k = 0; k < extra_count; ++k) extra[k] /= vertex.angle_sum;
    }
}
