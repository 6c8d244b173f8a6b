// surface/surface.cpp: placeholder until the surface reader lands.
#include "surface/surface.h"
#include "platform/fatal.h"

std::vector<Vertex> vertex_table;
std::vector<Triangle> triangle_table;
std::vector<int> vertex_triangles;
std::vector<std::string> extra_names;
std::vector<double> triangle_extra;
std::vector<double> vertex_extra;
std::vector<int> element_number;
std::vector<int> face_number;
std::vector<int> surface_number;

void read_surface(const std::string&) { fatal("Error: the surface reader is not built yet\n"); }
