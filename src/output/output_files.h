// output/output_files.h: what the writers share: the little-endian items of the binary
// viewer files, the vertex values of the viewer files and the triangles sorted into parts.
#pragma once

#include "platform/io.h"
#include "surface/surface.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Binary files hold 4-byte little-endian items, whatever this machine's byte order.
inline void out_int32(OutFile& file, std::int32_t value) {
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    unsigned char bytes[4] = {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                              static_cast<unsigned char>(bits >> 16),
                              static_cast<unsigned char>(bits >> 24)};
    out_bytes(file, bytes, 4);
}

// Rounded to nearest, as the conversion from double does in the default rounding mode.
inline void out_float32(OutFile& file, double value) {
    float single = static_cast<float>(value);
    std::uint32_t bits;
    std::memcpy(&bits, &single, 4);
    out_int32(file, static_cast<std::int32_t>(bits));
}

// An 80-byte name record: the text cut to 79 characters so a NUL always ends it, the
// rest as given in `filler` (blanks or NULs, by file kind).
inline void out_name_record(OutFile& file, const std::string& text, char filler) {
    char record[80];
    std::memset(record, filler, sizeof record);
    std::size_t n = text.size() < 79 ? text.size() : 79;
    std::memcpy(record, text.data(), n);
    record[n] = '\0';
    out_bytes(file, record, sizeof record);
}

// Viewer files give every vertex a value: an uninitialized one gets -1 in every variable.
// Position 0 boundary_temp, 1 flux, 2 htc, 3 fluid_temp, 4 yplus, 5 on the extras.
inline double vertex_variable(int v, int position) {
    const VertexAverages& vert = vertex_averages[v];
    if (vert.initialized != 1) return -1.0;
    switch (position) {
        case 0: return vert.boundary_temp;
        case 1: return vert.flux;
        case 2: return vert.htc;
        case 3: return vert.fluid_temp;
        case 4: return vert.yplus;
        default: return extra_of_vertex(v)[position - 5];
    }
}

// Triangles grouped by boundary ID 0..999, each group in index order; other IDs are in no
// part. One counting pass, so a surface of many parts costs no more than one of few.
struct BoundaryParts {
    static constexpr int max_boundary_id = 999;
    std::vector<int> begin;      // triangles of ID b: triangles[begin[b] .. begin[b + 1])
    std::vector<int> triangles;
    int count(int b) const { return begin[b + 1] - begin[b]; }
};

inline BoundaryParts sort_triangles_by_boundary() {
    BoundaryParts parts;
    parts.begin.assign(BoundaryParts::max_boundary_id + 2, 0);
    int n = static_cast<int>(triangle_table.size());
    for (int t = 0; t < n; ++t) {
        int b = triangle_geometry[t].boundary_id;
        if (b >= 0 && b <= BoundaryParts::max_boundary_id) ++parts.begin[b + 1];
    }
    for (int b = 0; b <= BoundaryParts::max_boundary_id; ++b) parts.begin[b + 1] += parts.begin[b];
    parts.triangles.resize(parts.begin.back());
    std::vector<int> next(parts.begin.begin(), parts.begin.end() - 1);
    for (int t = 0; t < n; ++t) {
        int b = triangle_geometry[t].boundary_id;
        if (b >= 0 && b <= BoundaryParts::max_boundary_id) parts.triangles[next[b]++] = t;
    }
    return parts;
}
