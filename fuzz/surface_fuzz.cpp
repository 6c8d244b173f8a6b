// fuzz/surface_fuzz.cpp: the surface file, then the octree over what it holds.
#include "fuzz_support.h"

#include "config/options.h"
#include "surface/octree.h"
#include "surface/surface.h"

#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_set_up();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the tolerance, so the octree meets small and surface-sized ones.
    if (size < 1) return 0;
    settings = MapSettings{};
    settings.tolerance = data[0] / 64.0;
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    run_guarded([text] {
        LineReader in;
        open_memory_reader(in, text, "surface.dat");
        read_surface_from(in);
        if (triangle_table.size() <= 64) build_subdivision();
    });
    return 0;
}
