// output/fieldview.cpp: the surface and its vertex values as an unstructured FieldView
// grid, ASCII (option below 0) or binary (above 0). Its file errors go to standard error
// with the system's text, as this writer has always reported them.
#include "output/output_files.h"
#include "output/viewers.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/format.h"
#include "surface/surface.h"

namespace {

constexpr std::int32_t fieldview_magic = 66051;
constexpr std::int32_t nodes_section = 1001, faces_section = 1002, elements_section = 1003,
                       variables_section = 1004;
// A file of one grid needs one volume element: a tetrahedron (type 1) on node 1, all four
// faces flagged as walls (7), type in the bits from 18 up.
constexpr std::int32_t tetrahedron_header = 1 << 18 | 7 | 7 << 3 | 7 << 6 | 7 << 9;

std::vector<std::string> variable_names() {
    std::vector<std::string> names = {"boundary_temp", "flux", "htc", "fluid_temp", "yplus"};
    names.insert(names.end(), extra_names.begin(), extra_names.end());
    return names;
}

void open_fieldview_file(OutFile& file, const char* name, LineEnd line_end) {
    if (!open_result_file(file, name, line_end))
        fatal_with_errno(format_string("Cannot open output file %s", name).c_str());
}

void close_fieldview_file(OutFile& file) {
    std::string name = file.name;
    if (!try_close_out_file(file))
        fatal_with_errno(format_string("Cannot close output file %s", name.c_str()).c_str());
}

void write_ascii() {
    OutFile file;
    open_fieldview_file(file, "quorvel_ascii.uns", LineEnd::crlf);
    std::vector<std::string> names = variable_names();
    int n = static_cast<int>(vertex_table.size());
    out_format(file, "FIELDVIEW %d %d\n", 3, 0);
    out_format(file, "Constants\n %f \t %f \t %f \t %f\n", 0.0, 0.0, 0.0, 0.0);
    out_format(file, "Grids %d\n", 1);
    out_format(file, "Boundary Table \t %d\n", 1);
    out_format(file, "%d \t %d \t %d \t %s \n", 1, 1, 0, "heat_transfer_boundary");
    out_format(file, "Variable Names \t %d\n", static_cast<int>(names.size()));
    for (const std::string& name : names) out_format(file, "%s\n", name.c_str());
    out_format(file, "Boundary Variable Names \t %d\n", 0);
    out_format(file, "Nodes \t %d \n", n);
    for (const Vertex& v : vertex_table) out_format(file, "%e %e %e \n", v.x, v.y, v.z);
    out_format(file, "Boundary Faces \t %d \n", static_cast<int>(triangle_table.size()));
    for (const Triangle& t : triangle_table)
        out_format(file, "%d %d %d %d %d\n", 1, 3, t.vert[0] + 1, t.vert[1] + 1, t.vert[2] + 1);
    // The placeholder sits on the first triangle's first vertex; a surface without
    // triangles has none, and node 1 serves.
    int node = triangle_table.empty() ? 1 : triangle_table[0].vert[0] + 1;
    out_text(file, "Elements\n");
    out_format(file, "%d %d \n %d %d %d %d\n", 1, 1, node, node, node, node);
    out_text(file, "Variables\n");
    for (std::size_t i = 0; i < names.size(); ++i)
        for (int v = 0; v < n; ++v)
            out_format(file, "%e \n", vertex_variable(v, static_cast<int>(i)));
    out_text(file, "Boundary Variables\n");
    close_fieldview_file(file);
}

void write_binary() {
    OutFile file;
    open_fieldview_file(file, "quorvel.uns", LineEnd::lf);
    std::vector<std::string> names = variable_names();
    int n = static_cast<int>(vertex_table.size());
    out_int32(file, fieldview_magic);
    out_name_record(file, "FIELDVIEW", '\0');
    out_int32(file, 3);  // version 3.0
    out_int32(file, 0);
    out_int32(file, 3);  // grid and results in one file
    out_int32(file, 0);
    out_float32(file, 1.0);  // constants: time, mach, alpha, reynolds
    out_float32(file, 0.0);
    out_float32(file, 0.0);
    out_float32(file, 0.0);
    out_int32(file, 1);  // grids
    out_int32(file, 1);  // boundary types
    out_int32(file, 1);
    out_int32(file, 0);
    out_name_record(file, "heat_transfer_boundary", '\0');
    out_int32(file, static_cast<std::int32_t>(names.size()));
    for (const std::string& name : names) out_name_record(file, name, '\0');
    out_int32(file, 0);  // boundary variables

    out_int32(file, nodes_section);
    out_int32(file, n);
    for (const Vertex& v : vertex_table) out_float32(file, v.x);
    for (const Vertex& v : vertex_table) out_float32(file, v.y);
    for (const Vertex& v : vertex_table) out_float32(file, v.z);

    out_int32(file, faces_section);
    out_int32(file, 1);
    out_int32(file, static_cast<std::int32_t>(triangle_table.size()));
    for (const Triangle& t : triangle_table) {
        for (int k = 0; k < 3; ++k) out_int32(file, t.vert[k] + 1);
        out_int32(file, 0);
    }

    out_int32(file, elements_section);
    out_int32(file, 1);  // tetrahedra, hexahedra, prisms, pyramids
    out_int32(file, 0);
    out_int32(file, 0);
    out_int32(file, 0);
    out_int32(file, tetrahedron_header);
    for (int k = 0; k < 4; ++k) out_int32(file, 1);

    out_int32(file, variables_section);
    for (std::size_t i = 0; i < names.size(); ++i)
        for (int v = 0; v < n; ++v) out_float32(file, vertex_variable(v, static_cast<int>(i)));
    close_fieldview_file(file);
}

}  // namespace

int write_fieldview() {
    if (settings.fieldview_outputfiles < 0) write_ascii();
    else if (settings.fieldview_outputfiles > 0) write_binary();
    return 0;
}
