// platform/fatal.cpp: console log and the process end.
#include "platform/fatal.h"

#include "platform/format.h"
#include "platform/io.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

thread_local HeldOutput* held_output = nullptr;

}  // namespace

void (*stop_background_work)() = nullptr;

void hold_output(HeldOutput* held) { held_output = held; }

void say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    if (held_output)
        format_append(held_output->text, format, args);
    else
        out_vformat(standard_output, format, args);
    va_end(args);
}

void flush_say() { flush_out_file(standard_output); }

namespace {

void exit_process(int status) { std::exit(status); }

[[noreturn]] void end_process(int status) {
    if (stop_background_work) stop_background_work();
    process_end(final_exit_status(status));
    std::abort();  // a harness's hook returned
}

}  // namespace

void (*process_end)(int status) = exit_process;

int final_exit_status(int status) {
    // Registered results that were never committed belong to no finished set.
    discard_result_files();
    flush_all_out_files();
    if (finish_standard_output()) return status;
    std::fprintf(stderr, "Error, could not write standard output (%s), exiting.\n",
                 std::strerror(errno));
    std::fflush(stderr);
    return 1;
}

void fatal(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    if (held_output) {
        format_append(held_output->text, format, args);
        va_end(args);
        held_output->stopped = true;
        throw HeldStop{};
    }
    out_vformat(standard_output, format, args);
    va_end(args);
    discard_result_files();
    end_process(1);
}

void release_held_output(const HeldOutput& held) {
    if (!held.text.empty()) out_text(standard_output, held.text);
    if (!held.stopped) return;
    discard_result_files();
    end_process(1);
}

void fatal_with_errno(const char* text) {
    int error = errno;
    discard_result_files();
    flush_all_out_files();
    std::fprintf(stderr, "%s: %s\n", text, std::strerror(error));
    std::fflush(stderr);
    end_process(1);
}

void stop_run() { end_process(0); }
