// mapping/transfer.h: the transfer.out reader, one block at a time.
#pragma once

#include "config/options.h"
#include "platform/io.h"
#include "surface/surface.h"

#include <string>
#include <string_view>
#include <vector>

struct CellDataPoint {
    int bound_id = 0;
    double fluid_temp = 0, boundary_temp = 0, flux = 0, htc = 0;
    double flux_conv = 0, htc_conv = 0;
    double yplus = 0;
    double area = 0;
    double position[3] = {0, 0, 0};  // X_ORIG, Y_ORIG, Z_ORIG in the full layout
};

constexpr int max_boundaries = 500;

// Sample pool: the first sample_count records belong to the current block; it never shrinks.
extern std::vector<CellDataPoint> sample_pool;
extern std::vector<double> sample_extra;  // extra_names.size() values per pool record
extern int sample_count;
inline double* extra_of_sample(int s) { return sample_extra.data() + s * extra_names.size(); }

constexpr std::size_t max_extra_columns = 1000;  // additional columns mapped, at most
extern std::string time_unit;        // "s" or "CA", of the latest block header
extern bool headings_pending;
extern bool legacy_layout;
extern int boundary_count;           // largest bound_id + 1 so far
extern double boundary_displacement[max_boundaries][3];

// Positions of FLUX_CONV and HTC_CONV among extra_names while use_convective_ht is 1
// (their values are also copied into flux_conv and htc_conv); -1 otherwise.
extern int flux_conv_extra;
extern int htc_conv_extra;

struct TransferFile {
    LineReader in;
    std::string header;       // the block header in hand
    bool has_header = false;
    int header_line = 0;      // its line number, for messages
};

struct BlockInfo {
    double time = 0;
    int sample_count = 0;
    bool more_blocks = false;  // a further block header follows in this file
};

// Resets the reader state for a new run (headings pending, no boundaries, empty pool).
void reset_transfer_reader();
// Opens the file and skips to its first block header; false when it holds none.
bool find_first_header(TransferFile& file, const std::string& name);
// The same for a reader already opened (a file, or memory text in the tests).
bool find_first_header(TransferFile& file);
// Reads the block whose header is in hand; leaves the next header in hand.
BlockInfo read_block(TransferFile& file);

// A header line's first word: exactly "Time=" or "Crank".
inline bool is_block_header_word(std::string_view word) {
    return word == "Time=" || word == "Crank";
}
