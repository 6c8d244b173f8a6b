// fuzz/transform_fuzz.cpp: the transform mode's input file.
#include "fuzz_support.h"

#include "config/options.h"
#include "transform/transform.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_set_up();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    settings = MapSettings{};
    write_input_file("bc_in.txt", data, size);
    run_guarded([] { transform_bc_file("bc_in.txt", "bc_out.txt"); });
    return 0;
}
