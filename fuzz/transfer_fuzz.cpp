// fuzz/transfer_fuzz.cpp: a transfer.out file, every block of it.
#include "fuzz_support.h"

#include "config/options.h"
#include "mapping/transfer.h"
#include "platform/threads.h"

#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_set_up();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the settings the reader depends on, and whether each next block
    // is read ahead on a thread of its own, as a run with more than one thread reads.
    if (size < 1) return 0;
    settings = MapSettings{};
    settings.map_additional_variables = data[0] & 1;
    settings.use_convective_ht = (data[0] >> 1) & settings.map_additional_variables;
    set_thread_count(data[0] & 4 ? 2 : 1);
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    run_guarded([text] {
        reset_transfer_reader();
        TransferFile file;
        open_memory_reader(file.in, text, "transfer.out");
        if (!find_first_header(file)) return;
        BlockReader reader(file);
        while (reader.next().more_blocks) reader.read_ahead();
    });
    return 0;
}
