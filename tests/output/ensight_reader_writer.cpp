// Writes the EnSight ASCII or standard binary files of a small surface into the working
// directory, and "expected.txt" with the counts and values a reader should find there,
// for ensight_reader_check.py.
#include "config/options.h"
#include "output/viewers.h"
#include "surface/surface.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2 || (std::strcmp(argv[1], "ascii") != 0 && std::strcmp(argv[1], "binary") != 0)) {
        std::fprintf(stderr, "usage: ensight_reader_writer ascii|binary\n");
        return 2;
    }
    // A 5 x 5 grid of vertices (25: the binary reader needs 20 or more), two triangles a
    // cell, the cells of the left half on boundary 2, the right half on boundary 5 and the
    // top row on boundary 0.
    const int side = 5;
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            Vertex v;
            v.x = 0.125 * i;
            v.y = -0.25 * j;
            v.z = 0.01 * i * j;
            vertex_table.push_back(v);
            vertex_averages.emplace_back();
        }
    for (int j = 0; j + 1 < side; ++j)
        for (int i = 0; i + 1 < side; ++i) {
            int a = j * side + i;
            int boundary = j == 0 ? 0 : (i < 2 ? 2 : 5);
            Triangle t1, t2;
            t1.vert[0] = a, t1.vert[1] = a + 1, t1.vert[2] = a + side;
            t2.vert[0] = a + 1, t2.vert[1] = a + side + 1, t2.vert[2] = a + side;
            triangle_table.push_back(t1);
            triangle_table.push_back(t2);
            triangle_geometry.emplace_back().boundary_id = boundary;
            triangle_geometry.emplace_back().boundary_id = boundary;
        }
    extra_names = {"mach"};
    vertex_extra.assign(vertex_table.size(), 0.0);
    for (int v = 0; v < static_cast<int>(vertex_table.size()); ++v) {
        VertexAverages& vert = vertex_averages[v];
        vert.initialized = v % 7 == 3 ? 0 : 1;  // a few uninitialized: -1 in every file
        vert.boundary_temp = 300 + 1.5 * v;
        vert.flux = -2.0e5 + 1234.5 * v;
        vert.htc = 25 + 0.125 * v;
        vert.fluid_temp = 900 - 3.25 * v;
        vert.yplus = 0.001 * (v + 1);
        vertex_extra[v] = 0.05 * v;
    }

    settings.ensight_outputfiles = std::strcmp(argv[1], "ascii") == 0 ? 1 : 2;
    write_ensight();
    commit_result_files();

    std::FILE* out = std::fopen("expected.txt", "w");
    if (!out) return 1;
    std::fprintf(out, "nodes %zu\n", vertex_table.size());
    int counts[1000] = {0};
    for (const TriangleGeometry& t : triangle_geometry) ++counts[t.boundary_id];
    std::fprintf(out, "parts");
    for (int b = 0; b < 1000; ++b)
        if (counts[b] > 0) std::fprintf(out, " %d", counts[b]);
    std::fprintf(out, "\n");
    const char* names[] = {"boundary_temp", "flux", "htc", "fluid_temp", "yplus", "mach"};
    for (int k = 0; k < 6; ++k) {
        std::fprintf(out, "variable %s", names[k]);
        for (int v = 0; v < static_cast<int>(vertex_table.size()); ++v) {
            const VertexAverages& vert = vertex_averages[v];
            double values[] = {vert.boundary_temp, vert.flux, vert.htc, vert.fluid_temp,
                               vert.yplus, vertex_extra[v]};
            std::fprintf(out, " %.17g", vert.initialized == 1 ? values[k] : -1.0);
        }
        std::fprintf(out, "\n");
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
