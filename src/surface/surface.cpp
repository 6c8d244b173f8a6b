// surface/surface.cpp: the surface file reader, the vertex and triangle tables, topology
// (per-vertex triangle lists, neighbours) and the per-triangle geometry.
#include "surface/surface.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/io.h"
#include "platform/numbers.h"
#include "surface/coordinate_ops.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

std::vector<Vertex> vertex_table;
std::vector<Triangle> triangle_table;
std::vector<int> vertex_triangles;
std::vector<std::string> extra_names;
std::vector<double> triangle_extra;
std::vector<double> vertex_extra;
std::vector<int> element_number;
std::vector<int> face_number;
std::vector<int> surface_number;

int normalize(double vector[3]) {
    double length =
        std::sqrt(vector[0] * vector[0] + vector[1] * vector[1] + vector[2] * vector[2]);
    if (length == 0) return 1;
    vector[0] /= length;
    vector[1] /= length;
    vector[2] /= length;
    return 0;
}

namespace {

constexpr int shown_line_length = 80;  // of a refused line, in its message

// The first `count` words of the line, each wholly a number as "%i" reads it ("3x" would
// leave the line unread); false when one is missing or not one.
bool whole_integer_words(std::string_view rest, int count, std::string_view* words) {
    for (int k = 0; k < count; ++k)
        if (!next_word(rest, words[k]) || !is_whole_integer_any_base(words[k])) return false;
    return true;
}

int shown_length(std::string_view line) {
    return static_cast<int>(std::min<std::size_t>(line.size(), shown_line_length));
}

[[noreturn]] void refuse_line(const LineReader& in, const char* expected, std::string_view line) {
    fatal("ERROR: %s line %d: expected %s, found \"%.*s\"\n", in.name.c_str(), in.line_number,
          expected, shown_length(line), line.data());
}

[[noreturn]] void refuse_short_file(const LineReader& in, const char* what, int announced,
                                    int found) {
    fatal("ERROR: %s line %d: the header announces %d %s lines, the file ends after %d\n",
          in.name.c_str(), in.line_number + 1, announced, what, found);
}

// Vertex ID to vertex index, the later line winning. A dense table when the IDs are packed,
// as every writer of these files packs them; a sorted list when a huge max_vertex_id with
// few vertices would make the dense table a waste (or impossible).
struct IdTable {
    std::vector<int> dense;
    std::vector<std::pair<int, int>> sorted;  // (ID, index), one per ID
    bool use_dense = true;

    void build(const std::vector<int>& ids, int max_vertex_id) {
        std::int64_t slots = static_cast<std::int64_t>(max_vertex_id) + 1;
        use_dense = slots <= 16 * static_cast<std::int64_t>(ids.size()) + (1 << 20);
        if (use_dense) {
            dense.assign(static_cast<std::size_t>(slots), -1);
            for (std::size_t i = 0; i < ids.size(); ++i) dense[ids[i]] = static_cast<int>(i);
            return;
        }
        sorted.resize(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i) sorted[i] = {ids[i], static_cast<int>(i)};
        std::sort(sorted.begin(), sorted.end());
        // Of equal IDs keep the last line's index (the pair with the largest index).
        std::size_t out = 0;
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            if (out > 0 && sorted[out - 1].first == sorted[i].first)
                sorted[out - 1] = sorted[i];
            else
                sorted[out++] = sorted[i];
        }
        sorted.resize(out);
    }

    int find(int id) const {
        if (use_dense) return dense[id];
        auto it = std::lower_bound(sorted.begin(), sorted.end(), std::make_pair(id, -1));
        return (it != sorted.end() && it->first == id) ? it->second : -1;
    }
};

double distance(const double a[3], const double b[3]) {
    double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void position(int vertex, double p[3]) {
    const Vertex& v = vertex_table[vertex];
    p[0] = v.x;
    p[1] = v.y;
    p[2] = v.z;
}

// Interior angle between the edges from a corner to the two others: the arc tangent of
// |cross| over dot stays accurate for needles and near-flat triangles, where an arc cosine
// or arc sine loses digits or, for an obtuse corner, gives the supplement.
double angle_between(const double from[3], const double to_a[3], const double to_b[3]) {
    double a[3] = {to_a[0] - from[0], to_a[1] - from[1], to_a[2] - from[2]};
    double b[3] = {to_b[0] - from[0], to_b[1] - from[1], to_b[2] - from[2]};
    double cross[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                       a[0] * b[1] - a[1] * b[0]};
    double sine_part = std::sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]);
    double cosine_part = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    return std::atan2(sine_part, cosine_part);
}

// False, with the angles 0, for a triangle with an edge of length 0: no angle is defined
// there, and 0 keeps it out of every vertex average.
bool compute_corner_angles(Triangle& t) {
    double p[3][3];
    for (int k = 0; k < 3; ++k) position(t.vert[k], p[k]);
    if (distance(p[0], p[1]) == 0 || distance(p[1], p[2]) == 0 || distance(p[2], p[0]) == 0) {
        t.corner_angle[0] = t.corner_angle[1] = t.corner_angle[2] = 0;
        return false;
    }
    t.corner_angle[0] = angle_between(p[0], p[1], p[2]);
    t.corner_angle[1] = angle_between(p[1], p[2], p[0]);
    t.corner_angle[2] = angle_between(p[2], p[0], p[1]);
    return true;
}

void compute_geometry(Triangle& t) {
    double p[3][3];
    for (int k = 0; k < 3; ++k) position(t.vert[k], p[k]);
    // 0.3333333, not 1.0 / 3: map files written with this factor are what users diff against.
    for (int axis = 0; axis < 3; ++axis) {
        t.centroid[axis] = 0;
        for (int k = 0; k < 3; ++k) t.centroid[axis] += 0.3333333 * p[k][axis];
    }
    t.radius = std::max({distance(t.centroid, p[0]), distance(t.centroid, p[1]),
                         distance(t.centroid, p[2])});
    for (int axis = 0; axis < 3; ++axis) {
        t.edge1[axis] = p[1][axis] - p[0][axis];
        t.edge2[axis] = p[2][axis] - p[0][axis];
    }
    const double* e1 = t.edge1;
    const double* e2 = t.edge2;
    t.normal[0] = e1[1] * e2[2] - e1[2] * e2[1];
    t.normal[1] = e1[2] * e2[0] - e1[0] * e2[2];
    t.normal[2] = e1[0] * e2[1] - e1[1] * e2[0];
    normalize(t.normal);
    const double* n = t.normal;
    for (int k = 0; k < 3; ++k) {
        const double* from = p[k];
        const double* to = p[(k + 1) % 3];
        double d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
        t.edge_normal[k][0] = n[1] * d[2] - n[2] * d[1];
        t.edge_normal[k][1] = n[2] * d[0] - n[0] * d[2];
        t.edge_normal[k][2] = n[0] * d[1] - n[1] * d[0];
        normalize(t.edge_normal[k]);
    }
}

void build_vertex_lists() {
    int begin = 0;
    for (Vertex& v : vertex_table) {
        v.triangles_begin = begin;
        begin += v.tri_count;
        v.tri_count = 0;
    }
    vertex_triangles.assign(static_cast<std::size_t>(begin), 0);
    for (const Triangle& t : triangle_table)
        for (int k = 0; k < 3; ++k) {
            Vertex& v = vertex_table[t.vert[k]];
            vertex_triangles[v.triangles_begin + v.tri_count++] = t.index;
        }
}

// The neighbour across an edge is the lowest-indexed other triangle holding both of its end
// points, in either orientation; on an edge shared by three or more, the lowest of the others.
void find_neighbors() {
    for (Triangle& t : triangle_table) {
        for (int k = 0; k < 3; ++k) {
            int p = t.vert[k], q = t.vert[(k + 1) % 3];
            const Vertex& vp = vertex_table[p];
            t.neighbor[k] = -1;
            for (int n = 0; n < vp.tri_count; ++n) {
                int u = vertex_triangles[vp.triangles_begin + n];
                if (u == t.index) continue;
                const Triangle& other = triangle_table[u];
                int f = 0;
                while (f < 3 && other.vert[f] != p) ++f;
                if (f == 3) fatal("attached triangle does not share a common vertex\n");
                if (other.vert[(f + 1) % 3] == q || other.vert[(f + 2) % 3] == q) {
                    t.neighbor[k] = u;
                    break;
                }
            }
        }
    }
}

}  // namespace

void read_surface(const std::string& file_name) {
    LineReader in;
    if (!open_line_reader(in, file_name))
        fatal("ERROR: %s file does not exist\n", file_name.c_str());
    read_surface_from(in);
    close_line_reader(in);
}

void read_surface_from(LineReader& in) {
    const char* name = in.name.c_str();
    std::string_view line, words[4];
    const char* header_form = "the header \"largest-vertex-ID vertex-count triangle-count\"";
    if (!next_line(in, line))
        fatal("ERROR: %s line 1: expected %s, found the end of the file\n", name, header_form);
    if (!whole_integer_words(line, 3, words)) refuse_line(in, header_form, line);
    int max_vertex_id = read_int(words[0]);
    int vertex_count = read_int(words[1]);
    int triangle_count = read_int(words[2]);
    if (max_vertex_id < 0 || vertex_count < 0 || triangle_count < 0)
        fatal("ERROR: %s line 1: the header's largest vertex ID, vertex count and triangle count "
              "must not be negative, found %d %d %d\n",
              name, max_vertex_id, vertex_count, triangle_count);
    if (vertex_count == 0) fatal("ERROR: %s line 1: the surface has no vertex\n", name);
    say("Surface has %d verts and %d triangles\n", max_vertex_id, triangle_count);
    flush_say();

    // The tables grow with the lines actually read: a header announcing more than the file
    // holds must end in its message, not in an allocation of the announced size.
    constexpr int reserve_limit = 1 << 22;
    vertex_table.clear();
    triangle_table.clear();
    vertex_table.reserve(std::min(vertex_count, reserve_limit));
    std::vector<int> ids;
    ids.reserve(std::min(vertex_count, reserve_limit));
    const char* vertex_form = "a vertex line \"ID x y z\"";
    for (int i = 0; i < vertex_count; ++i) {
        if (!next_line(in, line)) refuse_short_file(in, "vertex", vertex_count, i);
        std::string_view rest = line;
        bool good = next_word(rest, words[0]) && is_whole_integer_any_base(words[0]);
        for (int k = 1; good && k < 4; ++k)
            good = next_word(rest, words[k]) && is_whole_real(words[k]);
        if (!good) refuse_line(in, vertex_form, line);
        int id = read_int_any_base(words[0]);
        if (id < 0 || id > max_vertex_id)
            fatal("ERROR: %s line %d: vertex ID %d is outside 0..%d\n", name, in.line_number, id,
                  max_vertex_id);
        ids.push_back(id);
        Vertex& v = vertex_table.emplace_back();
        v.index = i;
        v.x = read_real(words[1]);
        v.y = read_real(words[2]);
        v.z = read_real(words[3]);
        // A nan or inf vertex would silently keep its triangles from every sample.
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            fatal("ERROR: %s line %d: vertex coordinates must be finite numbers, found \"%.*s\"\n",
                  name, in.line_number, shown_length(line), line.data());
        apply_coordinate_operations(v.x, v.y, v.z);
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            fatal("ERROR: %s line %d: the vertex is no longer finite after the coordinate "
                  "operations (scale_xyz %e)\n",
                  name, in.line_number, settings.scale_xyz);
    }
    IdTable id_table;
    id_table.build(ids, max_vertex_id);
    ids = std::vector<int>();

    triangle_table.reserve(std::min(triangle_count, reserve_limit));
    const char* triangle_form = "a triangle line \"ID ID ID boundary-ID\"";
    for (int j = 0; j < triangle_count; ++j) {
        if (!next_line(in, line)) refuse_short_file(in, "triangle", triangle_count, j);
        if (!whole_integer_words(line, 4, words)) refuse_line(in, triangle_form, line);
        Triangle& t = triangle_table.emplace_back();
        t.index = j;
        for (int k = 0; k < 3; ++k) {
            int id = read_int_any_base(words[k]);
            if (id < 0 || id > max_vertex_id)
                fatal("ERROR: %s line %d: vertex ID %d is outside 0..%d\n", name,
                      in.line_number, id, max_vertex_id);
            int vertex = id_table.find(id);
            if (vertex < 0)
                fatal("ERROR: %s line %d: vertex ID %d is on no vertex line\n", name,
                      in.line_number, id);
            t.vert[k] = vertex;
            ++vertex_table[vertex].tri_count;
        }
        if (!compute_corner_angles(t))
            say("WARNING: %s line %d: triangle %d has an edge of length 0; its corner angles "
                "are set to 0 and it takes no sample\n",
                name, in.line_number, j);
        for (int k = 0; k < 3; ++k) {
            if (std::isnan(t.corner_angle[k]))
                say("nan found for vertex angle %d in triangle %d\n", k, j);
            if (t.corner_angle[k] > 1e10)
                say("inf found for vertex angle %d in triangle %d\n", k, j);
        }
        t.boundary_id = read_int_any_base(words[3]);
    }

    build_vertex_lists();
    find_neighbors();
    for (Triangle& t : triangle_table) compute_geometry(t);
}
