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
#include "platform/io.h"
#include "surface/surface.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace {

void print_banner() {
    say("\n******************************************************************************************\n");
    say("Reading ABAQUS input file. This utility directly reads the .inp format ABAQUS file\nand "
        "generates a surface (.dat) that is read for mapping.\n");
    say("The automatically generated .dat file can be viewed in Kelvora Studio to verify accuracy.\n");
    say("Currently Shell elements and surfaces made from faces of DC3D elements are supported. \n");
    say("******************************************************************************************\n\n\n\n");
}

// A surface of nothing would map onto nothing and still end well: say what was passed over.
void refuse_empty_surface(const Deck& deck, const DeckSurface& surface) {
    if (surface.triangle_count > 0) return;
    std::string missing, skipped;
    for (std::size_t s = 0; s < deck.surface_found.size(); ++s) {
        if (deck.surface_found[s]) continue;
        missing += missing.empty() ? "" : ", ";
        missing += settings.surface_names[s];
    }
    std::vector<std::string> types;
    for (const ElementBlock& block : deck.blocks) {
        if (block.shape != unsupported) continue;
        bool listed = false;
        for (const std::string& type : types) listed = listed || type == block.type;
        if (listed) continue;
        types.push_back(block.type);
        skipped += skipped.empty() ? "" : ", ";
        skipped += block.type;
    }
    fatal("Error: %s makes no triangle to map onto: it has no shell element and no solid face on a "
          "*SURFACE named in htc_inputs.in%s%s%s. Element types skipped: %s.\n",
          deck.file_name.c_str(), missing.empty() ? "" : " (not in the deck: ", missing.c_str(),
          missing.empty() ? "" : ")", skipped.empty() ? "none" : skipped.c_str());
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
    refuse_empty_surface(deck, surface);
    build_surface(deck, surface);
    write_surface_file(surface);
    write_element_list(surface);
    // The surface is read back from abaqus.dat next: the pair takes its names now.
    commit_result_files();
    keep_triangle_origins(surface);
    say("lists free\n");
    flush_say();
}
