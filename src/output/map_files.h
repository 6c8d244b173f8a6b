// output/map_files.h: the triangle and vertex map files, the program's main result.
#pragma once

#include <string>

extern int printed_triangle_count;

// dedicated 0: the full map; 1: the file of boundary group `group`. The ABAQUS per-element
// form is written when settings.read_abaqus is not 0.
int write_triangle_map(const std::string& file_name, const std::string& time_unit,
                       int dedicated, int group);
int write_vertex_map(const std::string& file_name, const std::string& time_unit,
                     int dedicated, int group);
