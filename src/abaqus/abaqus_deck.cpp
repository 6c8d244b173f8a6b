// abaqus/abaqus_deck.cpp: an ABAQUS input deck made into the surface file "abaqus.dat".
//
// Shell elements become fans of triangles; the faces of solid elements named in the wanted
// *SURFACE sections become a triangle (three corners) or four around a centre (four). The
// messages come in the order users have always seen them, a first reading that counts and
// a second that builds, because scripts grep them.
#include "abaqus/abaqus_deck.h"

#include "abaqus/conversion_files.h"
#include "abaqus/deck.h"
#include "abaqus/deck_reader.h"
#include "abaqus/deck_surface.h"
#include "config/options.h"
#include "platform/fatal.h"
#include "surface/surface.h"

#include <utility>

namespace {

void print_banner() {
    say("\n******************************************************************************************\n");
    say("Reading ABAQUS input file. This utility directly reads the .inp format ABAQUS file\nand "
        "generates a surface (.dat) that is read for mapping.\n");
    say("The automatically generated .dat file can be viewed in Kelvora Studio to verify accuracy.\n");
    say("Currently Shell elements and surfaces made from faces of DC3D elements are supported. \n");
    say("******************************************************************************************\n\n\n\n");
}

// The one place the run's per-triangle origin tables are filled.
void keep_triangle_origins(DeckSurface& surface) {
    element_number = std::move(surface.element_number);
    face_number = std::move(surface.face_number);
    surface_number = std::move(surface.surface_number);
}

}  // namespace

void read_abaqus_deck(const std::string& file_name) {
    print_banner();
    if (settings.num_surface > max_deck_surfaces)
        fatal("Error: maximum 100 surfaces can be read: contact support\n");
    Deck deck;
    read_deck(deck, file_name);
    DeckSurface surface;
    set_up_faces(deck, surface);
    plan_surface(deck, surface);
    build_surface(deck, surface);
    write_surface_file(surface);
    write_element_list(surface);
    keep_triangle_origins(surface);
    say("lists free\n");
    flush_say();
}
