// Tests of the block reader that reads the next block on a thread of its own: for every
// thread count it must give the blocks, the reader state and the console text of read_block,
// in the same order relative to what the caller prints between blocks.
#include "mapping/transfer.h"

#include "platform/fatal.h"
#include "platform/threads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const char* const heading =
    "Number Bound_id X Y Z F_TEMP FLUX AREA HTC B_TEMP Y_PLUS X_ORIG Y_ORIG Z_ORIG FLUX_CONV "
    "HTC_CONV Q";

std::string block(const std::string& header, const std::string& rows) {
    return header + "\np1\np2\np3\np4\np5\np6\n" + heading + "\n" + rows;
}

// Blocks of different sizes (the two pools grow unevenly), a boundary that moves in one
// block and is absent from the next (its displacement is kept), a header with a comment,
// the crank angle unit, rows short of their extras and a block without rows.
std::string many_blocks() {
    std::string text = "banner\n";
    for (int b = 0; b < 9; ++b) {
        std::string rows;
        int count = (b * 37) % 11 + (b == 4 ? 0 : 1) * 3;
        if (b == 4) count = 0;
        for (int r = 0; r < count; ++r) {
            int id = b % 3 == 2 && r % 2 ? 7 : 1 + r % 3;
            char row[256];
            std::snprintf(row, sizeof row,
                          "%d %d %.6e %.6e 0.5 %d 1.5e3 2e-6 %d 290 1 %.6e 0.25 0.5 %d %d%s\n",
                          r + 1, id, 0.01 * r + b, 0.25 + 0.001 * b, 300 + b, 10 + r, 0.01 * r,
                          -r, 20 + b, r % 4 == 1 ? "" : " 7.25");
            rows += row;
        }
        if (b % 4 == 3) rows += "# a comment between rows\n\n";
        std::string header = b % 2 ? "Crank angle " + std::to_string(360 + b) + " # deg"
                                   : "Time= " + std::to_string(0.001 * (b + 1));
        text += block(header, rows);
    }
    return text;
}

// What the caller can see after each block became current, with the console text so far.
struct Seen {
    BlockInfo info;
    std::string unit;
    std::vector<CellDataPoint> samples;
    std::vector<double> extras;
    int boundaries = 0;
    std::vector<double> displacement;
    std::string output;

    bool operator==(const Seen& o) const {
        auto same_samples = [&] {
            if (samples.size() != o.samples.size()) return false;
            for (std::size_t k = 0; k < samples.size(); ++k) {
                const CellDataPoint &a = samples[k], &b = o.samples[k];
                if (a.bound_id != b.bound_id || a.fluid_temp != b.fluid_temp ||
                    a.boundary_temp != b.boundary_temp || a.flux != b.flux || a.htc != b.htc ||
                    a.yplus != b.yplus || a.area != b.area ||
                    std::memcmp(a.position, b.position, sizeof a.position) != 0)
                    return false;
            }
            return true;
        };
        return info.time == o.info.time && info.sample_count == o.info.sample_count &&
               info.more_blocks == o.info.more_blocks && info.end_offset == o.info.end_offset &&
               unit == o.unit && same_samples() && extras == o.extras &&
               boundaries == o.boundaries && displacement == o.displacement &&
               output == o.output;
    }
};

std::string take_output() {
    std::string text = standard_output.pending;
    standard_output.pending.clear();
    return text;
}

Seen snapshot() {
    Seen s;
    s.unit = time_unit;
    s.samples.assign(sample_pool.begin(), sample_pool.begin() + sample_count);
    s.extras.assign(sample_extra.begin(), sample_extra.begin() + sample_count * extra_names.size());
    s.boundaries = boundary_count;
    s.displacement.assign(&boundary_displacement[0][0], &boundary_displacement[0][0] + 3 * 10);
    return s;
}

// The run's loop: each block is made current, the caller says something of its own (as a
// mapped step does), and the next block is read ahead while it does.
std::vector<Seen> read_through(const std::string& text, bool ahead, bool capture = true) {
    reset_transfer_reader();
    TransferFile file;
    open_memory_reader(file.in, text, "transfer.out");
    std::vector<Seen> seen;
    if (!find_first_header(file)) return seen;
    BlockReader reader(file);
    for (;;) {
        BlockInfo info = ahead ? reader.next() : read_block(file);
        Seen s = snapshot();
        s.info = info;
        if (info.more_blocks && ahead) {
            reader.read_ahead();
            reader.read_ahead();  // asked twice: still the one block ahead
            // Nothing of the next block shows before it becomes current.
            Seen during = snapshot();
            during.info = info;
            EXPECT_TRUE(during == s) << "block " << seen.size();
        }
        say("step %d mapped\n", static_cast<int>(seen.size()));
        if (capture) s.output = take_output();
        seen.push_back(s);
        if (!info.more_blocks) break;
    }
    return seen;
}

class BlockReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings = MapSettings{};
        settings.map_additional_variables = 1;
        settings.use_convective_ht = 1;
        standard_output.pending.clear();
    }
    void TearDown() override {
        set_thread_count(0);
        standard_output.pending.clear();
    }
};

using BlockReaderDeathTest = BlockReaderTest;

TEST_F(BlockReaderTest, EveryThreadCountGivesTheBlocksOfOneThread) {
    std::string text = many_blocks();
    std::vector<Seen> expected = read_through(text, false);
    ASSERT_EQ(expected.size(), 9u);
    EXPECT_THAT(expected[0].output, HasSubstr("Using convective HTC and Flux"));
    EXPECT_EQ(expected[5].unit, "CA");
    EXPECT_EQ(expected[4].info.sample_count, 0);
    for (int threads : {1, 2, 7}) {
        set_thread_count(threads);
        std::vector<Seen> seen = read_through(text, true);
        ASSERT_EQ(seen.size(), expected.size()) << threads;
        for (std::size_t b = 0; b < seen.size(); ++b)
            EXPECT_TRUE(seen[b] == expected[b]) << threads << " threads, block " << b << ":\n"
                                                << seen[b].output << "against\n"
                                                << expected[b].output;
        EXPECT_EQ(column_layout.flux_conv_extra, 0);
        EXPECT_EQ(extra_names.size(), 3u);
    }
}

TEST_F(BlockReaderTest, ADroppedReadAheadLeavesNoTrace) {
    // The window ended: the block read ahead is never made current, and its failure is never
    // reported.
    set_thread_count(2);
    std::string text = block("Time= 1", "1 1 0 0 0 300 1 1 2 0 0 0 0 0 1 2 3\n") +
                       block("Time= 2", "1 -1 0 0 0 300 1 1 2 0 0 0 0 0 1 2 3\n");
    TransferFile file;
    open_memory_reader(file.in, text, "transfer.out");
    ASSERT_TRUE(find_first_header(file));
    {
        BlockReader reader(file);
        BlockInfo info = reader.next();
        ASSERT_TRUE(info.more_blocks);
        reader.read_ahead();
    }
    std::string out = take_output();
    EXPECT_THAT(out, HasSubstr("time = 1.000000e+000"));
    EXPECT_THAT(out, Not(HasSubstr("time = 2.000000e+000")));
    EXPECT_EQ(sample_count, 1);
    EXPECT_EQ(time_unit, "s");
}

// fatal() writes to standard output, which EXPECT_EXIT does not see: the child sends it to
// standard error first.
void read_through_to_stderr(const std::string& text) {
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    read_through(text, true, false);
    flush_say();
}

TEST_F(BlockReaderDeathTest, AFailureAheadIsReportedAfterTheStepBefore) {
    std::string text = block("Time= 1", "1 1 0 0 0 300 1 1 2 0 0 0 0 0 1 2 3\n") +
                       block("Time= 2", "1 1 0 0 0 300 1 1 2 0 0 0 0 0 1 2 3\n") +
                       block("Time= 3",
                             "1 1 0 0 0 300 1 1 2 0 0 0 0 0 1 2 3\n"
                             "2 1 0 0 0 300 1 1 2 0 0 0 0 0\n"
                             "3 1 0 0 0 300 1 1 2 0 0 0 0\n") +
                       block("Time= 4", "1 1 0 0 0 300 1 1 2 0 0 0 0 0 1 2 3\n");
    // Line 1 the first header, nine lines a block: the third block's short row is line 29.
    const char* expected = "step 1 mapped\nReading in transfer data from time = 3.000000e\\+000 s\n"
                           "ERROR: transfer.out line 29: a data row needs at least 14 values, "
                           "found 13\n$";
    for (int threads : {1, 2, 7}) {
        set_thread_count(threads);
        EXPECT_EXIT(read_through_to_stderr(text), ::testing::ExitedWithCode(1), expected)
            << threads;
    }
}

}  // namespace
