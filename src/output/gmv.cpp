// output/gmv.cpp: the GMV ASCII file of the surface and its vertex values.
#include "output/output_files.h"
#include "output/viewers.h"

#include "platform/fatal.h"
#include "surface/surface.h"

namespace {

// The GMV table has "dist" (the vertex's data footprint) after the five wall values; the
// extras follow it.
double gmv_value(int v, int position) {
    if (position < 5) return vertex_variable(v, position);
    if (vertex_averages[v].initialized != 1) return -1.0;
    if (position == 5) return vertex_averages[v].reach;
    return extra_of_vertex(v)[position - 6];
}

}  // namespace

int write_gmv() {
    const char* name = "quorvel.gmv";
    OutFile file;
    if (!open_result_file(file, name, LineEnd::crlf)) fatal("ERROR: could not create %s\n", name);
    out_text(file, "gmvinput ascii\n");
    out_text(file, "comments\n");
    out_text(file, "GMV file created by Quorvel utility\n");
    out_text(file, "Time-averaged CFD wall data mapped onto the surface vertices\n");
    out_text(file, "endcomm\n");

    int n = static_cast<int>(vertex_table.size());
    out_format(file, "nodes %d\n", n);
    for (const Vertex& v : vertex_table) out_format(file, "%e ", v.x);
    out_text(file, "\n");
    for (const Vertex& v : vertex_table) out_format(file, "%e ", v.y);
    out_text(file, "\n");
    for (const Vertex& v : vertex_table) out_format(file, "%e \n", v.z);
    out_text(file, "\n");

    out_format(file, "cells %d\n", static_cast<int>(triangle_table.size()));
    for (const Triangle& t : triangle_table)
        out_format(file, "tri 3 %d %d %d \n", t.vert[0] + 1, t.vert[1] + 1, t.vert[2] + 1);

    out_text(file, "variable\n");
    std::vector<std::string> names = {"boundary_temp", "flux", "htc", "fluid_temp", "yplus",
                                      "dist"};
    names.insert(names.end(), extra_names.begin(), extra_names.end());
    for (std::size_t i = 0; i < names.size(); ++i) {
        out_format(file, "%s 1 ", names[i].c_str());
        for (int v = 0; v < n; ++v) out_format(file, "%e ", gmv_value(v, static_cast<int>(i)));
        out_text(file, "\n");
    }
    out_text(file, "endvars\n");
    out_text(file, "endgmv\n");
    close_out_file(file);
    return 0;
}
