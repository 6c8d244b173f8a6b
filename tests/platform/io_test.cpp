// Line input and file output: CR LF reads as LF does, lines longer than the read block
// come back whole, and text results get the reference platform's CR LF.
#include "platform/io.h"
#include "platform/threads.h"
#include "platform/format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Line {
    std::string text;
    bool had_end;
    int number;
    bool operator==(const Line&) const = default;
};

std::vector<Line> all_lines(LineReader& in) {
    std::vector<Line> lines;
    std::string_view line;
    while (next_line(in, line)) lines.push_back({std::string(line), in.line_had_end, in.line_number});
    EXPECT_FALSE(next_line(in, line));  // stays at the end
    return lines;
}

std::vector<Line> memory_lines(std::string_view text) {
    LineReader in;
    open_memory_reader(in, text, "memory");
    return all_lines(in);
}

class ScratchDir : public testing::Test {
protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "quorvel-io-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const char* name) const { return (dir / name).string(); }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    static std::string read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    fs::path dir;
};

TEST(LineReaderMemory, CrLfAndLfReadTheSame) {
    auto lf = memory_lines("a b\n\nlast\n");
    auto crlf = memory_lines("a b\r\n\r\nlast\r\n");
    EXPECT_EQ(lf, crlf);
    EXPECT_EQ(lf, (std::vector<Line>{{"a b", true, 1}, {"", true, 2}, {"last", true, 3}}));
}

TEST(LineReaderMemory, FinalLineWithoutLineFeedAndLoneCarriageReturns) {
    EXPECT_EQ(memory_lines("one\ntwo"), (std::vector<Line>{{"one", true, 1}, {"two", false, 2}}));
    // only a CR right before LF belongs to the line end
    EXPECT_EQ(memory_lines("a\rb\r\r\n"), (std::vector<Line>{{"a\rb\r", true, 1}}));
    EXPECT_TRUE(memory_lines("").empty());
    EXPECT_EQ(memory_lines("\n"), (std::vector<Line>{{"", true, 1}}));
}

TEST_F(ScratchDir, FileLinesLongerThanTheReadBlockComeBackWhole) {
    const std::size_t block = 1 << 20;
    std::string huge(3 * block + 17, 'x');
    // The CR of the second line is the last byte of the first block, its LF the first of
    // the next; another line ends exactly at a block boundary.
    std::string first(block - 6, 'a');  // "a...a\n" then "bbb\r" fills the block
    std::string bytes = first + "\nbbb\r\n" + huge + "\r\nshort\n" + huge + "tail";
    write(path("long.txt"), bytes);
    LineReader in;
    ASSERT_TRUE(open_line_reader(in, path("long.txt")));
    auto lines = all_lines(in);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].text, first);
    EXPECT_EQ(lines[1].text, "bbb");
    EXPECT_EQ(lines[2].text, huge);
    EXPECT_EQ(lines[3].text, "short");
    EXPECT_EQ(lines[4].text, huge + "tail");
    EXPECT_FALSE(lines[4].had_end);
    EXPECT_EQ(lines[4].number, 5);
}

TEST_F(ScratchDir, FileAndMemoryReadTheSameLines) {
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += std::to_string(i) + (i % 3 ? " 1.0e+000 x\r\n" : "\n") + (i % 7 ? "" : "\n");
    write(path("many.txt"), text);
    LineReader in;
    ASSERT_TRUE(open_line_reader(in, path("many.txt")));
    EXPECT_EQ(all_lines(in), memory_lines(text));
    EXPECT_FALSE(open_line_reader(in, path("missing.txt")));
}

TEST_F(ScratchDir, TextFilesGetCrLfBinaryAndLfFilesDoNot) {
    OutFile text, binary, lf;
    ASSERT_TRUE(open_out_file(text, path("text.txt"), LineEnd::crlf));
    ASSERT_TRUE(open_out_file(binary, path("binary.bin"), LineEnd::crlf));
    ASSERT_TRUE(open_out_file(lf, path("lf.txt"), LineEnd::lf));
    out_format(text, "%d %e\n", 3, 2.5);
    out_text(text, "a\nb\n\nc");
    out_text(text, "\r\n");  // as text mode writes it: the CR stays, the LF gains one
    out_bytes(binary, "x\ny\r\n\0z", 7);
    out_format(lf, "%s\n", "plain");
    out_bytes(text, "\n", 1);  // bytes are never converted
    EXPECT_TRUE(try_close_out_file(text));
    close_out_file(binary);
    close_out_file(lf);
    EXPECT_EQ(read(path("text.txt")), "3 2.500000e+000\r\na\r\nb\r\n\r\nc\r\r\n\n");
    EXPECT_EQ(read(path("binary.bin")), std::string("x\ny\r\n\0z", 7));
    EXPECT_EQ(read(path("lf.txt")), "plain\n");
}

// The exponent width is the file's own: two files written in turn, in either line-end
// mode, each keep theirs, and opening the file again gives the default back.
TEST_F(ScratchDir, ExponentDigitsBelongToTheFile) {
    OutFile two, three;
    ASSERT_TRUE(open_out_file(two, path("two.txt"), LineEnd::lf));
    ASSERT_TRUE(open_out_file(three, path("three.txt"), LineEnd::crlf));
    two.exponent_digits = 2;
    out_format(two, "% 2.5e|", 0.5);
    out_format(three, "%e|", 0.5);
    out_format(two, "%E\n", -1e-300);
    out_format(three, "%.1e\n", 1e22);
    close_out_file(two);
    close_out_file(three);
    EXPECT_EQ(read(path("two.txt")), " 5.00000e-01|-1.000000E-300\n");
    EXPECT_EQ(read(path("three.txt")), "5.000000e-001|1.0e+022\r\n");
    ASSERT_TRUE(open_out_file(two, path("two.txt"), LineEnd::lf));
    out_format(two, "%e", 1.0);
    close_out_file(two);
    EXPECT_EQ(read(path("two.txt")), "1.000000e+000");
}

TEST_F(ScratchDir, LargeOutputIsConvertedAcrossFlushes) {
    OutFile file;
    ASSERT_TRUE(open_out_file(file, path("big.txt"), LineEnd::crlf));
    std::string want;
    for (int i = 0; i < 100000; ++i) {
        out_format(file, "%d\t%.9E\n", i, i * 0.5);
        want += std::to_string(i) + "\t" + format_string("%.9E", i * 0.5) + "\r\n";
    }
    close_out_file(file);
    EXPECT_EQ(read(path("big.txt")), want);
}

TEST_F(ScratchDir, LinesInBulkAreTheLinesOneByOneAtAnyThreadCount) {
    // Counts around the slices (8192 lines) and the rounds of slices; the file's exponent
    // width and line ends hold for every worker's text. Some items are two lines, some
    // part of one, some a line feed alone; or, as the maps promise, every item one line.
    const char* formats[] = {"%d %e\n", "%d\n%e\n", "%d %e ", "\n%d%e"};
    for (bool one_line_each : {false, true}) {
        auto format_of = [&](int i) {
            if (one_line_each) return formats[0];
            return formats[i % 13 == 3 ? 1 : i % 11 == 5 ? 2 : i % 17 == 7 ? 3 : 0];
        };
        for (int threads : {1, 3}) {
            set_thread_count(threads);
            for (int count : {0, 1, 8191, 8192, 8193, 200003}) {
                OutFile one, bulk;
                ASSERT_TRUE(open_out_file(one, path("one.txt"), LineEnd::crlf));
                ASSERT_TRUE(open_out_file(bulk, path("bulk.txt"), LineEnd::crlf));
                one.exponent_digits = bulk.exponent_digits = 2;
                out_text(one, "head\n");
                out_text(bulk, "head\n");
                for (int i = 0; i < count; ++i) out_format(one, format_of(i), i, i * 0.25);
                out_lines(bulk, count, [&](std::string& text, int i) {
                    text_format(text, bulk, format_of(i), i, i * 0.25);
                }, one_line_each);
                close_out_file(one);
                close_out_file(bulk);
                EXPECT_EQ(read(path("one.txt")), read(path("bulk.txt")))
                    << threads << " threads, " << count << " lines, one line each " << one_line_each;
            }
        }
    }
    set_thread_count(0);
}

TEST_F(ScratchDir, FailedWritesAndOpensAreReported) {
    OutFile file;
    EXPECT_FALSE(open_out_file(file, path("no/such/dir.txt"), LineEnd::crlf));
    if (fs::exists("/dev/full")) {
        ASSERT_TRUE(open_out_file(file, "/dev/full", LineEnd::crlf));
        out_text(file, "a full disk must not look like success\n");
        EXPECT_FALSE(try_close_out_file(file));
    }
}

}  // namespace

namespace {

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// A result file takes its name only at the commit; until then the earlier version stays
// and the new one waits under a hidden temporary beside it.
TEST_F(ScratchDir, ResultFilesTakeTheirNamesTogetherAtTheCommit) {
    write(path("a.map"), "old a\n");
    OutFile a, b;
    ASSERT_TRUE(open_result_file(a, path("a.map"), LineEnd::lf));
    ASSERT_TRUE(open_result_file(b, path("b.map"), LineEnd::lf));
    EXPECT_EQ(a.name, path("a.map"));
    out_text(a, "new a\n");
    out_text(b, "new b\n");
    close_out_file(a);
    close_out_file(b);
    EXPECT_EQ(read(path("a.map")), "old a\n");
    EXPECT_EQ(names_in(dir).size(), 3u);  // a.map and the two temporaries
    commit_result_files();
    EXPECT_EQ(read(path("a.map")), "new a\n");
    EXPECT_EQ(read(path("b.map")), "new b\n");
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"a.map", "b.map"}));
}

TEST_F(ScratchDir, DiscardedResultsLeaveTheEarlierFilesAndNoTemporary) {
    write(path("a.map"), "old a\n");
    OutFile closed, open;
    ASSERT_TRUE(open_result_file(closed, path("a.map"), LineEnd::lf));
    out_text(closed, "new a\n");
    close_out_file(closed);
    ASSERT_TRUE(open_result_file(open, path("b.map"), LineEnd::lf));
    out_text(open, "half of b");
    flush_out_file(open);
    discard_result_files();
    commit_result_files();  // nothing left to commit
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"a.map"}));
    EXPECT_EQ(read(path("a.map")), "old a\n");
    // A result file dropped without its close is unfinished too.
    {
        OutFile dropped;
        ASSERT_TRUE(open_result_file(dropped, path("c.map"), LineEnd::lf));
        out_text(dropped, "c");
    }
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"a.map"}));
}

TEST_F(ScratchDir, ResultFileWhoseNameIsADirectoryIsRefusedAtOpen) {
    fs::create_directory(path("quorvel.gmv"));
    OutFile file;
    errno = 0;
    EXPECT_FALSE(open_result_file(file, path("quorvel.gmv"), LineEnd::crlf));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"quorvel.gmv"}));
}

TEST_F(ScratchDir, DirectoryIsNoInputAndReadErrorsAreNoEndOfFile) {
    LineReader in;
    errno = 0;
    EXPECT_FALSE(open_line_reader(in, dir.string()));
    EXPECT_EQ(errno, EISDIR);
    // A descriptor that fails every read (a directory's) behind a reader mid-file.
    write(path("t.out"), "first\n");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            LineReader failing;
            if (!open_line_reader(failing, path("t.out"))) std::abort();
            std::string_view line;
            if (!next_line(failing, line)) std::abort();
            ::close(failing.descriptor);
            failing.descriptor = ::open(dir.c_str(), O_RDONLY);
            next_line(failing, line);
            flush_all_out_files();
        },
        testing::ExitedWithCode(1), "Error, could not read file .*t.out at line 2 \\(Is a directory\\)");
}
