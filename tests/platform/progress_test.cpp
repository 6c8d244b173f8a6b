// progress_test.cpp: the text of the progress line. Drawing it on a terminal, and its absence
// elsewhere, is tested end to end through a pseudo-terminal (tests/e2e/progress_check.py).
#include "platform/io.h"
#include "platform/progress.h"

#include <gtest/gtest.h>

TEST(ProgressText, SaysFileShareBlocksAndTimes) {
    EXPECT_EQ(progress_text("transfer.out", 0, 2, 0.456, 3164171, 33, 32, 2.4, 3.0, 200),
              "transfer.out (1/2): 45% of 3.2 MB, blocks read 33, mapped 32, 0:02 elapsed, "
              "0:03 left");
    // No estimate yet; small files in kB; hours once a run is that long.
    EXPECT_EQ(progress_text("a", 1, 2, 0.0, 18000, 0, 0, 0.2, -1.0, 200),
              "a (2/2): 0% of 18 kB, blocks read 0, mapped 0, 0:00 elapsed");
    EXPECT_EQ(progress_text("b", 0, 1, 0.999, 25000000000ULL, 9000, 8999, 3725, 59.6, 200),
              "b (1/1): 99% of 25.00 GB, blocks read 9000, mapped 8999, 1:02:05 elapsed, "
              "1:00 left");
}

TEST(ProgressText, FitsTheTerminalByShorteningTheFileNameFromTheLeft) {
    std::string name = "/scratch/cfd/run_0042/output/transfer_restart.out";
    std::string text = progress_text(name, 0, 1, 0.5, 2000000, 5, 4, 1, 1, 100);
    EXPECT_EQ(text.size(), 99u);  // the last column stays free, so the line never wraps
    EXPECT_EQ(text.substr(0, 3), "...");
    EXPECT_NE(text.find("/transfer_restart.out (1/1): 50%"), std::string::npos) << text;
    // Too narrow even for the numbers: cut, never longer than the room.
    EXPECT_EQ(progress_text(name, 0, 1, 0.5, 2000000, 5, 4, 1, 1, 20).size(), 19u);
    EXPECT_EQ(progress_text(name, 0, 1, 0.5, 2000000, 5, 4, 1, 1, 0), "");
}

TEST(ProgressText, ReaderOffsetCountsBytesTakenNotBytesBuffered) {
    LineReader in;
    open_memory_reader(in, "ab\ncd\r\nlast", "memory");
    std::string_view line;
    EXPECT_EQ(line_reader_offset(in), 0u);
    ASSERT_TRUE(next_line(in, line));
    EXPECT_EQ(line_reader_offset(in), 3u);
    ASSERT_TRUE(next_line(in, line));
    EXPECT_EQ(line_reader_offset(in), 7u);
    ASSERT_TRUE(next_line(in, line));
    EXPECT_EQ(line_reader_offset(in), 11u);
}
