// mapping/transfer.cpp: the transfer.out reader. Blocks of boundary-cell rows are parsed
// into the pooled CellDataPoint records, and each boundary's latest displacement is kept
// for the moving-surface correction.
//
// Real runs give gigabytes of rows, so a row is scanned once, word by word, straight out of
// the line reader's block buffer, and each number is converted as it is found.
#include "mapping/transfer.h"

#include "platform/fatal.h"
#include "platform/numbers.h"
#include "platform/threads.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>

std::vector<CellDataPoint> sample_pool;
std::vector<double> sample_extra;
int sample_count = 0;
std::string time_unit;
int boundary_count = 0;
double boundary_displacement[max_boundaries][3];
ColumnLayout column_layout;

namespace {

const char* const expected_columns[14] = {"Number", "Bound_id", "X",      "Y",      "Z",
                                          "F_TEMP", "FLUX",     "AREA",   "HTC",    "B_TEMP",
                                          "Y_PLUS", "X_ORIG",   "Y_ORIG", "Z_ORIG"};
constexpr int full_columns = 14;
constexpr int legacy_columns = 9;  // Number to HTC

// Input lines: blank, tab and CR separate words (a LF never reaches here); '#' or '!'
// ends what the line says, wherever it stands.
enum : unsigned char { other_char = 0, separator_char = 1, comment_char = 2 };
constexpr std::array<unsigned char, 256> char_class = [] {
    std::array<unsigned char, 256> table{};
    table[' '] = table['\t'] = table['\r'] = table['\n'] = separator_char;
    table['#'] = table['!'] = comment_char;
    return table;
}();

inline unsigned char class_of(char c) { return char_class[static_cast<unsigned char>(c)]; }

constexpr double exact_powers_of_ten[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool is_digit(char c) { return static_cast<unsigned>(c - '0') < 10; }

// Eight digits at a time, as 8-byte words: a row is mostly digits.
inline std::uint64_t load_eight(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

// How many of the word's bytes, from the first, are decimal digits. A carry out of a
// non-digit byte only reaches the bytes after it, which no longer count.
inline int leading_digit_count(std::uint64_t word) {
    constexpr std::uint64_t high = 0xF0F0F0F0F0F0F0F0ull, zeros = 0x3030303030303030ull;
    std::uint64_t non_digit =
        ((word & high) ^ zeros) | (((word + 0x0606060606060606ull) & high) ^ zeros);
    return non_digit ? std::countr_zero(non_digit) >> 3 : 8;
}

// The value of the first `count` (1 to 8) digits of the word.
inline std::uint32_t digits_value(std::uint64_t word, int count) {
    word -= 0x3030303030303030ull;
    word <<= (8 - count) * 8;  // drops the bytes after the digits, leading zeros come in
    word = word * 10 + (word >> 8);
    word = (((word & 0x000000FF000000FFull) * 0x000F424000000064ull) +
            (((word >> 16) & 0x000000FF000000FFull) * 0x0000271000000001ull)) >> 32;
    return static_cast<std::uint32_t>(word);
}

// Appends the run of digits at p to `value` (wrapping past 19 digits, where callers give
// up) and adds their number to `count`; returns the end of the run.
inline const char* scan_digits(const char* p, const char* end, std::uint64_t& value, int& count) {
    const char* begin = p;
    while (p < end && is_digit(*p)) {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    count += static_cast<int>(p - begin);
    return p;
}

// The form the solver writes, "d.dddddde+ddd" (or with two exponent digits), after any
// sign: the seven digits are read as one 8-byte word with the point taken out. False for
// any other form; `after` is where the exponent ends (the caller checks the word ends).
inline bool read_solver_form(const char* q, const char* end, std::uint64_t& mantissa,
                             int& power, const char*& after) {
    if constexpr (std::endian::native != std::endian::little) return false;
    if (end - q < 12) return false;
    std::uint64_t word = load_eight(q);
    std::uint64_t digits = (word & 0xFFFFFFFFFFFF0000ull) | ((word & 0xFF) << 8) | 0x30;
    if (((word >> 8) & 0xFF) != '.' || leading_digit_count(digits) != 8) return false;
    if ((q[8] | 0x20) != 'e' || (q[9] != '+' && q[9] != '-') || !is_digit(q[10]) ||
        !is_digit(q[11]))
        return false;
    int exponent = (q[10] - '0') * 10 + (q[11] - '0');
    const char* p = q + 12;
    if (p < end && is_digit(*p)) exponent = exponent * 10 + (*p++ - '0');
    int sign = 1 - 2 * (q[9] == '-');
    mantissa = digits_value(digits, 8);
    power = sign * exponent - 6;
    after = p;
    return true;
}

// An exact integer times an exact power of ten with one correctly rounded operation:
// strtod's own answer. The sign is applied without a branch: signs are random in real data.
inline double exact_product(std::uint64_t mantissa, int power, bool negative) {
    // Below 2^53, so the signed conversion (one instruction) is exact.
    double m = static_cast<double>(static_cast<std::int64_t>(mantissa));
    double magnitude = power < 0 ? m / exact_powers_of_ten[-power] : m * exact_powers_of_ten[power];
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) ^
                                 (std::uint64_t(negative) << 63));
}

// The words of one line, taken one at a time.
struct WordScanner {
    const char* at;
    const char* end;

    // Moves to the next word; false when the line (or its text before a comment) is done.
    bool skip_to_word() {
        while (at < end && class_of(*at) == separator_char) ++at;
        if (at < end && class_of(*at) == other_char) return true;
        at = end;
        return false;
    }

    std::string_view take_word() {
        const char* begin = at;
        while (at < end && class_of(*at) == other_char) ++at;
        return std::string_view(begin, at - begin);
    }

    bool next_word(std::string_view& word) {
        if (!skip_to_word()) return false;
        word = take_word();
        return true;
    }

    bool word_ends_at(const char* p) const { return p == end || class_of(*p) != other_char; }

    // The next word as strtod reads it. Forms of up to 19 digits whose power of ten lies
    // within 1e22 (the solver's %e, and %f and %g alike) are exact_product's; everything
    // else goes to read_real.
    bool next_real(double& value) {
        if (!skip_to_word()) return false;
        const char* p = at;
        bool negative = *p == '-';
        p += negative;
        std::uint64_t mantissa = 0;
        int power = 0;
        const char* after;
        if (read_solver_form(p, end, mantissa, power, after) && word_ends_at(after) &&
            power >= -22 && power <= 22) {
            value = exact_product(mantissa, power, negative);
            at = after;
            return true;
        }
        mantissa = 0;
        int digit_count = 0;
        p = scan_digits(p, end, mantissa, digit_count);
        int fraction_digits = 0;
        if (p < end && *p == '.') {
            ++p;
            p = scan_digits(p, end, mantissa, fraction_digits);
            digit_count += fraction_digits;
        }
        bool plain = digit_count > 0 && digit_count <= 19;
        int exponent = 0;
        if (plain && p < end && (*p | 0x20) == 'e') {
            ++p;
            bool negative_exponent = p < end && *p == '-';
            p += p < end && (*p == '-' || *p == '+');
            std::uint64_t magnitude = 0;
            int exponent_digits = 0;
            p = scan_digits(p, end, magnitude, exponent_digits);
            plain = exponent_digits > 0 && exponent_digits <= 5;
            exponent = negative_exponent ? -static_cast<int>(magnitude) : static_cast<int>(magnitude);
        }
        power = exponent - fraction_digits;
        if (plain && word_ends_at(p) && mantissa <= (std::uint64_t(1) << 53) && power >= -22 &&
            power <= 22) {
            value = exact_product(mantissa, power, negative);
            at = p;
            return true;
        }
        value = read_real(take_word());
        return true;
    }

    // The next word as a base-10 integer, as strtol reads it.
    bool next_int(int& value) {
        if (!skip_to_word()) return false;
        const char* p = at;
        bool negative = *p == '-';
        if (negative) ++p;
        const char* digits_begin = p;
        int magnitude = 0;
        while (p < end && static_cast<unsigned>(*p - '0') < 10 && p - digits_begin < 9) {
            magnitude = magnitude * 10 + (*p - '0');
            ++p;
        }
        if (p > digits_begin && word_ends_at(p)) {
            value = negative ? -magnitude : magnitude;
            at = p;
            return true;
        }
        value = read_int(take_word());
        return true;
    }
};

// A line that says something: its scanner stands after the first word.
struct SignificantLine {
    std::string_view text;  // the line, without its line end
    std::string_view first_word;
    WordScanner rest;
};

bool next_significant_line(LineReader& in, SignificantLine& line) {
    std::string_view text;
    while (next_line(in, text)) {
        WordScanner scanner{text.data(), text.data() + text.size()};
        if (!scanner.skip_to_word()) continue;  // blank, or a comment from its first word
        line.text = text;
        line.first_word = scanner.take_word();
        line.rest = scanner;
        return true;
    }
    return false;
}

void take_header(TransferFile& file, const SignificantLine& line) {
    file.header.assign(line.text);
    file.header_line = file.in.line_number;
    file.has_header = true;
}

// Where a block is read to: the current block's pool and reader state, or a read ahead's own.
struct BlockTarget {
    std::vector<CellDataPoint>& pool;
    std::vector<double>& extra;
    int& count;
    std::string& unit;
    ColumnLayout& layout;
    int& boundary_count;
    double (*displacement)[3];
    unsigned char* moved = nullptr;  // per boundary, set when a row gave its displacement
    const std::atomic<bool>* cancel = nullptr;  // a read ahead that is no longer wanted
};

// The heading line: the column names, the additional columns taken into the mapping and
// the layout, decided once for the whole run.
void interpret_headings(const LineReader& in, const SignificantLine& line, ColumnLayout& layout) {
    std::string_view text = line.text;
    int cut = comment_start(text);
    if (cut >= 0) text = text.substr(0, cut);
    // The line is shown as it was always shown: with its own line end unless a comment cut it.
    std::string shown(text);
    if (cut < 0 && in.line_had_end) shown.push_back('\n');
    say("\nTransfer.out data column headings:\n%s\n", shown.c_str());

    bool take_additional = settings.map_additional_variables == 1;
    bool convective = settings.use_convective_ht == 1;
    std::vector<std::string>& names = layout.extra_names;
    names.clear();
    int flux_conv = -1, htc_conv = -1;
    WordScanner scanner{text.data(), text.data() + text.size()};
    std::string_view word;
    int columns = 0;
    while (scanner.next_word(word)) {
        ++columns;
        std::string name(word);
        if (columns <= full_columns) {
            if (word != expected_columns[columns - 1])
                say("\nWARNING: expected column %s in transfer.out, read %s\n",
                    expected_columns[columns - 1], name.c_str());
        } else if (take_additional) {
            // Each additional column costs a value per sample, triangle and vertex.
            if (names.size() >= max_extra_columns)
                fatal("ERROR: %s line %d: more than %d additional columns; at most %d are "
                      "mapped\n",
                      in.name.c_str(), in.line_number, static_cast<int>(max_extra_columns),
                      static_cast<int>(max_extra_columns));
            names.push_back(name);
            say("Found additional data column %s in transfer.out, including in output.\n",
                name.c_str());
            if (convective) {
                int index = static_cast<int>(names.size()) - 1;
                if (word == "FLUX_CONV") flux_conv = index;
                if (word == "HTC_CONV") htc_conv = index;
            }
        } else {
            say("Not including additional column data (%s) because map_additional_variables "
                "set to 0\n",
                name.c_str());
        }
    }

    layout.legacy = false;
    if (columns > 0 && columns < full_columns) {
        if (columns < 8) fatal("ERROR: less than 8 columns of data found in transfer.out\n");
        // The older layout has no additional columns, so none are mapped, convective or not.
        layout.legacy = true;
        convective = false;
        say("Less than 13 columns of data found in transfer.out\n");
        say("A legacy transfer.out (pre v1.4.1) is being used so boundary motion will not be "
            "supported\n");
    }
    layout.flux_conv_extra = layout.htc_conv_extra = -1;
    if (convective) {
        if (flux_conv >= 0 && htc_conv >= 0) {
            say("Using convective HTC and Flux for mapping (use_convective_ht set to 1)\n");
            layout.flux_conv_extra = flux_conv;
            layout.htc_conv_extra = htc_conv;
        } else {
            fatal("Error: use_convective_ht set to 1, but HTC_CONV and FLUX_CONV not found in "
                  "transfer.out\n");
        }
    }
    layout.decided = true;
}

// Makes a layout the current one. The settings that the older layout turns off are turned
// off too, for the mapping code that still reads them there.
void adopt_layout(const ColumnLayout& layout) {
    column_layout = layout;
    extra_names = layout.extra_names;
    if (layout.legacy) {
        settings.map_additional_variables = 0;
        settings.use_convective_ht = 0;
    }
}

[[noreturn]] void refuse_short_row(const LineReader& in, int needed, int found) {
    fatal("ERROR: %s line %d: a data row needs at least %d values, found %d\n", in.name.c_str(),
          in.line_number, needed, found);
}

// What a block's rows hold, taken out of its layout once: the row loop keeps it in registers.
struct RowShape {
    bool legacy;
    std::size_t extra_count;
};

// One data row into pool record `index`. The first word (Number) is already behind `row`.
void parse_row(const LineReader& in, WordScanner row, BlockTarget& target, const RowShape& shape,
               int index, int& boundaries) {
    const bool legacy = shape.legacy;
    const std::size_t extra_count = shape.extra_count;
    if (index == static_cast<int>(target.pool.size())) {
        target.pool.emplace_back();
        target.extra.resize(target.pool.size() * extra_count);
    }
    CellDataPoint& sample = target.pool[index];

    int id = 0;
    if (!row.next_int(id)) refuse_short_row(in, legacy ? legacy_columns : full_columns, 1);
    if (id < 0)
        fatal("ERROR: %s line %d: boundary ID %d is negative\n", in.name.c_str(), in.line_number,
              id);
    // The boundary tables stop short of max_boundaries - 1: 499 is refused already.
    if (id >= max_boundaries - 1)
        fatal("ERROR: the maximum boundaries is currently %d\n%s line %d: boundary ID %d\n",
              max_boundaries, in.name.c_str(), in.line_number, id);
    if (id + 1 > boundaries) boundaries = id + 1;
    sample.bound_id = id;

    double values[full_columns - 2];  // tokens 3 to 14
    int wanted = (legacy ? legacy_columns : full_columns) - 2;
    for (int k = 0; k < wanted; ++k)
        if (!row.next_real(values[k])) refuse_short_row(in, wanted + 2, k + 2);

    sample.fluid_temp = values[3];
    sample.flux = values[4];
    sample.area = values[5];
    sample.htc = values[6];
    double* displacement = target.displacement[id];
    if (target.moved) target.moved[id] = 1;
    if (legacy) {
        sample.boundary_temp = 0;
        sample.yplus = 0;
        for (int axis = 0; axis < 3; ++axis) {
            sample.position[axis] = values[axis];
            displacement[axis] = 0;
        }
    } else {
        sample.boundary_temp = values[7];
        sample.yplus = values[8];
        for (int axis = 0; axis < 3; ++axis) {
            displacement[axis] = values[axis] - values[9 + axis];
            sample.position[axis] = values[9 + axis];
        }
    }

    if (extra_count > 0) {
        double* extra = target.extra.data() + index * extra_count;
        std::size_t k = 0;
        while (k < extra_count && row.next_real(extra[k])) ++k;
        for (; k < extra_count; ++k) extra[k] = 0;  // a short row: the rest reads as 0
    }
}

// The block whose header is in hand, into the target; leaves the next header in hand.
BlockInfo read_block_into(TransferFile& file, BlockTarget& target) {
    BlockInfo block;
    if (!file.has_header) return block;
    file.has_header = false;

    {
        WordScanner header{file.header.data(), file.header.data() + file.header.size()};
        std::string_view word;
        header.next_word(word);
        bool crank = word == "Crank";
        if (crank) header.next_word(word);  // the word between "Crank" and the angle
        if (!header.next_word(word))
            fatal("ERROR: %s line %d: block header \"%s\" has no time value\n",
                  file.in.name.c_str(), file.header_line, file.header.c_str());
        block.time = read_real(word);
        target.unit = crank ? "CA" : "s";
    }
    say("Reading in transfer data from time = %e %s\n", block.time, target.unit.c_str());
    target.count = 0;
    // The pool may have been filled under another layout.
    std::size_t extra_size = target.pool.size() * target.layout.extra_names.size();
    if (target.extra.size() != extra_size) target.extra.resize(extra_size);

    // Six preamble lines and the heading line; header words among them start nothing.
    SignificantLine line;
    auto finish = [&] {
        block.sample_count = target.count;
        block.end_offset = line_reader_offset(file.in);
        return block;
    };
    for (int skipped = 0; skipped < 6; ++skipped)
        if (!next_significant_line(file.in, line)) return finish();
    if (!next_significant_line(file.in, line)) return finish();
    if (!target.layout.decided) {
        interpret_headings(file.in, line, target.layout);
        target.extra.resize(target.pool.size() * target.layout.extra_names.size());
    }

    const ColumnLayout& layout = target.layout;
    const RowShape shape{layout.legacy, layout.extra_names.size()};
    int count = 0, boundaries = target.boundary_count;
    while (next_significant_line(file.in, line)) {
        if (is_block_header_word(line.first_word)) {
            take_header(file, line);
            block.more_blocks = true;
            break;
        }
        parse_row(file.in, line.rest, target, shape, count, boundaries);
        ++count;
        // A read ahead that is dropped stops soon; what it read is never used.
        if ((count & 4095) == 0 && target.cancel &&
            target.cancel->load(std::memory_order_relaxed))
            break;
    }
    target.count = count;
    target.boundary_count = boundaries;
    // The pool grew by doubling while the first block came in; it is kept for the whole run,
    // so the room beyond its rows goes back once (blocks are mostly of one size).
    if (target.pool.capacity() - target.pool.size() > target.pool.size() / 8) {
        target.pool.shrink_to_fit();
        target.extra.shrink_to_fit();
    }
    return finish();
}

}  // namespace

void reset_transfer_reader() {
    sample_pool.clear();
    sample_extra.clear();
    sample_count = 0;
    time_unit.clear();
    column_layout = ColumnLayout{};
    boundary_count = 0;
    std::memset(boundary_displacement, 0, sizeof boundary_displacement);
    extra_names.clear();
}

void release_sample_pool() {
    std::vector<CellDataPoint>().swap(sample_pool);
    std::vector<double>().swap(sample_extra);
    sample_count = 0;
}

bool find_first_header(TransferFile& file, const std::string& name) {
    if (!open_line_reader(file.in, name))
        fatal("ERROR: transfer data file %s could not be opened\n", name.c_str());
    return find_first_header(file);
}

bool find_first_header(TransferFile& file) {
    file.has_header = false;
    SignificantLine line;
    while (next_significant_line(file.in, line)) {
        if (is_block_header_word(line.first_word)) {
            take_header(file, line);
            return true;
        }
    }
    say("\nWARNING: no block header (a line starting with \"Time=\" or \"Crank\") found in "
        "transfer data file %s, skipping it\n",
        file.in.name.c_str());
    return false;
}

BlockInfo read_block(TransferFile& file) {
    // A heading line is read into a layout of its own, made current as a whole.
    ColumnLayout pending_layout;
    bool pending = !column_layout.decided;
    ColumnLayout& layout = pending ? pending_layout : column_layout;
    BlockTarget target{sample_pool, sample_extra,   sample_count,         time_unit,
                       layout,      boundary_count, boundary_displacement};
    BlockInfo block = read_block_into(file, target);
    if (pending && layout.decided) adopt_layout(layout);
    return block;
}

// A block read on a thread of its own, into a pool and state of its own.
struct ReadAhead {
    std::vector<CellDataPoint> pool;
    std::vector<double> extra;
    int count = 0;
    std::string unit;
    ColumnLayout layout;
    int boundaries = 0;  // largest bound_id + 1 of the block
    double displacement[max_boundaries][3];
    unsigned char moved[max_boundaries];
    BlockInfo block;
    HeldOutput held;
    std::atomic<bool> cancel{false};
    std::thread thread;
    bool running = false;

    void start(TransferFile& file) {
        layout = column_layout;
        // Blocks are mostly of one size: room for the current block's rows at once spares
        // this pool the copies of growing row by row while the current one is full.
        if (pool.capacity() < sample_pool.size()) pool.reserve(sample_pool.size());
        std::size_t extra_size = sample_pool.size() * layout.extra_names.size();
        if (extra.capacity() < extra_size) extra.reserve(extra_size);
        boundaries = 0;
        std::memset(moved, 0, sizeof moved);
        held = HeldOutput{};
        block = BlockInfo{};
        cancel.store(false);
        try {
            thread = std::thread([this, &file] {
                hold_output(&held);
                BlockTarget target{pool,       extra,        count, unit,   layout,
                                   boundaries, displacement, moved, &cancel};
                try {
                    block = read_block_into(file, target);
                } catch (const HeldStop&) {
                    // Held, with its message, until the block would have been read.
                }
                hold_output(nullptr);
            });
            running = true;
        } catch (const std::system_error&) {
            running = false;  // no thread to be had: the block is read when it is wanted
        }
    }

    void wait() {
        if (!running) return;
        thread.join();
        running = false;
    }

    void drop() {
        cancel.store(true);
        wait();
    }

    // The block read becomes the current one, with all it said, as if read just now.
    BlockInfo make_current() {
        wait();
        release_held_output(held);  // ends the run here when the read failed
        std::swap(sample_pool, pool);
        std::swap(sample_extra, extra);
        sample_count = count;
        time_unit = unit;
        if (!column_layout.decided && layout.decided) adopt_layout(layout);
        boundary_count = std::max(boundary_count, boundaries);
        for (int id = 0; id < max_boundaries; ++id)
            if (moved[id])
                std::memcpy(boundary_displacement[id], displacement[id], sizeof displacement[id]);
        return block;
    }
};

namespace {

// The read ahead under way, stopped before the process ends early.
ReadAhead* active_read_ahead = nullptr;

void stop_active_read_ahead() {
    if (active_read_ahead) active_read_ahead->drop();
}

}  // namespace

BlockReader::BlockReader(TransferFile& file) : file_(file), ahead_(nullptr) {}

BlockReader::~BlockReader() {
    if (!ahead_) return;
    ahead_->drop();
    if (active_read_ahead == ahead_) active_read_ahead = nullptr;
    delete ahead_;
}

BlockInfo BlockReader::next() {
    if (ahead_ && ahead_->running) {
        BlockInfo block = ahead_->make_current();
        active_read_ahead = nullptr;
        return block;
    }
    return read_block(file_);
}

void BlockReader::read_ahead() {
    if (ahead_ && ahead_->running) return;  // the next block is under way already
    if (thread_count() <= 1 || !file_.has_header) return;
    if (!ahead_) ahead_ = new ReadAhead;
    ahead_->start(file_);
    active_read_ahead = ahead_;
    stop_background_work = stop_active_read_ahead;
}
