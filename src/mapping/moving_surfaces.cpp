// mapping/moving_surfaces.cpp: the (moving, reference) boundary pairs of the options file,
// and the shift of each moving boundary's samples back by its reference's displacement.
#include "mapping/moving_surfaces.h"

#include "platform/fatal.h"

#include <cstring>

int boundary_reference[max_boundaries];

void init_moving_surfaces() {
    for (int& reference : boundary_reference) reference = -1;
    std::memset(boundary_displacement, 0, sizeof boundary_displacement);
    // A later pair for the same moving boundary replaces an earlier one.
    for (const ValveEntry& entry : settings.valve_entries) {
        // The options reader refuses such pairs; the tables must never be indexed outside.
        if (entry.first < 0 || entry.first >= max_boundaries || entry.second < 0 ||
            entry.second >= max_boundaries)
            fatal("ERROR: moving-surface pair %d %d: boundary IDs must be 0 to %d\n", entry.first,
                  entry.second, max_boundaries - 1);
        boundary_reference[entry.first] = entry.second;
    }
    say("%d boundary entries for moving surfaces\n", settings.num_valve_entries);
}

void correct_positions() {
    for (int s = 0; s < sample_count; ++s) {
        CellDataPoint& sample = sample_pool[s];
        int reference = boundary_reference[sample.bound_id];
        if (reference < 0) continue;
        const double* displacement = boundary_displacement[reference];
        for (int axis = 0; axis < 3; ++axis) sample.position[axis] -= displacement[axis];
    }
}
