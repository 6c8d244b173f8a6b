// mapping/run.cpp: the mapping run: every block of every transfer file through selection,
// correction, mapping and integration, then the final averages, the summary, the writers and
// the mapping report.
#include "mapping/run.h"

#include "config/options.h"
#include "mapping/deposit.h"
#include "mapping/hit_mapping.h"
#include "mapping/moving_surfaces.h"
#include "mapping/report.h"
#include "mapping/time_window.h"
#include "mapping/transfer.h"
#include "output/film_cards.h"
#include "output/map_files.h"
#include "output/viewers.h"
#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/io.h"
#include "platform/progress.h"
#include "surface/surface.h"

#include <string>
#include <vector>

namespace {

void zero_run_fields() {
    for (Triangle& tri : triangle_table) {
        tri.time_without_hits = tri.time_with_hits = 0;
        tri.fluid_temp = tri.boundary_temp = tri.flux = tri.htc = tri.yplus = 0;
        tri.max_hit_distance = 0;
    }
    for (double& value : triangle_extra) value = 0;
    // The vertex averages are made afresh at the end.
    std::vector<VertexAverages>().swap(vertex_averages);
    std::vector<double>().swap(vertex_extra);
}

// Blocks of the whole run, for the progress line.
struct BlockCounts {
    int read = 0;
    int mapped = 0;
};

void map_transfer_file(int file_index, const char* name, BlockCounts& counts) {
    say("Reading in transfer data from file %s\n\n", name);
    TransferFile file;
    if (!find_first_header(file, name)) return;
    BlockReader reader(file);
    for (;;) {
        BlockInfo block = reader.next();
        ++counts.read;
        note_progress(file_index, block.end_offset, counts.read, counts.mapped);
        clear_step();
        StepChoice choice = select_step(block.time, time_unit);
        bool last = choice == StepChoice::skip_and_end_file || !block.more_blocks;
        // The next block is read while this one is mapped.
        if (!last) reader.read_ahead();
        if (choice == StepChoice::use) {
            correct_positions();
            int not_assigned_count;
            if (settings.mapping_method == 1) {
                deposit_samples(block.time, time_unit);
                not_assigned_count = integrate_deposit(block.time, previous_time);
            } else {
                map_step(block.time, time_unit);
                not_assigned_count = integrate_step(block.time);
            }
            report_end_step(block.time, block.time - previous_time);
            report_step(block.time, previous_time, time_unit, not_assigned_count);
            previous_time = block.time;
            ++counts.mapped;
            note_progress(file_index, block.end_offset, counts.read, counts.mapped);
        }
        if (last) break;
    }
    close_line_reader(file.in);
}

void write_uninitialized_list() {
    OutFile file;
    open_point_file(file, "detailedoutput/uninit_triangles_complete.dat", uninitialized_count);
    // Listed newest first, so in descending triangle order.
    int number = 1;
    for (auto it = uninitialized_triangles.rbegin(); it != uninitialized_triangles.rend(); ++it) {
        const double* c = triangle_geometry[*it].centroid;
        out_format(file, "%d %e %e %e\n", number++, c[0], c[1], c[2]);
    }
    close_point_file(file);
}

void print_summary() {
    say("\n\n************************************************************************************"
        "************\n\n");
    if (uninitialized_count == 0) {
        say("All triangles were assigned heat flux information from the mapping\n");
        return;
    }
    say("Warning: there were %d triangles that were not assigned any heat flux information in "
        "the mapping\n",
        uninitialized_count);
    say("Uninitialized triangles are omitted from output files since they were not assigned any "
        "data\n");
    if (settings.ensight_outputfiles != 0)
        say("Ensight output has -1 for variable values for unitialized triangles \n");
    if (settings.gmv_outputfiles != 0)
        say("GMV output has -1 for variable values for unitialized triangles \n");
    if (settings.fieldview_outputfiles != 0)
        say("FieldView output has -1 for variable values for unitialized triangles \n");
}

void write_map_files() {
    printed_triangle_count = 0;
    bool abaqus = settings.read_abaqus != 0;
    const auto& groups = settings.boundary_groups;
    int group_count = static_cast<int>(groups.size());
    if (abaqus) {
        write_triangle_map("htc_abaqus.map", time_unit, 0, 0);
    } else {
        write_triangle_map("htc_triangles.map", time_unit, 0, 0);
        for (int k = 0; k < group_count; ++k)
            write_triangle_map(format_string("htc_triangles_%s.map", groups[k].name.c_str()),
                               time_unit, 1, k);
    }
    write_vertex_map("htc_vertex.map", time_unit, 0, 0);
    if (!abaqus) {
        for (int k = 0; k < group_count; ++k)
            write_vertex_map(format_string("htc_vertex_%s.map", groups[k].name.c_str()),
                             time_unit, 1, k);
    }
}

}  // namespace

void start_mapping_run() {
    init_moving_surfaces();
    reset_transfer_reader();
    reset_time_window();
    prepare_hit_mapping();
    zero_run_fields();
    report_start_run();
    if (settings.mapping_method == 1) prepare_deposit();
}

void end_mapping_run() {
    // The step tables and the samples are done with: the vertex averages and the writers'
    // text take their place rather than adding to them.
    release_hit_mapping();
    release_sample_pool();
    if (settings.mapping_method == 1) {
        finish_deposit();
    } else {
        finish_triangles();
        finish_vertices();
    }
    report_finish_window();
    if (uninitialized_count > 0) write_uninitialized_list();
    print_summary();
    write_map_files();
    write_film_cards();
    if (settings.ensight_outputfiles != 0) write_ensight();
    if (settings.gmv_outputfiles != 0) write_gmv();
    if (settings.fieldview_outputfiles != 0) write_fieldview();
    // Last, so the success line above is not the last word when a check fails.
    write_report_files(time_unit);
    // The set takes its names together, only once its last file is written.
    commit_result_files();
    print_report_summary();
}

int run_mapping(int argument_count, char** arguments) {
    start_mapping_run();
    start_progress(std::vector<std::string>(arguments + 2, arguments + argument_count));
    BlockCounts counts;
    for (int i = 2; i < argument_count; ++i) map_transfer_file(i - 2, arguments[i], counts);
    end_progress();
    end_mapping_run();
    return 0;
}
