// surface/surface.h: the mapping surface, filled once by read_surface, then only read,
// and the final averages the mapping run leaves on it for the writers.
#pragma once

#include <string>
#include <vector>

struct Vertex {
    double x = 0, y = 0, z = 0;  // mapping frame
    int index = 0;
    int tri_count = 0;        // triangles using this vertex (twice if named at two corners)
    int triangles_begin = 0;  // its list: vertex_triangles[triangles_begin .. + tri_count)
    // final averages (finish_vertices)
    double time_without_hits = 0, time_with_hits = 0;
    double fluid_temp = 0, boundary_temp = 0, flux = 0, htc = 0, yplus = 0;
    double angle_sum = 0;  // radians, of the initialized triangles using it
    double reach = 0;      // "dist" of the GMV file
    int boundary_id = 0;
    int initialized = 0;
};

struct Triangle {
    int vert[3] = {0, 0, 0};          // vertex indices, in the order of the triangle line
    double corner_angle[3] = {0, 0, 0};  // true interior angles, radians
    int index = 0;
    int neighbor[3] = {-1, -1, -1};   // across edge vert[k] to vert[(k+1)%3]; -1 on an open edge
    double centroid[3] = {0, 0, 0};
    double normal[3] = {0, 0, 0};
    double edge1[3] = {0, 0, 0}, edge2[3] = {0, 0, 0};
    double edge_normal[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    double radius = 0;
    int boundary_id = 0;
    // run integrals during the run, final averages after finish_triangles
    double time_without_hits = 0, time_with_hits = 0;
    double fluid_temp_htc_time = 0;
    double boundary_temp = 0, fluid_temp = 0, flux = 0, htc = 0, yplus = 0;
    double area = 0;
    double reach = 0;             // data footprint radius, kept across steps
    double max_hit_distance = 0;  // over the whole run
    int initialized = 0;
};

extern std::vector<Vertex> vertex_table;
extern std::vector<Triangle> triangle_table;
extern std::vector<int> vertex_triangles;  // per-vertex lists, ascending triangle index

// Additional transfer.out columns taken into the mapping (filled by the transfer reader)
// and their averages, extra_names.size() values per record, record by record.
extern std::vector<std::string> extra_names;
extern std::vector<double> triangle_extra;  // triangle_table.size() * extra_names.size()
extern std::vector<double> vertex_extra;    // vertex_table.size() * extra_names.size()

inline double* extra_of_triangle(int t) { return triangle_extra.data() + t * extra_names.size(); }
inline double* extra_of_vertex(int v) { return vertex_extra.data() + v * extra_names.size(); }

// Reads the surface file, moves every vertex into the mapping frame and computes topology
// and geometry. Ends the run on a malformed file.
void read_surface(const std::string& file_name);
// The same from an open reader (the tests read memory); the reader's name names the file.
struct LineReader;
void read_surface_from(LineReader& in);

// Divides a 3-vector by its length; nonzero (and the vector unchanged) when the length is 0.
int normalize(double vector[3]);

// For a surface made from an ABAQUS deck, per triangle: the element and face it comes from
// and its surface (1 + index in settings.surface_names; 0 for a shell). Filled by the deck
// conversion before the surface is read; empty otherwise.
extern std::vector<int> element_number;
extern std::vector<int> face_number;
extern std::vector<int> surface_number;
