// platform/io.cpp: buffered output with the reference platform's line ends, block input.
#include "platform/io.h"

#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/progress.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

constexpr std::size_t flush_threshold = 1 << 16;
constexpr std::size_t read_block_size = 1 << 20;

OutFile* open_files = nullptr;

void link_open(OutFile& file) {
    file.next_open = open_files;
    open_files = &file;
}

void unlink_open(OutFile& file) {
    for (OutFile** link = &open_files; *link; link = &(*link)->next_open) {
        if (*link == &file) {
            *link = file.next_open;
            break;
        }
    }
    file.next_open = nullptr;
}

OutFile make_standard_output() {
    OutFile file;
    file.handle = stdout;
    file.name = "standard output";
    file.line_end = LineEnd::lf;
    file.owns_handle = false;
    return file;
}

void write_pending(OutFile& file) {
    if (file.pending.empty() || !file.handle) return;
    bool log = &file == &standard_output;
    if (log) hide_progress_line();
    if (std::fwrite(file.pending.data(), 1, file.pending.size(), file.handle) != file.pending.size())
        file.failed = true;
    if (log) show_progress_line(file.pending.back() == '\n');
    file.pending.clear();
}

}  // namespace

OutFile standard_output = make_standard_output();

OutFile::~OutFile() {
    if (handle) {
        write_pending(*this);
        if (owns_handle) std::fclose(handle);
        else std::fflush(handle);
        handle = nullptr;
    }
    unlink_open(*this);
}

bool open_out_file(OutFile& file, const std::string& name, LineEnd line_end) {
    if (file.handle) try_close_out_file(file);
    file.name = name;
    file.line_end = line_end;
    file.pending.clear();
    file.failed = false;
    file.owns_handle = true;
    file.handle = std::fopen(name.c_str(), "wb");
    if (!file.handle) return false;
    link_open(file);
    return true;
}

void out_text(OutFile& file, std::string_view text) {
    if (file.line_end == LineEnd::lf) {
        file.pending.append(text);
    } else {
        while (!text.empty()) {
            const void* found = std::memchr(text.data(), '\n', text.size());
            if (!found) {
                file.pending.append(text);
                break;
            }
            std::size_t n = static_cast<const char*>(found) - text.data();
            file.pending.append(text.data(), n);
            file.pending.append("\r\n", 2);
            text.remove_prefix(n + 1);
        }
    }
    if (file.pending.size() >= flush_threshold) write_pending(file);
}

void out_vformat(OutFile& file, const char* format, std::va_list args) {
    if (file.line_end == LineEnd::lf) {
        format_append(file.pending, format, args);
        if (file.pending.size() >= flush_threshold) write_pending(file);
        return;
    }
    // Formatted text goes through a scratch string so its line feeds can be converted.
    static std::string scratch;
    scratch.clear();
    format_append(scratch, format, args);
    out_text(file, scratch);
}

void out_format(OutFile& file, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    out_vformat(file, format, args);
    va_end(args);
}

void out_bytes(OutFile& file, const void* data, std::size_t size) {
    file.pending.append(static_cast<const char*>(data), size);
    if (file.pending.size() >= flush_threshold) write_pending(file);
}

void flush_out_file(OutFile& file) {
    write_pending(file);
    if (file.handle && std::fflush(file.handle) != 0) file.failed = true;
}

bool try_close_out_file(OutFile& file) {
    if (!file.handle) return !file.failed;
    write_pending(file);
    int saved_errno = errno;
    bool ok = !file.failed;
    if (file.owns_handle) {
        if (std::fclose(file.handle) != 0) ok = false;
    } else if (std::fflush(file.handle) != 0) {
        ok = false;
    }
    if (ok) errno = saved_errno;
    file.handle = nullptr;
    unlink_open(file);
    return ok;
}

void close_out_file(OutFile& file) {
    std::string name = file.name;
    if (!try_close_out_file(file))
        fatal("Error, could not write file %s (%s), exiting.\n", name.c_str(), std::strerror(errno));
}

void flush_all_out_files() {
    end_progress();  // the process ends: leave the terminal clean
    for (OutFile* file = open_files; file; file = file->next_open) flush_out_file(*file);
    flush_out_file(standard_output);
}

LineReader::~LineReader() { close_line_reader(*this); }

bool open_line_reader(LineReader& in, const std::string& name) {
    close_line_reader(in);
    in.name = name;
    in.start = in.filled = 0;
    in.at_eof = false;
    in.line_number = 0;
    in.line_had_end = false;
    in.bytes_read = 0;
    in.handle = std::fopen(name.c_str(), "rb");
    if (!in.handle) return false;
    if (in.buffer.size() < read_block_size) in.buffer.resize(read_block_size);
    return true;
}

void open_memory_reader(LineReader& in, std::string_view text, const std::string& name) {
    close_line_reader(in);
    in.name = name;
    in.buffer.assign(text.begin(), text.end());
    in.start = 0;
    in.filled = text.size();
    in.bytes_read = text.size();
    in.at_eof = true;
    in.line_number = 0;
    in.line_had_end = false;
}

void close_line_reader(LineReader& in) {
    if (in.handle) std::fclose(in.handle);
    in.handle = nullptr;
}

bool next_line(LineReader& in, std::string_view& line) {
    std::size_t searched = in.start;
    for (;;) {
        const char* base = in.buffer.data();
        const void* found = in.filled > searched
                                ? std::memchr(base + searched, '\n', in.filled - searched)
                                : nullptr;
        if (found) {
            std::size_t end = static_cast<const char*>(found) - base;
            std::size_t length = end - in.start;
            if (length > 0 && base[end - 1] == '\r') --length;
            line = std::string_view(base + in.start, length);
            in.start = end + 1;
            ++in.line_number;
            in.line_had_end = true;
            return true;
        }
        if (in.at_eof || !in.handle) {
            in.at_eof = true;
            if (in.start >= in.filled) return false;
            line = std::string_view(base + in.start, in.filled - in.start);
            in.start = in.filled;
            ++in.line_number;
            in.line_had_end = false;
            return true;
        }
        // Keep the unfinished line, make room (a long line grows the buffer), read on.
        std::size_t kept = in.filled - in.start;
        if (in.start > 0) {
            std::memmove(in.buffer.data(), base + in.start, kept);
            in.start = 0;
            in.filled = kept;
        }
        searched = in.filled;
        if (in.buffer.size() - in.filled < read_block_size / 2)
            in.buffer.resize(in.buffer.size() * 2);
        std::size_t got = std::fread(in.buffer.data() + in.filled, 1,
                                     in.buffer.size() - in.filled, in.handle);
        in.filled += got;
        in.bytes_read += got;
        if (got == 0) in.at_eof = true;
    }
}
