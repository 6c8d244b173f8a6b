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
    // The first byte picks whether the octree is built (it costs far more than the reading)
    // and its tolerance, so it meets small and surface-sized ones.
    if (size < 1) return 0;
    settings = MapSettings{};
    settings.tolerance = (data[0] & 127) / 32.0;
    const bool subdivide = data[0] & 128;
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    run_guarded([text, subdivide] {
        LineReader in;
        open_memory_reader(in, text, "surface.dat");
        read_surface_from(in);
        if (subdivide && triangle_table.size() <= 64) build_subdivision();
    });
    return 0;
}
