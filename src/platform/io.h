// platform/io.h: file streams for every reader and writer.
//
// Text results are written as the reference platform's text mode writes them: every line
// feed becomes CR LF. Binary files and standard output keep their bytes as given. Input
// lines end at LF, with one CR before it dropped, and are read whole up to max_line_length.
//
// Result files: a file opened with open_result_file is written under a temporary name in
// its own directory (".<name>.<pid>.tmp" beside <name>). Closing it without error
// (close_out_file, try_close_out_file) registers it; commit_result_files then renames every
// registered file into place, in the order they were closed. Call it once after the last
// writer of a set that belongs together (the end-of-run map and viewer files), or after
// each file that stands alone (a per-step diagnostic file). A fatal stop removes every
// temporary, open or registered, so a failed run leaves the earlier results untouched and
// nothing half-written; so does the normal end of the process for files never committed.
// A failed close removes its own temporary at once. A name that is a directory is refused
// at open (errno EISDIR), as a direct open would refuse it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class LineEnd { crlf, lf };

struct OutFile {
    std::FILE* handle = nullptr;
    std::string name;
    LineEnd line_end = LineEnd::crlf;
    int exponent_digits = 3;    // at least this many in "%e" fields (see platform/format.h)
    std::string pending;        // bytes not yet handed to the C library
    bool failed = false;        // a write or flush went wrong
    bool owns_handle = true;    // false for standard output
    int error = 0;              // errno of the first failed write
    std::string temporary;      // a result file's name while it is written, else empty
    OutFile* next_open = nullptr;  // chain of open files, flushed by fatal()
    ~OutFile();
};

extern OutFile standard_output;  // lf: a console log, not a result file

// Creates or empties the file. Returns false (and leaves the file closed) when that fails;
// each caller owns its message.
bool open_out_file(OutFile& file, const std::string& name, LineEnd line_end);
// The same for a result file (see above): the name is the final one, used in messages.
bool open_result_file(OutFile& file, const std::string& name, LineEnd line_end);
// Renames every result file closed since the last commit into place; a failed rename ends
// the run naming the file.
void commit_result_files();
// Removes the temporaries of every open and every registered result file. fatal() calls it.
void discard_result_files();
void out_format(OutFile& file, const char* format, ...) __attribute__((format(printf, 2, 3)));
void out_vformat(OutFile& file, const char* format, std::va_list args);
void out_text(OutFile& file, std::string_view text);  // line feeds converted as the file says
void out_bytes(OutFile& file, const void* data, std::size_t size);  // never converted
// Lines in bulk: format_line(text, item) appends item's line to `text` (with
// text_format(text, file, ...)); the items are formatted on every worker, a slice at a time,
// and written in item order, so the file is the same whatever the thread count. With
// one_line_each, every item is a single line ending in its only line feed, and the text need
// not be searched for others.
void out_lines(OutFile& file, int count, const std::function<void(std::string&, int)>& format_line,
               bool one_line_each = false);
// For format_line: the file's own formatting (its exponent width), into a string.
void text_format(std::string& text, const OutFile& file, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void flush_out_file(OutFile& file);
// Closes the file; false when any write, the flush or the close failed (errno tells why).
bool try_close_out_file(OutFile& file);
// Closes the file; a failed write ends the run with a message naming the file, so a full
// disk never looks like success.
void close_out_file(OutFile& file);
// Flushes every open output file: used before the process ends early.
void flush_all_out_files();
// Flushes standard output; false when any write to it failed (errno tells why).
bool finish_standard_output();

// A line this long is refused (an endless line, /dev/zero given as input, must not take
// all memory): 256 MiB. The buffer doubles up to it, so reading such a line peaks at
// 384 MiB while the last copy is made.
constexpr std::size_t max_line_length = std::size_t{1} << 28;

// Text-mode input. Reads in large blocks; a line returned by next_line stays valid until
// the next call. Memory input serves the tests. A read error, or a line longer than
// max_line_length, ends the run with a message naming the file and the line.
struct LineReader {
    int descriptor = -1;
    std::string name;
    std::vector<char> buffer;
    std::size_t start = 0;   // first unread byte
    std::size_t filled = 0;  // end of the bytes read so far
    bool at_eof = false;
    int line_number = 0;          // of the line last returned, from 1
    bool line_had_end = false;    // whether that line ended in a line feed
    std::uint64_t bytes_read = 0;  // taken from the file so far
    ~LineReader();
};

// Bytes of the input before the first unread byte: how far the reader has come.
inline std::uint64_t line_reader_offset(const LineReader& in) {
    return in.bytes_read - (in.filled - in.start);
}

// False when the file cannot be opened or is a directory (errno EISDIR); each caller owns
// its message.
bool open_line_reader(LineReader& in, const std::string& name);
void open_memory_reader(LineReader& in, std::string_view text, const std::string& name);
// The next physical line without its line end; false at end of input.
bool next_line(LineReader& in, std::string_view& line);
void close_line_reader(LineReader& in);
