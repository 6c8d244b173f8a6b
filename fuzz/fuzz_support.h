// fuzz/fuzz_support.h: what every fuzz target shares. A fatal stop throws back into the
// target instead of ending the process; the log goes to /dev/null; files are written in a
// private scratch directory.
#pragma once

#include "platform/fatal.h"
#include "platform/io.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

struct FuzzStop {
    int status;
};

[[noreturn]] inline void throw_stop(int status) { throw FuzzStop{status}; }

inline void fuzz_set_up() {
    char memory[] = "/dev/shm/quorvel-fuzz-XXXXXX";
    char disk[] = "/tmp/quorvel-fuzz-XXXXXX";
    const char* scratch = mkdtemp(memory);
    if (!scratch) scratch = mkdtemp(disk);
    if (!scratch || chdir(scratch) != 0) std::abort();
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, 1) < 0) std::abort();
    close(null);
    process_end = throw_stop;
}

inline void write_input_file(const char* name, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(name, "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
}

// Runs one parse; a fatal stop is an expected outcome, anything else (a crash, a
// sanitizer report, a hang) is a finding.
template <typename Parse>
void run_guarded(Parse parse) {
    try {
        parse();
    } catch (const FuzzStop&) {
    }
    discard_result_files();
}
