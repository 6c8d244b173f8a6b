// abaqus/deck.h: the records an ABAQUS deck is read into, shared by the reader, the surface
// builder and the conversion writers of this folder.
#pragma once

#include <string>
#include <vector>

constexpr int max_deck_surfaces = 100;

enum ElementShape { unsupported = 0, shell = 1, tetrahedron = 2, wedge = 3, hexahedron = 4 };

struct ElementBlock {
    std::string type;
    ElementShape shape = unsupported;
    int nodes_per_element = 0;  // nodes used (3 for STRI65)
    int nodes_on_line = 0;      // node words each element line holds
    int first_element = 0;      // index into the element table
    int element_count = 0;
};

struct Element {
    int number = 0;
    int block = 0;
    int node_begin = 0;  // into element_nodes, block.nodes_per_element of them
};

// One element named by a data line of a wanted *SURFACE section (a set gives one per member).
struct SurfaceEntry {
    int element = 0;       // element number as written
    int face = 0;          // n of Sn, as read (0 when the word held no number)
    bool free_faces = false;  // no face identifier: every face not shared with another solid
    int surface = 0;       // index into settings.surface_names
    int line = 0;          // deck line of the surface data line
};

struct ElementSet {
    std::string name;
    std::vector<int> elements;
};

struct Deck {
    std::string file_name;
    int header_lines = 0;
    std::vector<int> node_number;
    std::vector<double> node_xyz;  // 3 per node
    std::vector<ElementBlock> blocks;
    std::vector<Element> elements;
    std::vector<int> element_nodes;
    std::vector<ElementSet> element_sets;
    std::vector<SurfaceEntry> surface_entries;
    int surface_sections = 0;
    std::vector<int> surface_found;  // per settings.surface_names entry
};
