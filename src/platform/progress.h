// platform/progress.h: one line on standard error that tells how far a long mapping run has
// come, kept up to date only when standard error is a terminal. Standard output is never
// touched: the same bytes reach it whether the line is shown or not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Sizes the transfer files; shows nothing, now or later, unless standard error is a terminal.
void start_progress(const std::vector<std::string>& file_names);
// Where the run stands: the file being read (0-based), bytes of it read so far, blocks read
// and blocks mapped in the whole run. Redraws at most a few times a second.
void note_progress(int file_index, std::uint64_t bytes_into_file, int blocks_read,
                   int blocks_mapped);
// Erases the line for good (end of the transfer files, or of the process).
void end_progress();

// For the standard output writer: when both streams share one terminal, the line is taken
// away before the log's text goes out and put back after it, once that text ended a line.
void hide_progress_line();
void show_progress_line(bool output_ended_line);

// The text of the line, for the tests: elapsed and left in seconds (left < 0: not known yet).
std::string progress_text(const std::string& file_name, int file_index, int file_count,
                          double fraction, std::uint64_t total_bytes, int blocks_read,
                          int blocks_mapped, double elapsed, double left, int width);
