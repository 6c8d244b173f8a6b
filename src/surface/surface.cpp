// surface/surface.cpp: the surface file reader, the vertex and triangle tables, topology
// (per-vertex triangle lists, neighbours) and the per-triangle geometry.
#include "surface/surface.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/io.h"
#include "platform/numbers.h"
#include "platform/system.h"
#include "surface/coordinate_ops.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <utility>

#include <sys/stat.h>

std::vector<Vertex> vertex_table;
std::vector<Triangle> triangle_table;
std::vector<TriangleGeometry> triangle_geometry;
std::vector<VertexAverages> vertex_averages;
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

// At most how many lines of a surface file the rest of the input holds: each takes at least
// four words and their blanks, "1 2 3 4", and a line end. Unknown for a pipe or other input
// of no size: 4M lines, after which the tables grow as lines come. Reserving touches no
// page, so a loose bound costs address space, not memory.
int lines_left_at_most(const LineReader& in) {
    constexpr int unknown = 1 << 22;
    constexpr std::uint64_t shortest_line = 8;
    std::uint64_t left = in.filled - in.start;
    if (in.descriptor >= 0) {
        struct stat status;
        if (::fstat(in.descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return unknown;
        std::uint64_t size = static_cast<std::uint64_t>(status.st_size);
        std::uint64_t offset = line_reader_offset(in);
        if (size < offset) return unknown;  // shrunk since it was read
        left = size - offset;
    }
    return static_cast<int>(std::min<std::uint64_t>(left / shortest_line + 1, INT_MAX));
}

template <typename Record>
void reserve_table(std::vector<Record>& table, int count) {
    table.reserve(static_cast<std::size_t>(count));
    advise_large_pages(table.data(), table.capacity() * sizeof(Record));
}

double distance(const double a[3], const double b[3]) {
    double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void corners_of(const Triangle& t, double p[3][3]) {
    for (int k = 0; k < 3; ++k) {
        const Vertex& v = vertex_table[t.vert[k]];
        p[k][0] = v.x;
        p[k][1] = v.y;
        p[k][2] = v.z;
    }
}

// The two parts of an interior angle between the edges from a corner to the two others:
// the arc tangent of |cross| over dot stays accurate for needles and near-flat triangles,
// where an arc cosine or arc sine loses digits or, for an obtuse corner, gives the supplement.
void angle_parts(const double from[3], const double to_a[3], const double to_b[3],
                 double& sine_part, double& cosine_part) {
    double a[3] = {to_a[0] - from[0], to_a[1] - from[1], to_a[2] - from[2]};
    double b[3] = {to_b[0] - from[0], to_b[1] - from[1], to_b[2] - from[2]};
    double cross[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                       a[0] * b[1] - a[1] * b[0]};
    sine_part = std::sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]);
    cosine_part = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

bool has_zero_edge(const double p[3][3]) {
    return distance(p[0], p[1]) == 0 || distance(p[1], p[2]) == 0 || distance(p[2], p[0]) == 0;
}

// Centroid and bounding radius.
void compute_geometry(TriangleGeometry& g, const double p[3][3]) {
    // 0.3333333, not 1.0 / 3: map files written with this factor are what users diff against.
    for (int axis = 0; axis < 3; ++axis) {
        g.centroid[axis] = 0;
        for (int k = 0; k < 3; ++k) g.centroid[axis] += 0.3333333 * p[k][axis];
    }
    g.radius = std::max({distance(g.centroid, p[0]), distance(g.centroid, p[1]),
                         distance(g.centroid, p[2])});
}

void normal_of(const double p[3][3], double normal[3]) {
    double e1[3], e2[3];
    for (int axis = 0; axis < 3; ++axis) {
        e1[axis] = p[1][axis] - p[0][axis];
        e2[axis] = p[2][axis] - p[0][axis];
    }
    normal[0] = e1[1] * e2[2] - e1[2] * e2[1];
    normal[1] = e1[2] * e2[0] - e1[0] * e2[2];
    normal[2] = e1[0] * e2[1] - e1[1] * e2[0];
    normalize(normal);
}

// Per-vertex lists of the triangles using each vertex, ascending (a triangle naming the
// vertex at two corners is listed twice, side by side): offsets[v] .. offsets[v + 1].
struct VertexLists {
    std::vector<int> offsets;
    std::vector<int> triangles;

    void build(const std::vector<Triangle>& table, std::size_t vertex_count) {
        offsets.assign(vertex_count + 1, 0);
        for (const Triangle& t : table)
            for (int k = 0; k < 3; ++k) ++offsets[t.vert[k] + 1];
        for (std::size_t v = 0; v < vertex_count; ++v) offsets[v + 1] += offsets[v];
        triangles.resize(3 * table.size());
        std::vector<int> fill(offsets.begin(), offsets.end() - 1);
        for (std::size_t t = 0; t < table.size(); ++t)
            for (int k = 0; k < 3; ++k) triangles[fill[table[t].vert[k]]++] = static_cast<int>(t);
    }
};

// The neighbour across an edge is the lowest-indexed other triangle holding both of its end
// points, in either orientation; on an edge shared by three or more, the lowest of the others.
// For an edge p-q that is the first other triangle in both vertices' ascending lists; for an
// edge whose two ends are one vertex, the first other one listed twice for it.
int neighbor_across(const VertexLists& lists, int t, int p, int q) {
    const int* a = lists.triangles.data() + lists.offsets[p];
    const int* a_end = lists.triangles.data() + lists.offsets[p + 1];
    if (p == q) {
        for (; a + 1 < a_end; ++a)
            if (a[0] == a[1] && a[0] != t) return a[0];
        return -1;
    }
    const int* b = lists.triangles.data() + lists.offsets[q];
    const int* b_end = lists.triangles.data() + lists.offsets[q + 1];
    while (a < a_end && b < b_end) {
        if (*a < *b) {
            ++a;
        } else if (*b < *a) {
            ++b;
        } else {
            if (*a != t) return *a;
            ++a;
            ++b;
        }
    }
    return -1;
}

void find_neighbors(std::size_t vertex_count) {
    VertexLists lists;
    lists.build(triangle_table, vertex_count);
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        const int* vert = triangle_table[t].vert;
        int* neighbor = triangle_geometry[t].neighbor;
        for (int k = 0; k < 3; ++k)
            neighbor[k] = neighbor_across(lists, static_cast<int>(t), vert[k], vert[(k + 1) % 3]);
    }
}

}  // namespace

void triangle_normal(const Triangle& triangle, double normal[3]) {
    double p[3][3];
    corners_of(triangle, p);
    normal_of(p, normal);
}

TriangleEdges triangle_edges(const Triangle& triangle) {
    double p[3][3];
    corners_of(triangle, p);
    double n[3];
    normal_of(p, n);
    TriangleEdges edges;
    for (int axis = 0; axis < 3; ++axis) {
        edges.edge1[axis] = p[1][axis] - p[0][axis];
        edges.edge2[axis] = p[2][axis] - p[0][axis];
    }
    for (int k = 0; k < 3; ++k) {
        const double* from = p[k];
        const double* to = p[(k + 1) % 3];
        double d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
        double* en = edges.edge_normal[k];
        en[0] = n[1] * d[2] - n[2] * d[1];
        en[1] = n[2] * d[0] - n[0] * d[2];
        en[2] = n[0] * d[1] - n[1] * d[0];
        normalize(en);
    }
    return edges;
}

bool triangle_corner_angles(const Triangle& triangle, double angles[3]) {
    double p[3][3];
    corners_of(triangle, p);
    if (has_zero_edge(p)) {
        angles[0] = angles[1] = angles[2] = 0;
        return false;
    }
    for (int k = 0; k < 3; ++k) {
        double sine_part, cosine_part;
        angle_parts(p[k], p[(k + 1) % 3], p[(k + 2) % 3], sine_part, cosine_part);
        angles[k] = std::atan2(sine_part, cosine_part);
    }
    return true;
}

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

    // A header announcing more than the file holds must end in its message, not in an
    // allocation of the announced size: the tables are sized for the lines the rest of the
    // input can hold, and grow from there should a count still be larger.
    vertex_table.clear();
    triangle_table.clear();
    triangle_geometry.clear();
    vertex_averages.clear();
    reserve_table(vertex_table, std::min(vertex_count, lines_left_at_most(in)));
    std::vector<int> ids;
    ids.reserve(static_cast<std::size_t>(std::min(vertex_count, lines_left_at_most(in))));
    const char* vertex_form = "a vertex line \"ID x y z\"";
    CoordinateFrame frame;
    for (int i = 0; i < vertex_count; ++i) {
        if (!next_line(in, line)) refuse_short_file(in, "vertex", vertex_count, i);
        std::string_view rest = line;
        int id = 0;
        double xyz[3];
        bool good = next_word(rest, words[0]) && read_whole_integer_any_base(words[0], id);
        for (int k = 0; good && k < 3; ++k)
            good = next_word(rest, words[k + 1]) && read_whole_real(words[k + 1], xyz[k]);
        if (!good) refuse_line(in, vertex_form, line);
        if (id < 0 || id > max_vertex_id)
            fatal("ERROR: %s line %d: vertex ID %d is outside 0..%d\n", name, in.line_number, id,
                  max_vertex_id);
        ids.push_back(id);
        Vertex& v = vertex_table.emplace_back();
        v.x = xyz[0];
        v.y = xyz[1];
        v.z = xyz[2];
        // A nan or inf vertex would silently keep its triangles from every sample.
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            fatal("ERROR: %s line %d: vertex coordinates must be finite numbers, found \"%.*s\"\n",
                  name, in.line_number, shown_length(line), line.data());
        if (i == 0) frame = coordinate_frame();
        frame.apply(v.x, v.y, v.z);
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            fatal("ERROR: %s line %d: the vertex is no longer finite after the coordinate "
                  "operations (scale_xyz %e)\n",
                  name, in.line_number, settings.scale_xyz);
    }
    IdTable id_table;
    id_table.build(ids, max_vertex_id);
    ids = std::vector<int>();

    reserve_table(triangle_table, std::min(triangle_count, lines_left_at_most(in)));
    reserve_table(triangle_geometry, std::min(triangle_count, lines_left_at_most(in)));
    const char* triangle_form = "a triangle line \"ID ID ID boundary-ID\"";
    for (int j = 0; j < triangle_count; ++j) {
        if (!next_line(in, line)) refuse_short_file(in, "triangle", triangle_count, j);
        std::string_view rest = line;
        int value[4];
        for (int k = 0; k < 4; ++k)
            if (!next_word(rest, words[0]) || !read_whole_integer_any_base(words[0], value[k]))
                refuse_line(in, triangle_form, line);
        Triangle& t = triangle_table.emplace_back();
        TriangleGeometry& g = triangle_geometry.emplace_back();
        for (int k = 0; k < 3; ++k) {
            int id = value[k];
            if (id < 0 || id > max_vertex_id)
                fatal("ERROR: %s line %d: vertex ID %d is outside 0..%d\n", name,
                      in.line_number, id, max_vertex_id);
            int vertex = id_table.find(id);
            if (vertex < 0)
                fatal("ERROR: %s line %d: vertex ID %d is on no vertex line\n", name,
                      in.line_number, id);
            t.vert[k] = vertex;
        }
        double p[3][3];
        corners_of(t, p);
        if (has_zero_edge(p)) {
            say("WARNING: %s line %d: triangle %d has an edge of length 0; its corner angles "
                "are set to 0 and it takes no sample\n",
                name, in.line_number, j);
        } else {
            // An arc tangent is not a number exactly when one of its parts is not, and never
            // beyond pi: the parts tell without taking it.
            for (int k = 0; k < 3; ++k) {
                double sine_part, cosine_part;
                angle_parts(p[k], p[(k + 1) % 3], p[(k + 2) % 3], sine_part, cosine_part);
                if (std::isnan(sine_part) || std::isnan(cosine_part))
                    say("nan found for vertex angle %d in triangle %d\n", k, j);
            }
        }
        compute_geometry(g, p);
        g.boundary_id = value[3];
    }
    id_table = IdTable();

    find_neighbors(vertex_table.size());
}
