// surface/surface.h: the mapping surface, filled once by read_surface, then only read,
// and the final averages the mapping run leaves on it for the writers.
#pragma once

#include <string>
#include <vector>

struct Vertex {
    double x = 0, y = 0, z = 0;  // mapping frame
};

// The final averages at a vertex (finish_vertices). A table of their own, made when the run
// is over and its step tables are gone: the run never holds them beside its largest tables.
struct VertexAverages {
    double time_without_hits = 0, time_with_hits = 0;
    double fluid_temp = 0, boundary_temp = 0, flux = 0, htc = 0, yplus = 0;
    double angle_sum = 0;  // radians, of the initialized triangles using it
    double reach = 0;      // "dist" of the GMV file
    int boundary_id = 0;
    int initialized = 0;
};

// Where a triangle lies and what lies next to it, filled by read_surface. Growth reads it for
// every triangle near every hit, so it is a compact table of its own (48 bytes a triangle)
// rather than part of the larger records.
struct TriangleGeometry {
    double centroid[3] = {0, 0, 0};
    double radius = 0;               // from the centroid to the farthest corner
    int neighbor[3] = {-1, -1, -1};  // across edge vert[k] to vert[(k+1)%3]; -1 on an open edge
    int boundary_id = 0;
};

// What only the point search and the vertex averages read (the normal, edges, edge normals,
// corner angles) is not stored: triangle_normal, triangle_edges and triangle_corner_angles
// derive it on demand, by the same operations on the same values, so it is the same to the
// bit.
struct Triangle {
    int vert[3] = {0, 0, 0};  // vertex indices, in the order of the triangle line
    int initialized = 0;
    // Run integrals during the run, final averages after finish_triangles. The temperatures
    // are integrals of HTC x temperature x time until then.
    double time_without_hits = 0, time_with_hits = 0;
    double boundary_temp = 0, fluid_temp = 0, flux = 0, htc = 0, yplus = 0;
    double area = 0;              // Heron's during the run (the report's), the map's after
    double reach = 0;             // data footprint radius, kept across steps
    double max_hit_distance = 0;  // over the whole run
};

extern std::vector<Vertex> vertex_table;
extern std::vector<Triangle> triangle_table;
extern std::vector<TriangleGeometry> triangle_geometry;  // indexed like triangle_table
extern std::vector<VertexAverages> vertex_averages;      // indexed like vertex_table, at the end

// Additional transfer.out columns taken into the mapping (filled by the transfer reader)
// and their averages, extra_names.size() values per record, record by record.
extern std::vector<std::string> extra_names;
extern std::vector<double> triangle_extra;  // triangle_table.size() * extra_names.size()
extern std::vector<double> vertex_extra;    // vertex_table.size() * extra_names.size(), at the end

inline double* extra_of_triangle(int t) { return triangle_extra.data() + t * extra_names.size(); }
inline double* extra_of_vertex(int v) { return vertex_extra.data() + v * extra_names.size(); }

// Reads the surface file, moves every vertex into the mapping frame and computes topology
// and geometry. Ends the run on a malformed file.
void read_surface(const std::string& file_name);
// The same from an open reader (the tests read memory); the reader's name names the file.
struct LineReader;
void read_surface_from(LineReader& in);

// The unit normal of the triangle's plane, (P1 - P0) x (P2 - P0) normalised; the zero
// vector for a triangle of no area.
void triangle_normal(const Triangle& triangle, double normal[3]);

// The triangle's edges from its first corner, edge1 = P1 - P0 and edge2 = P2 - P0, and the
// unit normals of its three edges in its plane, edge_normal[k] for the edge from vert[k] to
// vert[(k+1)%3], pointing out of the triangle when the corners turn about the normal.
struct TriangleEdges {
    double edge1[3], edge2[3];
    double edge_normal[3][3];
};
TriangleEdges triangle_edges(const Triangle& triangle);

// The true interior angles at the three corners, radians; all 0 (and false) for a triangle
// with an edge of length 0, where no angle is defined and 0 keeps it out of every average.
bool triangle_corner_angles(const Triangle& triangle, double angles[3]);

// Divides a 3-vector by its length; nonzero (and the vector unchanged) when the length is 0.
int normalize(double vector[3]);

// For a surface made from an ABAQUS deck, per triangle: the element and face it comes from
// and its surface (1 + index in settings.surface_names; 0 for a shell). Filled by the deck
// conversion before the surface is read; empty otherwise.
extern std::vector<int> element_number;
extern std::vector<int> face_number;
extern std::vector<int> surface_number;
