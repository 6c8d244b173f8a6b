// Tests of the transfer.out reader: header forms, the lines a block skips, the heading line,
// rows into the pool, boundary displacements and the refusals of bad input.
#include "mapping/transfer.h"

#include "platform/fatal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <unistd.h>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const char* const full_heading =
    "Number Bound_id X Y Z F_TEMP FLUX AREA HTC B_TEMP Y_PLUS X_ORIG Y_ORIG Z_ORIG";
const char* const preamble = "p1\np2\np3\np4\np5\np6\n";

std::string block(const std::string& header, const std::string& heading, const std::string& rows) {
    return header + "\n" + preamble + heading + "\n" + rows;
}

// What one block left in the pool, copied before the next block overwrites it.
struct BlockSeen {
    BlockInfo info;
    std::string unit;
    std::vector<CellDataPoint> samples;
    std::vector<double> extras;
};

// Reads every block of the text as the run reads a file.
std::vector<BlockSeen> read_all(const std::string& text, const std::string& name = "transfer.out") {
    TransferFile file;
    open_memory_reader(file.in, text, name);
    std::vector<BlockSeen> seen;
    if (!find_first_header(file)) return seen;
    for (;;) {
        BlockSeen b;
        b.info = read_block(file);
        b.unit = time_unit;
        b.samples.assign(sample_pool.begin(), sample_pool.begin() + sample_count);
        b.extras.assign(sample_extra.begin(),
                        sample_extra.begin() + sample_count * extra_names.size());
        seen.push_back(b);
        if (!b.info.more_blocks) break;
    }
    return seen;
}

// fatal() writes to standard output, which EXPECT_EXIT does not see: the child sends it to
// standard error first.
void read_all_to_stderr(const std::string& text, const std::string& name = "transfer.out") {
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    read_all(text, name);
}

class TransferReader : public ::testing::Test {
protected:
    void SetUp() override {
        settings = MapSettings{};
        reset_transfer_reader();
        standard_output.pending.clear();
    }
    std::string output() {
        std::string text = standard_output.pending;
        standard_output.pending.clear();
        return text;
    }
};

using TransferReaderDeathTest = TransferReader;

TEST_F(TransferReader, HeaderFormsGiveTimeAndUnit) {
    std::string text = "some banner\nTime=1.0 not a header\nCrankangle 1 2\n" +
                       block("Time= 1.5e-3", full_heading, "") +
                       block("Crank angle 360.0", full_heading, "");
    std::vector<BlockSeen> seen = read_all(text);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_DOUBLE_EQ(seen[0].info.time, 0.0015);
    EXPECT_EQ(seen[0].unit, "s");
    EXPECT_TRUE(seen[0].info.more_blocks);
    EXPECT_DOUBLE_EQ(seen[1].info.time, 360.0);
    EXPECT_EQ(seen[1].unit, "CA");
    EXPECT_FALSE(seen[1].info.more_blocks);
    std::string out = output();
    EXPECT_THAT(out, HasSubstr("Reading in transfer data from time = 1.500000e-003 s\n"));
    EXPECT_THAT(out, HasSubstr("Reading in transfer data from time = 3.600000e+002 CA\n"));
}

TEST_F(TransferReader, FullHeadingAndRowIntoPool) {
    std::vector<BlockSeen> seen = read_all(block(
        "Time= 2.0", full_heading,
        "1 3 1.0 2.0 3.5 300.0 -1.5e4 2.5e-3 125.0 290.0 30.0 0.5 1.5 3.0\n"));
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].info.sample_count, 1);
    const CellDataPoint& c = seen[0].samples[0];
    EXPECT_EQ(c.bound_id, 3);
    EXPECT_EQ(c.fluid_temp, 300.0);
    EXPECT_EQ(c.flux, -1.5e4);
    EXPECT_EQ(c.area, 2.5e-3);
    EXPECT_EQ(c.htc, 125.0);
    EXPECT_EQ(c.boundary_temp, 290.0);
    EXPECT_EQ(c.yplus, 30.0);
    // Mapped at the original position; the boundary has moved by X - X_ORIG.
    EXPECT_EQ(c.position[0], 0.5);
    EXPECT_EQ(c.position[1], 1.5);
    EXPECT_EQ(c.position[2], 3.0);
    EXPECT_EQ(boundary_displacement[3][0], 0.5);
    EXPECT_EQ(boundary_displacement[3][1], 0.5);
    EXPECT_EQ(boundary_displacement[3][2], 0.5);
    EXPECT_EQ(boundary_count, 4);
    EXPECT_FALSE(column_layout.legacy);
    EXPECT_TRUE(extra_names.empty());
    std::string out = output();
    EXPECT_THAT(out, HasSubstr(std::string("\nTransfer.out data column headings:\n") +
                               full_heading + "\n\n"));
    EXPECT_THAT(out, Not(HasSubstr("WARNING")));
}

TEST_F(TransferReader, SkippedLinesIgnoreBlanksAndComments) {
    // Comment and blank lines do not count among the six, nor as the heading line; a
    // comment after the heading names is cut off, and then the line shows without its end.
    std::string lf_text = "Time= 1.0\n\np1\n# note\np2\n   ! note\np3\n \t \np4\np5\n#\np6\n\n" +
                          std::string(full_heading) + " # cut\n" +
                          "1 0 1 2 3 4 5 6 7 8 9 10 11 12\n# between rows\n\n"
                          "2 0 1 2 3 4 5 6 7 8 9 10 11 12 ! trailing\n";
    std::vector<BlockSeen> seen = read_all(lf_text);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].info.sample_count, 2);
    std::string out = output();
    EXPECT_THAT(out, ::testing::EndsWith(std::string("headings:\n") + full_heading + " \n"));
    EXPECT_THAT(out, Not(HasSubstr("WARNING")));

    // CR LF line ends read exactly like LF.
    std::string crlf_text;
    for (char c : lf_text) {
        if (c == '\n') crlf_text += '\r';
        crlf_text += c;
    }
    reset_transfer_reader();
    std::vector<BlockSeen> crlf_seen = read_all(crlf_text);
    ASSERT_EQ(crlf_seen.size(), 1u);
    ASSERT_EQ(crlf_seen[0].info.sample_count, 2);
    EXPECT_EQ(crlf_seen[0].samples[1].position[2], 12.0);
    EXPECT_EQ(output(), out);
}

TEST_F(TransferReader, MisnamedColumnWarnsAndReadsByPosition) {
    std::string heading =
        "Number Bound_id X Y Z F_TEMP FLUX AREA htc B_TEMP Y_PLUS X_ORIG Y_ORIG Z_ORIG";
    std::vector<BlockSeen> seen =
        read_all(block("Time= 1", heading, "1 0 0 0 0 300 1 1 42 0 0 0 0 0\n"));
    EXPECT_THAT(output(), HasSubstr("\nWARNING: expected column HTC in transfer.out, read htc\n"));
    ASSERT_EQ(seen[0].info.sample_count, 1);
    EXPECT_EQ(seen[0].samples[0].htc, 42.0);
}

TEST_F(TransferReader, ThirteenColumnsAreTheOlderLayout) {
    settings.map_additional_variables = 1;
    settings.use_convective_ht = 1;
    std::string heading = "Number Bound_id X Y Z F_TEMP FLUX AREA HTC B_TEMP Y_PLUS X_ORIG Y_ORIG";
    // Older rows need only tokens 2 to 9; what follows is ignored.
    std::vector<BlockSeen> seen = read_all(
        block("Time= 1", heading, "1 2 1.0 2.0 3.0 300 10 0.5 20\n1 2 4 5 6 300 10 0.5 20 99 99\n"));
    EXPECT_TRUE(column_layout.legacy);
    EXPECT_EQ(settings.map_additional_variables, 0);
    EXPECT_EQ(settings.use_convective_ht, 0);
    std::string out = output();
    EXPECT_THAT(out, HasSubstr("Less than 13 columns of data found in transfer.out\n"
                               "A legacy transfer.out (pre v1.4.1) is being used so boundary "
                               "motion will not be supported\n"));
    ASSERT_EQ(seen[0].info.sample_count, 2);
    const CellDataPoint& c = seen[0].samples[1];
    EXPECT_EQ(c.position[0], 4.0);
    EXPECT_EQ(c.position[2], 6.0);
    EXPECT_EQ(c.htc, 20.0);
    EXPECT_EQ(c.boundary_temp, 0.0);
    EXPECT_EQ(c.yplus, 0.0);
    EXPECT_EQ(boundary_displacement[2][0], 0.0);
    EXPECT_EQ(boundary_displacement[2][2], 0.0);
}

TEST_F(TransferReader, AdditionalColumnsTakenOrNot) {
    std::string heading = std::string(full_heading) + " FLUX_CONV HTC_CONV Q";
    std::string row = "1 0 0 0 0 300 1 1 2 0 0 0 0 0 -7.5 11.0 3e2\n";

    settings.map_additional_variables = 1;
    settings.use_convective_ht = 1;
    std::vector<BlockSeen> seen = read_all(block("Time= 1", heading, row));
    EXPECT_EQ(extra_names, (std::vector<std::string>{"FLUX_CONV", "HTC_CONV", "Q"}));
    EXPECT_EQ(column_layout.flux_conv_extra, 0);
    EXPECT_EQ(column_layout.htc_conv_extra, 1);
    ASSERT_EQ(seen[0].info.sample_count, 1);
    EXPECT_EQ(seen[0].extras, (std::vector<double>{-7.5, 11.0, 300.0}));
    // The mapping takes them from the additional columns of the block in hand.
    EXPECT_EQ(flux_of_sample(0), -7.5);
    EXPECT_EQ(htc_of_sample(0), 11.0);
    std::string out = output();
    EXPECT_THAT(out, HasSubstr("Found additional data column HTC_CONV in transfer.out, "
                               "including in output.\n"));
    EXPECT_THAT(out, HasSubstr("Using convective HTC and Flux for mapping (use_convective_ht "
                               "set to 1)\n"));

    // Without use_convective_ht the columns are plain extras.
    settings = MapSettings{};
    settings.map_additional_variables = 1;
    reset_transfer_reader();
    seen = read_all(block("Time= 1", heading, row));
    EXPECT_EQ(extra_names.size(), 3u);
    EXPECT_EQ(column_layout.flux_conv_extra, -1);
    EXPECT_EQ(flux_of_sample(0), 1.0);  // FLUX
    EXPECT_EQ(htc_of_sample(0), 2.0);   // HTC
    EXPECT_THAT(output(), Not(HasSubstr("Using convective")));

    // map_additional_variables 0: named, not taken, and the row's extra words are ignored.
    settings = MapSettings{};
    reset_transfer_reader();
    seen = read_all(block("Time= 1", heading, row));
    EXPECT_TRUE(extra_names.empty());
    EXPECT_TRUE(seen[0].extras.empty());
    EXPECT_THAT(output(), HasSubstr("Not including additional column data (Q) because "
                                    "map_additional_variables set to 0\n"));
}

TEST_F(TransferReader, ManyAdditionalColumnsInLongLinesKeptWhole) {
    // 150 extra columns make lines far beyond the old 1000-character buffer.
    settings.map_additional_variables = 1;
    std::string heading = full_heading, row = "1 0 0 0 0 300 1 1 2 0 0 0 0 0";
    for (int k = 0; k < 150; ++k) {
        heading += " EXTRA_COLUMN_NUMBER_" + std::to_string(k);
        row += " " + std::to_string(k) + ".123456e+000";
    }
    ASSERT_GT(row.size(), 2000u);
    std::vector<BlockSeen> seen = read_all(block("Time= 1", heading, row + "\n" + row + "\n"));
    ASSERT_EQ(extra_names.size(), 150u);
    EXPECT_EQ(extra_names[149], "EXTRA_COLUMN_NUMBER_149");
    ASSERT_EQ(seen[0].info.sample_count, 2);
    for (int k = 0; k < 150; ++k) EXPECT_EQ(seen[0].extras[150 + k], k + 0.123456);
}

TEST_F(TransferReader, RowsShorterThanTheirExtrasReadZero) {
    settings.map_additional_variables = 1;
    std::string heading = std::string(full_heading) + " A B C";
    // The same pool record first holds three extras, then a row with one: no stale values.
    std::string text = block("Time= 1", heading, "1 0 0 0 0 300 1 1 2 0 0 0 0 0 5 6 7\n") +
                       block("Time= 2", heading, "1 0 0 0 0 300 1 1 2 0 0 0 0 0 8 # 9 9\n");
    std::vector<BlockSeen> seen = read_all(text);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].extras, (std::vector<double>{5, 6, 7}));
    EXPECT_EQ(seen[1].extras, (std::vector<double>{8, 0, 0}));
}

TEST_F(TransferReader, LaterBlocksKeepTheFirstHeadings) {
    settings.map_additional_variables = 1;
    std::string text =
        block("Time= 1", std::string(full_heading) + " A", "1 0 0 0 0 300 1 1 2 0 0 0 0 0 5\n") +
        block("Time= 2", "Number Bound_id X Y Z F_TEMP FLUX AREA HTC",
              "1 0 0 0 0 301 1 1 2 0 0 0 0 0 6\n");
    std::vector<BlockSeen> seen = read_all(text);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(column_layout.legacy);
    EXPECT_EQ(seen[1].samples[0].fluid_temp, 301.0);
    EXPECT_EQ(seen[1].extras, (std::vector<double>{6}));
    std::string out = output();
    EXPECT_THAT(out, Not(HasSubstr("WARNING")));
    EXPECT_EQ(out.find("headings"), out.rfind("headings"));  // printed once
}

TEST_F(TransferReader, BoundaryIdLimitAcceptsFourHundredNinetyEight) {
    std::vector<BlockSeen> seen =
        read_all(block("Time= 1", full_heading, "1 498 1 1 1 300 1 1 2 0 0 0 0 0\n"));
    ASSERT_EQ(seen[0].info.sample_count, 1);
    EXPECT_EQ(boundary_count, 499);
    EXPECT_EQ(boundary_displacement[498][0], 1.0);
}

TEST_F(TransferReader, BlockEndingWithTheFile) {
    // Header, its six lines and the heading, then end of file: no rows, no further block.
    std::vector<BlockSeen> seen = read_all(block("Time= 1", full_heading, ""));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].info.sample_count, 0);
    EXPECT_FALSE(seen[0].info.more_blocks);
    EXPECT_TRUE(column_layout.decided);

    // The file ends among the six lines: the headings wait for the next file.
    reset_transfer_reader();
    seen = read_all("Time= 1\np1\np2\n");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].info.sample_count, 0);
    EXPECT_FALSE(seen[0].info.more_blocks);
    EXPECT_FALSE(column_layout.decided);
}

TEST_F(TransferReader, HeaderWordsAmongTheSkippedLinesStartNoBlock) {
    // In the second block "Time= 5" and "Crank a 9" stand among the six lines and "Time= 6"
    // where the heading line goes: all are consumed as those lines.
    std::string text = block("Time= 1", full_heading, "") +
                       "Time= 2\np1\nTime= 5\np3\nCrank a 9\np5\np6\nTime= 6\n"
                       "1 0 0 0 0 300 1 1 2 0 0 0 0 0\n";
    std::vector<BlockSeen> seen = read_all(text);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].info.time, 2.0);
    EXPECT_EQ(seen[1].info.sample_count, 1);
    EXPECT_FALSE(seen[1].info.more_blocks);
}

TEST_F(TransferReader, DisplacementIsThatOfTheBoundarysLastRow) {
    std::string text =
        block("Time= 1", full_heading,
              "1 3 1 1 1.5 300 1 1 2 0 0 1 1 1\n"
              "2 3 1 1 1.25 300 1 1 2 0 0 1 1 1\n"
              "3 4 2 0 0 300 1 1 2 0 0 0 0 0\n") +
        block("Time= 2", full_heading, "1 3 1 1 1.125 300 1 1 2 0 0 1 1 1\n");
    TransferFile file;
    open_memory_reader(file.in, text, "transfer.out");
    ASSERT_TRUE(find_first_header(file));
    read_block(file);
    EXPECT_EQ(boundary_displacement[3][2], 0.25);
    EXPECT_EQ(boundary_displacement[4][0], 2.0);
    read_block(file);
    EXPECT_EQ(boundary_displacement[3][2], 0.125);
    EXPECT_EQ(boundary_displacement[4][0], 2.0);  // no row of 4 in this block: kept
}

TEST_F(TransferReader, FilesReadAsOneStream) {
    // The pool and the headings carry over from file to file; a file without any block
    // header is passed over with a warning naming it.
    settings.map_additional_variables = 1;
    std::vector<BlockSeen> first = read_all(
        block("Time= 1", std::string(full_heading) + " A",
              "1 0 0 0 0 300 1 1 2 0 0 0 0 0 5\n2 0 0 0 0 300 1 1 2 0 0 0 0 0 5\n"),
        "first.out");
    EXPECT_TRUE(read_all("no blocks\nhere at all\n", "empty.out").empty());
    EXPECT_THAT(output(), HasSubstr("empty.out"));
    std::vector<BlockSeen> third = read_all(
        block("Time= 2", "whatever", "1 1 0 0 0 301 1 1 2 0 0 0 0 0 6\n"), "third.out");
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(third[0].info.sample_count, 1);
    EXPECT_EQ(sample_pool.size(), 2u);
    EXPECT_EQ(third[0].extras, (std::vector<double>{6}));
    EXPECT_EQ(boundary_count, 2);
    EXPECT_THAT(output(), Not(HasSubstr("WARNING")));
}

// The number forms a solver writes, and the rare ones, read exactly as strtod reads them.
TEST_F(TransferReader, NumbersReadAsTheCLibraryReadsThem) {
    std::vector<std::string> words = {
        "0",          "-0",          "0.0",          "-0.000000e+000", "2.931500e+002",
        "2.931500e+02", "1.250000E-003", "-1.5",     "+1.5",           "1e5",
        "1E+05",      "5.",          ".5",           "-.5",            "nan",
        "-inf",       "inf",         "0x1p3",        "1.5d+00",        "12abc",
        "abc",        "-",           ".",            "1e",             "1e+",
        "1e400",      "-1e400",      "1e-400",       "4.9e-324",       "2.2250738585072011e-308",
        "123456789012345678901234", "0.30000000000000004", "9007199254740993",
        "1.7976931348623157e308",   "1e22",          "1e23",         "3.0e-22",
        "00000000000000000001.5",   "1e00005",       "1e000000007",
        "1.000000e+0012", "1.000000e+01x", "1.000000e+022", "-9.999999e+099", "1.000000e-300",
        "1.234567E+005", "1.234567e+5",  "12.345678e+00", "1.2345678e+000", "1.23456e+000",
        "1.234567e+00.5", "1.234567f+000", "1,234567e+000", "-1.234567e-002", "4.940656e-324"};
    std::mt19937_64 generator(20261207);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    char buffer[64];
    for (int i = 0; i < 3000; ++i) {
        double value = mantissa(generator) * std::pow(10.0, exponent(generator));
        const char* forms[] = {"%e", "%.9e", "%g", "%f", "%.17g", "%.3f", "%E"};
        std::snprintf(buffer, sizeof buffer, forms[i % 7], value);
        words.push_back(buffer);
        // Three-digit exponents, as the reference platform writes them.
        std::snprintf(buffer, sizeof buffer, "%e", value);
        std::string three(buffer);
        std::size_t e = three.find('e');
        three.insert(e + 2, "0");
        words.push_back(three);
    }
    for (int i = 0; i < 200; ++i) words.push_back(std::to_string(int(generator() % 2000001) - 1000000));

    std::string rows;
    for (const std::string& w : words)
        rows += "1 0 " + w + " 0 0 " + w + " 0 0 0 0 0 " + w + " 0 0\n";
    std::vector<BlockSeen> seen = read_all(block("Time= 1", full_heading, rows));
    ASSERT_EQ(seen[0].info.sample_count, static_cast<int>(words.size()));
    for (std::size_t i = 0; i < words.size(); ++i) {
        double expected = std::strtod(words[i].c_str(), nullptr);
        const CellDataPoint& c = seen[0].samples[i];
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(c.fluid_temp)) << words[i];
            continue;
        }
        // Bitwise equal, so that -0 and 0 differ.
        EXPECT_EQ(std::memcmp(&c.fluid_temp, &expected, sizeof expected), 0)
            << words[i] << " read " << c.fluid_temp << ", strtod " << expected;
        EXPECT_EQ(std::memcmp(&c.position[0], &expected, sizeof expected), 0) << words[i];
    }
}

TEST_F(TransferReader, BoundaryIdsReadAsStrtolReadsThem) {
    std::string rows = "1 7 0 0 0 1 0 0 0 0 0 0 0 0\n"
                       "1 +8 0 0 0 1 0 0 0 0 0 0 0 0\n"
                       "1 9.7 0 0 0 1 0 0 0 0 0 0 0 0\n"
                       "1 abc 0 0 0 1 0 0 0 0 0 0 0 0\n"
                       "1 010 0 0 0 1 0 0 0 0 0 0 0 0\n"
                       "1 -0 0 0 0 1 0 0 0 0 0 0 0 0\n";
    std::vector<BlockSeen> seen = read_all(block("Time= 1", full_heading, rows));
    ASSERT_EQ(seen[0].info.sample_count, 6);
    int expected[] = {7, 8, 9, 0, 10, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(seen[0].samples[i].bound_id, expected[i]) << i;
}

TEST_F(TransferReaderDeathTest, BadInputIsRefusedNamingFileAndLine) {
    // Line numbers: header 1, six lines 2-7, heading 8, first row 9.
    EXPECT_EXIT(read_all_to_stderr(block("Time= 1", full_heading,
                                         "1 0 0 0 0 1 0 0 0 0 0 0 0 0\n"
                                         "1 499 0 0 0 1 0 0 0 0 0 0 0 0\n")),
                ::testing::ExitedWithCode(1),
                "ERROR: the maximum boundaries is currently 500\ntransfer.out line 10");
    EXPECT_EXIT(read_all_to_stderr(block("Time= 1", full_heading,
                                         "1 -1 0 0 0 1 0 0 0 0 0 0 0 0\n"),
                                   "run3/transfer.out"),
                ::testing::ExitedWithCode(1),
                "ERROR: run3/transfer.out line 9: boundary ID -1 is negative");
    EXPECT_EXIT(read_all_to_stderr(block("Time= 1", full_heading,
                                         "1 0 0 0 0 1 0 0 0 0 0 0 0\n")),
                ::testing::ExitedWithCode(1),
                "ERROR: transfer.out line 9: a data row needs at least 14 values, found 13");
    EXPECT_EXIT(read_all_to_stderr(block("Time= 1", "Number Bound_id X Y Z F_TEMP FLUX AREA HTC",
                                         "1 0 0 0 0 1 0 0 0 0\n1 0 0 0 0 1 0 0 # 5\n")),
                ::testing::ExitedWithCode(1),
                "ERROR: transfer.out line 10: a data row needs at least 9 values, found 8");
    EXPECT_EXIT(read_all_to_stderr(block("Time=", full_heading, "")),
                ::testing::ExitedWithCode(1),
                "ERROR: transfer.out line 1: block header \"Time=\" has no time value");
    EXPECT_EXIT(read_all_to_stderr("x\n" + block("Crank angle # 360", full_heading, "")),
                ::testing::ExitedWithCode(1), "transfer.out line 2: block header");
}

TEST_F(TransferReaderDeathTest, BadHeadingsEndTheRun) {
    EXPECT_EXIT(read_all_to_stderr(block("Time= 1", "Number Bound_id X Y Z F_TEMP FLUX", "")),
                ::testing::ExitedWithCode(1),
                "ERROR: less than 8 columns of data found in transfer.out\n");
    settings.use_convective_ht = 1;
    settings.map_additional_variables = 1;
    const char* message = "Error: use_convective_ht set to 1, but HTC_CONV and FLUX_CONV not "
                          "found in transfer.out\n";
    EXPECT_EXIT(read_all_to_stderr(block("Time= 1", std::string(full_heading) + " FLUX_CONV", "")),
                ::testing::ExitedWithCode(1), message);
    // Not taken, so not found either.
    settings.map_additional_variables = 0;
    EXPECT_EXIT(read_all_to_stderr(
                    block("Time= 1", std::string(full_heading) + " FLUX_CONV HTC_CONV", "")),
                ::testing::ExitedWithCode(1), message);
}

}  // namespace
