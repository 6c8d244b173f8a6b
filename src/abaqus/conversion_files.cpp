// abaqus/conversion_files.cpp: "abaqus.dat" and "ABAQUS_elementlist.dat".
#include "abaqus/conversion_files.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/io.h"

#include <string>
#include <vector>

namespace {

void open_result(OutFile& file, const char* name) {
    if (!open_result_file(file, name, LineEnd::crlf))
        fatal("ERROR: %s file does not exist\n", name);
}

// A full disk must not pass for a finished conversion.
void close_result(OutFile& file) {
    std::string name = file.name;
    if (!try_close_out_file(file)) fatal("ERROR: could not write %s\n", name.c_str());
}

}  // namespace

void write_surface_file(const DeckSurface& surface) {
    const int verts = surface.vertex_count;
    const int made_vertices = static_cast<int>(surface.xyz.size() / 3);
    const int made_triangles = static_cast<int>(surface.element_number.size());
    OutFile file;
    open_result(file, "abaqus.dat");
    say("Numverts=%d, made=%d,Triangles=%d, made=%d\n", verts, made_vertices,
        surface.triangle_count, made_triangles);
    if (made_triangles > 0) out_format(file, "%d   %d   %d\n", verts, verts, made_triangles);
    else out_format(file, "%d   %d   1\n", verts, verts);
    const std::vector<double>& xyz = surface.xyz;
    for (int v = 0; v < made_vertices; ++v)
        out_format(file, "%d   %f   %f   %f\n", v + 1, xyz[3 * v], xyz[3 * v + 1], xyz[3 * v + 2]);
    const std::vector<int>& tv = surface.triangle_vertices;
    for (int t = 0; t < made_triangles; ++t)
        out_format(file, "%d   %d   %d   %d\n", tv[3 * t], tv[3 * t + 1], tv[3 * t + 2],
                   surface.boundary_id[t]);
    if (made_triangles == 0) out_text(file, "1 2 3 0\n");
    close_result(file);
}

void write_element_list(const DeckSurface& surface) {
    const int made_triangles = static_cast<int>(surface.element_number.size());
    OutFile file;
    open_result(file, "ABAQUS_elementlist.dat");
    out_format(file, "%d\n", made_triangles);
    for (int t = 0; t < made_triangles; ++t) {
        int s = surface.surface_number[t];
        const char* name = s > 0 ? settings.surface_names[s - 1].c_str() : "";
        out_format(file, "%s.%d, P%d\n", name, surface.element_number[t], surface.face_number[t]);
    }
    close_result(file);
}
