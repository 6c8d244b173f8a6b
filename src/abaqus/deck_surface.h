// abaqus/deck_surface.h: the surface an ABAQUS deck stands for, built from the Deck records:
// shell elements as fans of triangles, wanted solid faces as one triangle or four.
#pragma once

#include "abaqus/deck.h"

#include <vector>

// One solid face of a wanted surface, with its corner nodes.
struct Face {
    int element_index = 0;  // into deck.elements
    int face = 0;           // n of Sn
    int surface = 0;        // index into settings.surface_names
    int corner_count = 0;
    int corner[4] = {0, 0, 0, 0};  // node numbers
};

struct DeckSurface {
    std::vector<Face> faces;            // in the order the surface lines asked for them
    std::vector<int> faces_of_surface;  // per settings.surface_names entry
    int vertex_count = 0;               // vertices the surface file declares
    int triangle_count = 0;             // triangles planned
    std::vector<double> xyz;            // 3 per vertex made: the nodes, then the centres
    std::vector<int> triangle_vertices;  // 3 per triangle, 1-based vertex numbers
    // Per triangle: element number, face number (0 for a shell), surface number (1 + index
    // into settings.surface_names, 0 for a shell) and the boundary ID the file gives it.
    std::vector<int> element_number, face_number, surface_number, boundary_id;
};

// Gives every surface entry its element and corners ("Setting up surface faces ...").
void set_up_faces(const Deck& deck, DeckSurface& surface);
// Counts the vertices and triangles to come and prints the deck's summary.
void plan_surface(const Deck& deck, DeckSurface& surface);
// Makes the vertices and triangles ("Reading nodes" to "file read complete").
void build_surface(const Deck& deck, DeckSurface& surface);
