// bench/quiet_stdout.h: the program's console log sent to /dev/null while a benchmark runs,
// so that progress lines stay out of its figures.
#pragma once

#include "platform/fatal.h"

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

struct QuietStdout {
    int saved;
    QuietStdout() {
        flush_say();
        std::fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        flush_say();
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;
};
