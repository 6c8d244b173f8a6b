// platform/system.cpp: directory creation, the clock and memory hints.
#include "platform/system.h"

#include <cstdint>
#include <ctime>
#include <malloc.h>
#include <sys/mman.h>
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

void advise_large_pages(void* data, std::size_t bytes) {
    constexpr std::uintptr_t large_page = std::uintptr_t{1} << 21;
    if (bytes < 2 * large_page) return;
    std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data);
    std::uintptr_t end = begin + bytes;
    begin = (begin + large_page - 1) & ~(large_page - 1);
    end &= ~(large_page - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void give_back_big_tables() {
#ifdef M_MMAP_THRESHOLD
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}
