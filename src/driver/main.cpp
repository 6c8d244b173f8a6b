// driver/main.cpp: the command line, the banner, the choice of mode and the order of a run.
#include "abaqus/abaqus_deck.h"
#include "config/options.h"
#include "mapping/run.h"
#include "platform/fatal.h"
#include "platform/io.h"
#include "platform/system.h"
#include "platform/threads.h"
#include "surface/octree.h"
#include "surface/surface.h"
#include "transform/transform.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const stars = "*******************************************************";

void print_banner() {
    say("\n\n\n%s\n", stars);
    say("\n    Kelvora surface mapping utility\n");
    say("\n    This utility reads boundary cell fluid data from transfer.out and maps to a "
        "triangulated surface\n");
    say("\n    An input file (htc_inputs.in) is read by the utility\n");
    say("\n    Note that the triangulated surface must align with the original Kelvora surface "
        "used for the CFD simulation\n");
    say("\n%s\n\n", stars);
}

// Every transfer file is tried before any is read, so a typo in the last name is reported
// before hours of mapping; the check comes after the surface work, as it always has.
bool all_transfer_files_open(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        // A directory opens on this system but is no file to read.
        LineReader probe;
        if (!open_line_reader(probe, argv[i])) {
            say("ERROR, %s is not a valid transfer file.\n", argv[i]);
            return false;
        }
    }
    return true;
}

// "--threads N" ahead of the other arguments: the number of threads (1: no worker threads).
// Taken out of the argument list, so the rest reads as it always has.
bool take_thread_option(int& argc, char** argv) {
    while (argc > 1 && std::strcmp(argv[1], "--threads") == 0) {
        const char* value = argc > 2 ? argv[2] : "";
        char* end = nullptr;
        long count = std::strtol(value, &end, 10);
        if (*value == '\0' || *end != '\0' || count < 1 || count > 1024) {
            say("ERROR, --threads needs a whole number from 1 to 1024, not \"%s\".\n", value);
            return false;
        }
        set_thread_count(static_cast<int>(count));
        int taken = 2;
        for (int i = 1; i + taken < argc; ++i) argv[i] = argv[i + taken];
        argc -= taken;
    }
    return true;
}

int run(int argc, char** argv) {
    print_banner();
    if (!take_thread_option(argc, argv)) return 1;
    if (argc < 3) {
        say("ERROR, quorvel must have at least two arguments.\n");
        say("USAGE: quorvel <surface file name> <transfer data file names>\n\n");
        say("USAGE: to run transform utility, append keyword 'transform' after quorvel\n");
        say("USAGE: quorvel transform <input filename> <output filename>\n");
        return 1;
    }
    long start = wall_clock_seconds();
    if (std::strcmp(argv[1], "transform") == 0) {
        say("\n\n\n%s\n", stars);
        say("Utility for transforming coordinates of spatially varying temperature boundary "
            "condition file  \n");
        say("Order of operations should be specified with sc-rx-ry-rz-tx-ty-tz \n");
        say("Where the operations are completed left to right, with: sc = scale, rx = rotate "
            "about x, ty = translate in y, etc... \n");
        say("%s\n\n", stars);
        if (argc < 4) {
            say("ERROR, transform utility must have at least two arguments with the input "
                "filename to read and the output filename to create.\n");
            say("USAGE:  transform <input filename> <output filename>\n");
            return 1;
        }
        transform_bc_file(argv[2], argv[3]);
    } else {
        read_options_file(argv[1]);
        if (settings.read_abaqus >= 1) {
            read_abaqus_deck(argv[1]);
            if (settings.read_abaqus == 2) {
                say("Read ABAQUS set to 2, preprocess only\nABAQUS geometry saved as "
                    "abaqus.dat, exiting.\n");
                stop_run();
            }
        }
        say("\nReading in the surface file, %s.\n\n", argv[1]);
        read_surface(settings.read_abaqus == 1 ? std::string("abaqus.dat") : std::string(argv[1]));
        say("Subdividing triangles for faster processing.\n\n");
        build_subdivision();
        say("\nchecking to ensure that all transfer data files exist.\n\n");
        if (!all_transfer_files_open(argc, argv)) return 1;
        run_mapping(argc, argv);
    }
    say("Program used %d seconds\n\n", static_cast<int>(wall_clock_seconds() - start));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    give_back_big_tables();
    return final_exit_status(run(argc, argv));
}
