// abaqus/abaqus_deck.h: an ABAQUS input deck converted into the surface file "abaqus.dat".
#pragma once

#include <string>

// Writes "abaqus.dat" and "ABAQUS_elementlist.dat" and fills element_number, face_number
// and surface_number (surface/surface.h). Ends the run on a malformed deck.
void read_abaqus_deck(const std::string& file_name);
