// read_fault_shim.cpp: an LD_PRELOAD library that makes one file fail like a bad disk.
// Reads of the file whose name ends in $QUORVEL_FAULT_FILE stop short at byte
// $QUORVEL_FAULT_OFFSET, and a read starting there fails with EIO.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

extern "C" ssize_t read(int descriptor, void* buffer, size_t size) {
    using ReadFunction = ssize_t (*)(int, void*, size_t);
    static ReadFunction real_read = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "read"));
    const char* file = std::getenv("QUORVEL_FAULT_FILE");
    const char* offset_text = std::getenv("QUORVEL_FAULT_OFFSET");
    if (file && offset_text) {
        char link[64], path[PATH_MAX];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
        ssize_t length = readlink(link, path, sizeof path - 1);
        std::size_t suffix = std::strlen(file);
        if (length >= 0) path[length] = 0;
        if (length >= static_cast<ssize_t>(suffix) &&
            std::strcmp(path + length - suffix, file) == 0) {
            off_t fault = std::atoll(offset_text);
            off_t at = lseek(descriptor, 0, SEEK_CUR);
            if (at >= fault) {
                errno = EIO;
                return -1;
            }
            if (static_cast<off_t>(size) > fault - at) size = static_cast<size_t>(fault - at);
        }
    }
    return real_read(descriptor, buffer, size);
}
