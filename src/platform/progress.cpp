// platform/progress.cpp: the progress line on a terminal's standard error.
#include "platform/progress.h"

#include <chrono>
#include <cstdio>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A few redraws a second cost nothing next to the mapping and are as many as an eye reads.
constexpr auto redraw_interval = std::chrono::milliseconds(250);

struct Progress {
    bool active = false;           // standard error is a terminal and the run is reading
    bool shares_terminal = false;  // standard output goes to a terminal too
    bool visible = false;          // the line is on the screen now
    bool hidden_for_output = false;
    std::vector<std::string> names;
    std::vector<std::uint64_t> sizes;
    std::uint64_t total_bytes = 0;
    int width = 80;
    Clock::time_point start, last_draw;
    bool drawn = false;
    std::string text;  // the line as last drawn
};

Progress progress;
// Outlives start_progress: the log's last byte before the run reached the transfer files.
bool output_at_line_start = true;

void write_stderr(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(2, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            // A terminal that refuses the line is not worth a failed run: stop drawing.
            progress.active = false;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void draw() {
    if (progress.shares_terminal) {
        std::fflush(stdout);
        // Drawn over a half-written log line, the line would hide it.
        if (!output_at_line_start) return;
    }
    write_stderr("\r" + progress.text + "\033[K");
    progress.visible = progress.active;
}

std::string clock_text(double seconds) {
    long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string size_text(std::uint64_t bytes) {
    char text[32];
    double b = static_cast<double>(bytes);
    if (b < 1e6) std::snprintf(text, sizeof text, "%.0f kB", b / 1e3);
    else if (b < 1e9) std::snprintf(text, sizeof text, "%.1f MB", b / 1e6);
    else std::snprintf(text, sizeof text, "%.2f GB", b / 1e9);
    return text;
}

}  // namespace

std::string progress_text(const std::string& file_name, int file_index, int file_count,
                          double fraction, std::uint64_t total_bytes, int blocks_read,
                          int blocks_mapped, double elapsed, double left, int width) {
    char numbers[200];
    // Rounded down: 100% only once everything is read.
    int percent = static_cast<int>(fraction * 100);
    std::snprintf(numbers, sizeof numbers, " (%d/%d): %d%% of %s, blocks read %d, mapped %d, %s",
                  file_index + 1, file_count, percent, size_text(total_bytes).c_str(),
                  blocks_read, blocks_mapped, clock_text(elapsed).c_str());
    std::string tail = numbers;
    tail += left >= 0 ? " elapsed, " + clock_text(left) + " left" : " elapsed";
    // The last column is left free: a full line would wrap on some terminals.
    std::size_t room = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
    std::string name = file_name;
    if (name.size() + tail.size() > room) {
        std::size_t keep = room > tail.size() + 3 ? room - tail.size() - 3 : 0;
        name = "..." + name.substr(name.size() - std::min(keep, name.size()));
    }
    std::string text = name + tail;
    if (text.size() > room) text.resize(room);
    return text;
}

void start_progress(const std::vector<std::string>& file_names) {
    progress = Progress{};
    if (!::isatty(2)) return;
    progress.active = true;
    progress.shares_terminal = ::isatty(1);
    progress.names = file_names;
    for (const std::string& name : file_names) {
        struct stat info;
        std::uint64_t size = ::stat(name.c_str(), &info) == 0 ? info.st_size : 0;
        progress.sizes.push_back(size);
        progress.total_bytes += size;
    }
    struct winsize size;
    if (::ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) progress.width = size.ws_col;
    progress.start = Clock::now();
}

void note_progress(int file_index, std::uint64_t bytes_into_file, int blocks_read,
                   int blocks_mapped) {
    if (!progress.active) return;
    Clock::time_point now = Clock::now();
    if (progress.drawn && now - progress.last_draw < redraw_interval) return;
    progress.drawn = true;
    progress.last_draw = now;
    int count = static_cast<int>(progress.names.size());
    if (file_index < 0 || file_index >= count) return;
    std::uint64_t done = 0;
    for (int i = 0; i < file_index; ++i) done += progress.sizes[i];
    done += std::min(bytes_into_file, progress.sizes[file_index]);
    double fraction = progress.total_bytes > 0
                          ? static_cast<double>(done) / static_cast<double>(progress.total_bytes)
                          : 0.0;
    double elapsed = std::chrono::duration<double>(now - progress.start).count();
    // An estimate from less than a second of reading says little; wait for one.
    double left = fraction > 0 && elapsed >= 1.0 ? elapsed * (1 - fraction) / fraction : -1.0;
    progress.text = progress_text(progress.names[file_index], file_index, count, fraction,
                                  progress.total_bytes, blocks_read, blocks_mapped, elapsed,
                                  left, progress.width);
    draw();
}

void end_progress() {
    if (progress.visible) write_stderr("\r\033[K");
    progress.visible = false;
    progress.active = false;
}

void hide_progress_line() {
    if (!progress.visible || !progress.shares_terminal) return;
    write_stderr("\r\033[K");
    progress.visible = false;
    progress.hidden_for_output = true;
}

void show_progress_line(bool output_ended_line) {
    output_at_line_start = output_ended_line;
    if (!progress.active || !progress.shares_terminal) return;
    if (!progress.hidden_for_output) return;
    progress.hidden_for_output = false;
    draw();
}
