// fuzz/options_fuzz.cpp: the options file, htc_inputs.in.
#include "fuzz_support.h"

#include "config/options.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_set_up();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    write_input_file("htc_inputs.in", data, size);
    run_guarded([] { read_options_file("surface.dat"); });
    return 0;
}
