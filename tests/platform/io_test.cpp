// Line input and file output: CR LF reads as LF does, lines longer than the read block
// come back whole, and text results get the reference platform's CR LF.
#include "platform/io.h"
#include "platform/format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
