// fuzz/abaqus_fuzz.cpp: an ABAQUS deck converted into abaqus.dat, which is read back.
#include "fuzz_support.h"

#include "abaqus/abaqus_deck.h"
#include "config/options.h"
#include "surface/surface.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_set_up();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks how many of two surface names are asked for and use_elset.
    if (size < 1) return 0;
    settings = MapSettings{};
    settings.read_abaqus = 1;
    settings.num_surface = data[0] % 3;
    const char* names[] = {"HOT", "FIN"};
    for (int i = 0; i < settings.num_surface; ++i) settings.surface_names.push_back(names[i]);
    settings.use_elset = (data[0] >> 2) & 1;
    write_input_file("deck.inp", data + 1, size - 1);
    run_guarded([] {
        read_abaqus_deck("deck.inp");
        read_surface("abaqus.dat");
    });
    return 0;
}
