// platform/io.cpp: buffered output with the reference platform's line ends, block input.
#include "platform/io.h"

#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/progress.h"
#include "platform/threads.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t flush_threshold = 1 << 16;
constexpr std::size_t read_block_size = 1 << 20;

OutFile* open_files = nullptr;

struct ClosedResult {
    std::string temporary, name;
};
std::vector<ClosedResult> closed_results;  // waiting for commit_result_files

std::string temporary_name_for(const std::string& name) {
    std::size_t slash = name.rfind('/');
    std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    return name.substr(0, base) + "." + name.substr(base) + "." +
           std::to_string(static_cast<long>(::getpid())) + ".tmp";
}

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

void write_bytes(OutFile& file, const char* data, std::size_t size) {
    if (size == 0 || !file.handle) return;
    bool log = &file == &standard_output;
    if (log) hide_progress_line();
    if (std::fwrite(data, 1, size, file.handle) != size && !file.failed) {
        file.failed = true;
        file.error = errno;
    }
    if (log) show_progress_line(data[size - 1] == '\n');
}

void write_pending(OutFile& file) {
    write_bytes(file, file.pending.data(), file.pending.size());
    file.pending.clear();
}

}  // namespace

OutFile standard_output = make_standard_output();

OutFile::~OutFile() {
    if (handle && !temporary.empty()) {
        // A result file never closed is unfinished: it must not reach its name.
        std::fclose(handle);
        std::remove(temporary.c_str());
        handle = nullptr;
    }
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
    file.exponent_digits = 3;
    file.pending.clear();
    file.failed = false;
    file.error = 0;
    file.owns_handle = true;
    file.temporary.clear();
    file.handle = std::fopen(name.c_str(), "wb");
    if (!file.handle) return false;
    link_open(file);
    return true;
}

bool open_result_file(OutFile& file, const std::string& name, LineEnd line_end) {
    // The rename at the end could not replace a directory: say so now, as opening would.
    struct stat status;
    if (::stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        if (file.handle) try_close_out_file(file);
        file.name = name;
        errno = EISDIR;
        return false;
    }
    std::string temporary = temporary_name_for(name);
    if (!open_out_file(file, temporary, line_end)) {
        file.name = name;
        return false;
    }
    file.name = name;
    file.temporary = temporary;
    return true;
}

void commit_result_files() {
    std::vector<ClosedResult> batch;
    batch.swap(closed_results);
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (std::rename(batch[i].temporary.c_str(), batch[i].name.c_str()) != 0) {
            int error = errno;
            // The rest of the batch stays temporary and is removed with it.
            closed_results.assign(batch.begin() + static_cast<std::ptrdiff_t>(i), batch.end());
            fatal("Error, could not write file %s (%s), exiting.\n", batch[i].name.c_str(),
                  std::strerror(error));
        }
    }
}

void discard_result_files() {
    for (OutFile* file = open_files; file;) {
        OutFile* next = file->next_open;
        if (!file->temporary.empty()) {
            if (file->handle) std::fclose(file->handle);
            file->handle = nullptr;
            file->pending.clear();
            std::remove(file->temporary.c_str());
            file->temporary.clear();
            unlink_open(*file);
        }
        file = next;
    }
    for (const ClosedResult& result : closed_results) std::remove(result.temporary.c_str());
    closed_results.clear();
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
        format_append(file.pending, format, args, file.exponent_digits);
        if (file.pending.size() >= flush_threshold) write_pending(file);
        return;
    }
    // Formatted text goes through a scratch string so its line feeds can be converted.
    static std::string scratch;
    scratch.clear();
    format_append(scratch, format, args, file.exponent_digits);
    out_text(file, scratch);
}

void out_format(OutFile& file, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    out_vformat(file, format, args);
    va_end(args);
}

void text_format(std::string& text, const OutFile& file, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    format_append(text, format, args, file.exponent_digits);
    va_end(args);
}

namespace {

// The line feeds of text from start on as CR LF. A line formatted last ends in its only
// line feed, which is changed where it stands; anything else is converted through scratch.
void crlf_line_ends(std::string& text, std::size_t start, std::string& scratch) {
    const char* tail = text.data() + start;
    const std::size_t size = text.size() - start;
    const void* found = std::memchr(tail, '\n', size);
    if (!found) return;
    if (static_cast<const char*>(found) == tail + size - 1) {
        text.back() = '\r';
        text.push_back('\n');
        return;
    }
    scratch.assign(tail, size);
    text.resize(start);
    std::string_view rest = scratch;
    while (!rest.empty()) {
        const void* line_feed = std::memchr(rest.data(), '\n', rest.size());
        if (!line_feed) {
            text.append(rest);
            break;
        }
        const std::size_t n = static_cast<const char*>(line_feed) - rest.data();
        text.append(rest.data(), n);
        text.append("\r\n", 2);
        rest.remove_prefix(n + 1);
    }
}

}  // namespace

void out_lines(OutFile& file, int count,
               const std::function<void(std::string&, int)>& format_line, bool one_line_each) {
    // A slice is a few MB of text, and a round holds a few slices per worker: the memory
    // stays small whatever the count. The workers also give the text the file's line ends,
    // so that this thread only writes.
    constexpr int slice_lines = 8192;
    const int slices_per_round = 4 * thread_count();
    const bool crlf = file.line_end == LineEnd::crlf;
    std::vector<std::string> slices(slices_per_round), scratch(slices_per_round);
    for (int first = 0; first < count; first += slices_per_round * slice_lines) {
        const int lines = std::min(count - first, slices_per_round * slice_lines);
        const int slice_count = (lines + slice_lines - 1) / slice_lines;
        parallel_for(slice_count, 1, [&](int begin, int end, int) {
            for (int k = begin; k < end; ++k) {
                std::string& text = slices[k];
                text.clear();
                const int stop = std::min(lines, (k + 1) * slice_lines);
                for (int item = k * slice_lines; item < stop; ++item) {
                    const std::size_t start = text.size();
                    format_line(text, first + item);
                    if (!crlf) continue;
                    if (one_line_each && text.size() > start && text.back() == '\n') {
                        text.back() = '\r';
                        text.push_back('\n');
                    } else {
                        crlf_line_ends(text, start, scratch[k]);
                    }
                }
            }
        });
        for (int k = 0; k < slice_count; ++k) out_bytes(file, slices[k].data(), slices[k].size());
    }
}

void out_bytes(OutFile& file, const void* data, std::size_t size) {
    // A large piece goes out as it is, not through another copy.
    if (size >= flush_threshold) {
        write_pending(file);
        write_bytes(file, static_cast<const char*>(data), size);
        return;
    }
    file.pending.append(static_cast<const char*>(data), size);
    if (file.pending.size() >= flush_threshold) write_pending(file);
}

void flush_out_file(OutFile& file) {
    write_pending(file);
    if (file.handle && std::fflush(file.handle) != 0 && !file.failed) {
        file.failed = true;
        file.error = errno;
    }
}

bool try_close_out_file(OutFile& file) {
    if (!file.handle) return !file.failed;
    write_pending(file);
    int saved_errno = errno;
    bool ok = !file.failed;
    if (file.owns_handle) {
        if (std::fclose(file.handle) != 0 && ok) {
            ok = false;
            file.error = errno;
        }
    } else if (std::fflush(file.handle) != 0 && ok) {
        ok = false;
        file.error = errno;
    }
    file.handle = nullptr;
    unlink_open(file);
    if (!file.temporary.empty()) {
        if (ok) closed_results.push_back({file.temporary, file.name});
        else std::remove(file.temporary.c_str());
        file.temporary.clear();
    }
    errno = ok ? saved_errno : file.error;
    if (!ok) file.failed = true;
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

bool finish_standard_output() {
    write_pending(standard_output);
    if (std::fflush(stdout) != 0 && !standard_output.failed) {
        standard_output.failed = true;
        standard_output.error = errno;
    }
    if (std::ferror(stdout) && !standard_output.failed) {
        standard_output.failed = true;
        standard_output.error = EIO;
    }
    errno = standard_output.error;
    return !standard_output.failed;
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
    int descriptor = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    struct stat status;
    if (::fstat(descriptor, &status) != 0) status.st_mode = 0, status.st_size = -1;
    if (S_ISDIR(status.st_mode)) {
        ::close(descriptor);
        errno = EISDIR;
        return false;
    }
    in.descriptor = descriptor;
    // A small file needs no full block (the buffer grows when a read needs room).
    std::size_t wanted = read_block_size;
    if (S_ISREG(status.st_mode) && status.st_size >= 0 &&
        static_cast<std::size_t>(status.st_size) < read_block_size / 2)
        wanted = static_cast<std::size_t>(status.st_size) + 4096;
    if (in.buffer.size() < wanted) in.buffer.resize(wanted);
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
    if (in.descriptor >= 0) ::close(in.descriptor);
    in.descriptor = -1;
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
        if (in.at_eof || in.descriptor < 0) {
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
        if (kept >= max_line_length)
            fatal("Error, line %d of file %s is longer than %zu MiB, exiting.\n",
                  in.line_number + 1, in.name.c_str(), max_line_length >> 20);
        if (in.start > 0) {
            std::memmove(in.buffer.data(), base + in.start, kept);
            in.start = 0;
            in.filled = kept;
        }
        searched = in.filled;
        if (in.buffer.size() - in.filled < read_block_size / 2)
            in.buffer.resize(std::min(in.buffer.size() * 2, max_line_length));
        ssize_t got;
        do {
            got = ::read(in.descriptor, in.buffer.data() + in.filled, in.buffer.size() - in.filled);
        } while (got < 0 && errno == EINTR);
        // A read error is no end of file: the rest of the input would be silently lost.
        if (got < 0)
            fatal("Error, could not read file %s at line %d (%s), exiting.\n", in.name.c_str(),
                  in.line_number + 1, std::strerror(errno));
        in.filled += static_cast<std::size_t>(got);
        in.bytes_read += static_cast<std::size_t>(got);
        if (got == 0) in.at_eof = true;
    }
}
