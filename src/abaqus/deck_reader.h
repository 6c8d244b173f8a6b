// abaqus/deck_reader.h: reading an ABAQUS input deck into the Deck records.
#pragma once

#include "abaqus/deck.h"

#include <string>

// Reads the header, the one *NODE block, the *ELEMENT blocks and, when surfaces are wanted,
// the *SURFACE and *ELSET sections. Ends the run on a malformed deck.
void read_deck(Deck& deck, const std::string& file_name);
