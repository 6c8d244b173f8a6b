// output/map_files.cpp: the triangle map (per triangle, or per ABAQUS element face), the
// vertex map and their per-group variants.
#include "output/map_files.h"

#include "config/options.h"
#include "output/output_files.h"
#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/io.h"
#include "surface/surface.h"

#include <cassert>
#include <vector>

int printed_triangle_count = 0;

namespace {

void open_map_file(OutFile& file, const std::string& file_name) {
    if (!open_result_file(file, file_name, LineEnd::crlf))
        fatal("ERROR: could not create map file %s\n", file_name.c_str());
}

// A group with no boundaries selects nothing; otherwise only its listed IDs count.
bool in_group(const BoundaryGroup& group, int boundary_id) {
    int count = static_cast<int>(group.boundary.size());
    if (group.numboundaries < count) count = group.numboundaries;
    for (int i = 0; i < count; ++i)
        if (group.boundary[i] == boundary_id) return true;
    return false;
}

const BoundaryGroup* selected_group(const std::string& file_name, int dedicated, int group) {
    if (dedicated != 1) return nullptr;
    if (group < 0 || group >= static_cast<int>(settings.boundary_groups.size()))
        fatal("ERROR: %s: boundary group %d does not exist\n", file_name.c_str(), group);
    return &settings.boundary_groups[group];
}

bool accepted(const BoundaryGroup* group, int boundary_id, int initialized) {
    if (group && (group->numboundaries < 1 || !in_group(*group, boundary_id))) return false;
    return initialized == 1;
}

void format_triangle_line(std::string& text, const OutFile& file, int t) {
    const Triangle& tri = triangle_table[t];
    const TriangleGeometry& geo = triangle_geometry[t];
    // "%d %e ... %e %d": a million lines read no format.
    const double values[11] = {geo.centroid[0], geo.centroid[1], geo.centroid[2], tri.area,
                               tri.boundary_temp, tri.flux, tri.htc, tri.fluid_temp, tri.yplus,
                               tri.time_with_hits, tri.time_with_hits + tri.time_without_hits};
    append_decimal(text, t);
    append_exponent_fields(text, values, 11, file.exponent_digits);
    append_exponent_fields(text, extra_of_triangle(t), extra_names.size(), file.exponent_digits);
    text.push_back(' ');
    append_decimal(text, geo.boundary_id);
    text.push_back('\n');
}

// Running sums of one element's accepted triangles.
struct ElementRun {
    int first = -1;  // triangle that names the line; -1 while no run is open
    int count = 0;
    double sum[7] = {0, 0, 0, 0, 0, 0, 0};
    std::vector<double> extra_sum;
};

void add_to_run(ElementRun& run, int t) {
    const Triangle& tri = triangle_table[t];
    if (run.first < 0) {
        run.first = t;
        run.count = 0;
        for (double& s : run.sum) s = 0;
        run.extra_sum.assign(extra_names.size(), 0.0);
    }
    ++run.count;
    double values[7] = {tri.boundary_temp, tri.flux, tri.htc, tri.fluid_temp, tri.yplus,
                        tri.time_with_hits, tri.time_with_hits + tri.time_without_hits};
    for (int i = 0; i < 7; ++i) run.sum[i] += values[i];
    const double* extra = extra_of_triangle(t);
    for (std::size_t k = 0; k < run.extra_sum.size(); ++k) run.extra_sum[k] += extra[k];
}

void write_run(OutFile& file, ElementRun& run) {
    if (run.first < 0) return;
    double n = run.count;
    out_format(file, "%d,F%d,%e,%e,%e,%e,%e,%e,%e", element_number[run.first],
               face_number[run.first], run.sum[0] / n, run.sum[1] / n, run.sum[2] / n,
               run.sum[3] / n, run.sum[4] / n, run.sum[5] / n, run.sum[6] / n);
    for (double s : run.extra_sum) out_format(file, ",%e", s / n);
    out_text(file, "\n");
    run.first = -1;
}

}  // namespace

int write_triangle_map(const std::string& file_name, const std::string& time_unit,
                       int dedicated, int group) {
    const BoundaryGroup* chosen = selected_group(file_name, dedicated, group);
    bool abaqus = settings.read_abaqus != 0;
    int triangle_count = static_cast<int>(triangle_table.size());
    if (abaqus && (static_cast<int>(element_number.size()) < triangle_count ||
                   static_cast<int>(face_number.size()) < triangle_count))
        fatal("ERROR: %s: the surface has %d triangles but only %d element numbers\n",
              file_name.c_str(), triangle_count, static_cast<int>(element_number.size()));

    assert(triangle_extra.size() >= triangle_table.size() * extra_names.size());

    OutFile file;
    open_map_file(file, file_name);
    const char* unit = time_unit.c_str();
    if (abaqus)
        out_format(file,
                   "element_num, face, BoundaryTemp(K), Flux(W/m^2), Htc(W/m^2/K), "
                   "FluidTemp(K), Yplus(-), timewithhits(%s), totaltime(%s)",
                   unit, unit);
    else
        out_format(file,
                   "tri_num #x(m) y(m) z(m) TriArea(m) BoundaryTemp(K) Flux(W/m^2) "
                   "Htc(W/m^2/K) FluidTemp(K) Yplus(-) timewithhits(%s) totaltime(%s)",
                   unit, unit);
    for (const std::string& name : extra_names) out_format(file, ", %s", name.c_str());
    out_text(file, abaqus ? "\n" : " BoundaryID\n");

    // An element face split into several triangles is one line: skipped triangles inside
    // it do not split it, so a run ends only at an accepted triangle of another element.
    ElementRun run;
    std::vector<int> lines;
    for (int t = 0; t < triangle_count; ++t) {
        if (!accepted(chosen, triangle_geometry[t].boundary_id, triangle_table[t].initialized))
            continue;
        ++printed_triangle_count;
        if (!abaqus) {
            lines.push_back(t);
            continue;
        }
        if (run.first >= 0 && element_number[run.first] != element_number[t])
            write_run(file, run);
        add_to_run(run, t);
    }
    if (abaqus) write_run(file, run);
    out_lines(file, static_cast<int>(lines.size()), [&](std::string& text, int k) {
        format_triangle_line(text, file, lines[k]);
    }, /*one_line_each=*/true);
    close_out_file(file);

    if (dedicated == 0)
        say("Of %d triangeles, printed results for %d initialized triangles\n", triangle_count,
            printed_triangle_count);
    return 0;
}

int write_vertex_map(const std::string& file_name, const std::string& time_unit,
                     int dedicated, int group) {
    const BoundaryGroup* chosen = selected_group(file_name, dedicated, group);
    assert(vertex_averages.size() == vertex_table.size());
    assert(vertex_extra.size() >= vertex_table.size() * extra_names.size());
    OutFile file;
    open_map_file(file, file_name);
    const char* unit = time_unit.c_str();
    out_format(file,
               "#vert_num x(m) y(m) z(m) BoundaryTemp(K) Flux(W/m^2) Htc(W/m^2/K) "
               "FluidTemp(K) Yplus(-) timewithhits(%s) totaltime(%s)",
               unit, unit);
    for (const std::string& name : extra_names) out_format(file, " %s", name.c_str());
    out_text(file, " SumAngle(deg) BoundaryID\n");

    int vertex_count = static_cast<int>(vertex_table.size());
    std::vector<int> lines;
    for (int v = 0; v < vertex_count; ++v)
        if (accepted(chosen, vertex_averages[v].boundary_id, vertex_averages[v].initialized))
            lines.push_back(v);
    out_lines(file, static_cast<int>(lines.size()), [&](std::string& text, int k) {
        const int v = lines[k];
        const Vertex& point = vertex_table[v];
        const VertexAverages& vert = vertex_averages[v];
        const double values[10] = {point.x, point.y, point.z, vert.boundary_temp, vert.flux,
                                   vert.htc, vert.fluid_temp, vert.yplus, vert.time_with_hits,
                                   vert.time_with_hits + vert.time_without_hits};
        append_decimal(text, v);
        append_exponent_fields(text, values, 10, file.exponent_digits);
        append_exponent_fields(text, extra_of_vertex(v), extra_names.size(), file.exponent_digits);
        // 3.141592654, not the library's pi: existing maps were written with it.
        text.push_back(' ');
        append_fixed(text, vert.angle_sum * 180.0 / pi_for_angles, 2);
        text.push_back(' ');
        append_decimal(text, vert.boundary_id);
        text.push_back('\n');
    }, /*one_line_each=*/true);
    close_out_file(file);
    return 0;
}
