// platform/fatal.h: the one way to stop, and the console log.
#pragma once

// Prints to standard output (a console log with plain line feeds).
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void flush_say();

// Prints the message to standard output, flushes every open file and ends the process
// with status 1.
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
// For the writer that reports file errors on standard error: "text: system message\n",
// status 1. errno must still hold the failure.
[[noreturn]] void fatal_with_errno(const char* text);
// Ends the process with status 0 after flushing: the normal stops inside a run.
[[noreturn]] void stop_run();
