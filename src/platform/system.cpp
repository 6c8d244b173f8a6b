// platform/system.cpp: directory creation and the clock.
#include "platform/system.h"

#include <ctime>
#include <sys/stat.h>

bool make_directory(const char* name) { return ::mkdir(name, 0777) == 0; }

bool is_directory(const char* name) {
    struct stat status;
    return ::stat(name, &status) == 0 && S_ISDIR(status.st_mode);
}

long wall_clock_seconds() { return static_cast<long>(std::time(nullptr)); }

bool same_file(const char* first, const char* second) {
    struct stat a, b;
    if (::stat(first, &a) != 0 || ::stat(second, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
