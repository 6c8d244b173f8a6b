// Tests of the moving-surface correction: pairs from the options, and samples shifted back
// by the displacement their reference boundary has in the transfer rows.
#include "mapping/moving_surfaces.h"

#include "platform/fatal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

const char* const full_heading =
    "Number Bound_id X Y Z F_TEMP FLUX AREA HTC B_TEMP Y_PLUS X_ORIG Y_ORIG Z_ORIG\n";

class MovingSurfaces : public ::testing::Test {
protected:
    void SetUp() override {
        settings = MapSettings{};
        reset_transfer_reader();
        standard_output.pending.clear();
    }
    void set_pairs(std::vector<ValveEntry> pairs) {
        settings.valve_entries = pairs;
        settings.num_valve_entries = static_cast<int>(pairs.size());
    }
    // Reads blocks of the text one by one, correcting each as the run does.
    void read_blocks(TransferFile& file, const std::string& text) {
        open_memory_reader(file.in, text, "transfer.out");
        ASSERT_TRUE(find_first_header(file));
    }
};

std::string block(double time, const std::string& rows) {
    return "Time= " + std::to_string(time) + "\np\np\np\np\np\np\n" + full_heading + rows;
}

TEST_F(MovingSurfaces, SamplesMoveBackByTheirReferencesDisplacement) {
    // Pair (5, 7): boundary 7 has moved 0.002 up in z, so the samples of 5 are located that
    // much lower than their original position. Pair (6, 8): 8 has no row yet, nothing moves.
    // The later pair (5, 7) replaces (5, 9).
    set_pairs({{5, 9}, {5, 7}, {6, 8}});
    init_moving_surfaces();
    EXPECT_EQ(standard_output.pending, "3 boundary entries for moving surfaces\n");
    EXPECT_EQ(boundary_reference[5], 7);
    EXPECT_EQ(boundary_reference[6], 8);
    EXPECT_EQ(boundary_reference[7], -1);

    TransferFile file;
    read_blocks(file, block(1, "1 5 1 2 3 300 1 1 2 0 0 1 2 3\n"
                               "2 6 1 2 3 300 1 1 2 0 0 1 2 3\n"
                               "3 7 4 5 6.002 300 1 1 2 0 0 4 5 6\n"
                               "4 9 9 9 9 300 1 1 2 0 0 0 0 0\n") +
                          block(2, "1 5 1 2 3 300 1 1 2 0 0 1 2 3\n"));
    read_block(file);
    correct_positions();
    EXPECT_DOUBLE_EQ(sample_pool[0].position[2], 3 - 0.002);
    EXPECT_EQ(sample_pool[0].position[0], 1.0);
    EXPECT_EQ(sample_pool[1].position[2], 3.0);  // reference 8 never seen
    EXPECT_EQ(sample_pool[2].position[2], 6.0);  // 7 itself is no moving boundary
    // The next block has no row of boundary 7: its displacement from the earlier block holds.
    read_block(file);
    correct_positions();
    EXPECT_DOUBLE_EQ(sample_pool[0].position[2], 3 - 0.002);
}

TEST_F(MovingSurfaces, NoPairsOrOlderLayoutMoveNothing) {
    init_moving_surfaces();
    EXPECT_EQ(standard_output.pending, "0 boundary entries for moving surfaces\n");
    TransferFile file;
    read_blocks(file, block(1, "1 5 1 2 3 300 1 1 2 0 0 1 2 2\n"));
    read_block(file);
    correct_positions();
    EXPECT_EQ(sample_pool[0].position[2], 2.0);

    // The older layout knows no displacement: positions are the rows' X, Y, Z.
    reset_transfer_reader();
    set_pairs({{5, 7}});
    init_moving_surfaces();
    std::string older = "Time= 1\np\np\np\np\np\np\nNumber Bound_id X Y Z F_TEMP FLUX AREA HTC\n"
                        "1 7 4 5 6 300 1 1 2\n1 5 1 2 3 300 1 1 2\n";
    read_blocks(file, older);
    read_block(file);
    correct_positions();
    EXPECT_EQ(sample_pool[1].position[0], 1.0);
    EXPECT_EQ(sample_pool[1].position[2], 3.0);
}

}  // namespace
