// platform/fatal.cpp: console log and the process end.
#include "platform/fatal.h"

#include "platform/io.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    out_vformat(standard_output, format, args);
    va_end(args);
}

void flush_say() { flush_out_file(standard_output); }

void fatal(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    out_vformat(standard_output, format, args);
    va_end(args);
    flush_all_out_files();
    std::exit(1);
}

void fatal_with_errno(const char* text) {
    int error = errno;
    flush_all_out_files();
    std::fprintf(stderr, "%s: %s\n", text, std::strerror(error));
    std::fflush(stderr);
    std::exit(1);
}

void stop_run() {
    flush_all_out_files();
    std::exit(0);
}
