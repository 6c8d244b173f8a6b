// mapping/transfer.h: the transfer.out reader, one block at a time.
#pragma once

#include "config/options.h"
#include "platform/io.h"
#include "surface/surface.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct CellDataPoint {
    int bound_id = 0;
    double fluid_temp = 0, boundary_temp = 0, flux = 0, htc = 0;
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
extern std::string time_unit;        // "s" or "CA", of the current block's header
extern int boundary_count;           // largest bound_id + 1 so far
extern double boundary_displacement[max_boundaries][3];

// Which column is which: decided once for the whole run by the first heading line read.
struct ColumnLayout {
    bool decided = false;  // a heading line was read; until then the headings are pending
    bool legacy = false;   // fewer than 14 columns: Number to HTC only, no boundary motion
    // The additional columns taken into the mapping; extra_names while this layout is current.
    std::vector<std::string> extra_names;
    // Positions of FLUX_CONV and HTC_CONV among them when the convective columns are mapped
    // (flux_of_sample and htc_of_sample read them there); -1 otherwise.
    int flux_conv_extra = -1;
    int htc_conv_extra = -1;
};
// The layout of the current block.
extern ColumnLayout column_layout;

// The flux and HTC the mapping takes from pool record s: FLUX_CONV and HTC_CONV, among the
// additional columns, when use_convective_ht is 1 (0 while they are not known); FLUX and HTC
// otherwise.
inline double flux_of_sample(int s) {
    if (settings.use_convective_ht != 1) return sample_pool[s].flux;
    return column_layout.flux_conv_extra >= 0 ? extra_of_sample(s)[column_layout.flux_conv_extra]
                                              : 0.0;
}
inline double htc_of_sample(int s) {
    if (settings.use_convective_ht != 1) return sample_pool[s].htc;
    return column_layout.htc_conv_extra >= 0 ? extra_of_sample(s)[column_layout.htc_conv_extra]
                                             : 0.0;
}

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
    std::uint64_t end_offset = 0;  // bytes of the file behind the block, for the progress line
};

// Resets the reader state for a new run (headings pending, no boundaries, empty pool).
void reset_transfer_reader();
// Gives back the sample pool's memory once the last block is mapped: nothing after the run
// reads the samples.
void release_sample_pool();
// Opens the file and skips to its first block header; false when it holds none.
bool find_first_header(TransferFile& file, const std::string& name);
// The same for a reader already opened (a file, or memory text in the tests).
bool find_first_header(TransferFile& file);
// Reads the block whose header is in hand; leaves the next header in hand.
BlockInfo read_block(TransferFile& file);

struct ReadAhead;

// A file's blocks in turn, as read_block gives them. With more than one thread the next block
// can be read and parsed on a thread of its own while the current one is mapped, into a
// second pool: what that read says, the reader state it changes and a failure all wait until
// its block becomes current, so the run's output is the same for every thread count.
class BlockReader {
public:
    explicit BlockReader(TransferFile& file);
    ~BlockReader();  // a read ahead still under way is stopped and dropped
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // The next block becomes current: what read_block(file) would do, at this point.
    BlockInfo next();
    // Starts reading the block after the current one (whose info said more_blocks). Does
    // nothing with one thread. Until next(), the file and the read state are the reader's.
    void read_ahead();

private:
    TransferFile& file_;
    ReadAhead* ahead_;
};

// A header line's first word: exactly "Time=" or "Crank".
inline bool is_block_header_word(std::string_view word) {
    return word == "Time=" || word == "Crank";
}
