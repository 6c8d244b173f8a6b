// output/output_files.h: what the writers share: closing a result file so that a failed
// write stops the run, and the little-endian binary items of the binary viewer files.
#pragma once

#include "platform/fatal.h"
#include "platform/io.h"

#include <cstdint>
#include <cstring>
#include <string>

// A full disk must not look like success.
inline void close_result_file(OutFile& file) {
    std::string name = file.name;
    if (!try_close_out_file(file)) fatal("ERROR: could not write %s\n", name.c_str());
}

// Binary files hold 4-byte little-endian items, whatever this machine's byte order.
inline void out_int32(OutFile& file, std::int32_t value) {
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    unsigned char bytes[4] = {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                              static_cast<unsigned char>(bits >> 16),
                              static_cast<unsigned char>(bits >> 24)};
    out_bytes(file, bytes, 4);
}

// Rounded to nearest, as the conversion from double does in the default rounding mode.
inline void out_float32(OutFile& file, double value) {
    float single = static_cast<float>(value);
    std::uint32_t bits;
    std::memcpy(&bits, &single, 4);
    out_int32(file, static_cast<std::int32_t>(bits));
}

// An 80-byte name record: the text cut to 79 characters so a NUL always ends it, the
// rest as given in `filler` (blanks or NULs, by file kind).
inline void out_name_record(OutFile& file, const std::string& text, char filler) {
    char record[80];
    std::memset(record, filler, sizeof record);
    std::size_t n = text.size() < 79 ? text.size() : 79;
    std::memcpy(record, text.data(), n);
    record[n] = '\0';
    out_bytes(file, record, sizeof record);
}
