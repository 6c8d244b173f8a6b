// abaqus/conversion_files.h: the two files the deck conversion writes.
#pragma once

#include "abaqus/deck_surface.h"

// "abaqus.dat": the surface file the run then reads.
void write_surface_file(const DeckSurface& surface);
// "ABAQUS_elementlist.dat": surface.element and face per triangle.
void write_element_list(const DeckSurface& surface);
