// mapping/time_window.h: which blocks become steps of the time window, the integration of
// each step over its interval, and the final per-triangle and per-vertex averages.
#pragma once

#include <string>
#include <vector>

enum class StepChoice { use, skip, skip_and_end_file };

extern bool first_step;
extern double previous_time;  // the next used step is measured from here
// Uninitialized triangles after finish_triangles, ascending; their count.
extern std::vector<int> uninitialized_triangles;
extern int uninitialized_count;

// A new run: first step pending, no uninitialized triangles listed.
void reset_time_window();
// Decides on the block just read, printing the framed reason for a skip.
StepChoice select_step(double time, const std::string& time_unit);
// Adds the step values of every triangle over time - previous_time; returns how many
// triangles had no data in this step.
int integrate_step(double time);
void finish_triangles();
void finish_vertices();
