// platform/fatal.h: the one way to stop, and the console log.
#pragma once

#include <string>

// Prints to standard output (a console log with plain line feeds).
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void flush_say();

// Prints the message to standard output, removes the temporaries of unfinished result
// files, flushes every other open file and ends the process with status 1.
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
// For the writer that reports file errors on standard error: "text: system message\n",
// status 1. errno must still hold the failure.
[[noreturn]] void fatal_with_errno(const char* text);
// Ends the process with status 0 after flushing: the normal stops inside a run.
[[noreturn]] void stop_run();

// The status a process ending now should have: `status`, or 1 after reporting on standard
// error that standard output could not be written (a full device must not pass silently).
int final_exit_status(int status);

// Where the stops above end: std::exit unless a harness (a fuzz target) sets its own,
// which must not return (it throws or jumps back into the harness).
extern void (*process_end)(int status);

// A thread that works ahead of the main thread (the transfer reader) holds what it says, and
// the stop that ends it, until the main thread releases them where a single thread would
// have said them: the output is the same for every thread count.
struct HeldOutput {
    std::string text;
    bool stopped = false;  // fatal() was called: the text ends with its message
};
// Thrown by fatal() on a thread that holds its output, once the message is held.
struct HeldStop {};
// Holds the calling thread's say() and fatal() in `held`; nullptr lets them through again.
void hold_output(HeldOutput* held);
// Prints the held text on standard output and, when it stopped, ends the run as fatal() does.
void release_held_output(const HeldOutput& held);
// Called before the process ends early (fatal, stop_run), so that work under way on another
// thread stops before static objects are destroyed.
extern void (*stop_background_work)();
