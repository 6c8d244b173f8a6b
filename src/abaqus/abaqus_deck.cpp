// abaqus/abaqus_deck.cpp: placeholder until the deck reader lands.
#include "abaqus/abaqus_deck.h"
#include "platform/fatal.h"

void read_abaqus_deck(const std::string&) {
    fatal("Error: ABAQUS input decks are not supported yet (read_abaqus must be 0)\n");
}
