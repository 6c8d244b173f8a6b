// config/options.h: the options file htc_inputs.in and the line helpers every input reader
// shares.
//
// The file is a fixed sequence of "value key" lines; MapSettings keeps each value under the
// key's own spelling, so a search for a key finds the code that reads it.
#pragma once

#include "platform/io.h"

#include <string>
#include <string_view>
#include <vector>

struct BoundaryGroup {
    std::string name;
    int numboundaries = 0;
    std::vector<int> boundary;  // numboundaries IDs, in file order
};

struct ValveEntry {
    int first = 0;   // moving boundary
    int second = 0;  // reference boundary whose displacement is taken off
};

struct MapSettings {
    double tolerance = 0;
    double grow_mult = 0;  // read as an integer, held as a real
    double scale_xyz = 0;
    double rot_angle_x = 0, rot_angle_y = 0, rot_angle_z = 0;  // radians
    double trans_x = 0, trans_y = 0, trans_z = 0;
    int read_abaqus = 0;
    int num_surface = 0;
    std::vector<std::string> surface_names;
    // Boundary ID of each surface's triangles: the name line's third word, else 1 + its index.
    std::vector<int> surface_ids;
    int use_elset = 0;
    double max_htc = 0;
    int enforce_boundID_match = 0;
    int hit_location_output_files = 0;
    int map_additional_variables = 0;
    int use_convective_ht = 0;
    int ensight_outputfiles = 0;
    int gmv_outputfiles = 0;
    int fieldview_outputfiles = 0;
    int dedicatedboundaryoutputfiles = 0;
    std::vector<BoundaryGroup> boundary_groups;
    double start_time = 0, end_time = 0;
    int startoption = 0;
    int num_valve_entries = 0;
    std::vector<ValveEntry> valve_entries;

    // Extension settings: optional "value key" lines after the last line of the fixed
    // sequence, in any order. The defaults keep the program's long-standing behaviour.
    int mapping_method = 0;  // 0 hit mapping with growth, 1 overlap deposit
    int film_output = 0;     // 1 htc_film.inp, 2 also htc_dflux.inp (ABAQUS decks)
    int model_units = 0;     // units of those card files: 0 SI, 1 mm-tonne-s
};

// An extension setting: an integer key taking 0 to `highest`.
struct ExtensionSetting {
    const char* key;
    int highest;
    int MapSettings::*field;
};

// Every extension setting the options file knows, in the order the README lists them.
extern const ExtensionSetting extension_settings[];
extern const int extension_setting_count;

// Seven operation names in user order, upper-cased; after a successful read each is one of
// "SC", "RX", "RY", "RZ", "TX", "TY", "TZ" (repeats allowed).
struct OperationOrder {
    std::string name[7];
};

extern MapSettings settings;
extern OperationOrder operation_order;

// Degrees to radians with the constant the stored results were made with.
constexpr double pi_for_angles = 3.141592654;

// Reads htc_inputs.in from the working directory into `settings` and `operation_order`;
// ends the run on any error. The ABAQUS conversion is the driver's next step.
void read_options_file(const std::string& surface_file_name);

// A line that counts: blank and comment lines skipped, the inline comment cut off.
struct InputLine {
    std::string_view text;      // without the line end
    bool has_line_end = false;  // the line as read still ends in one (the cut did not remove it)
    bool comment_cut = false;   // an inline comment was cut off (and the line end with it)
};

// Reads the next line that counts; false at end of file.
bool next_input_line(LineReader& in, InputLine& line);
// Position of the first '!' or '#', or -1.
int comment_start(std::string_view text);
// Value lines "value key": `line` is null when the file has ended. Each ends the run with
// its message on a missing line, a missing word or another key.
double read_real_keyword_line(const InputLine* line, const char* key);
int read_int_keyword_line(const InputLine* line, const char* key);
// Name lines "name name": returns the first word.
std::string read_name_keyword_line(const InputLine* line);
// The "sc-rx-ry-rz-tx-ty-tz orderofoperations" line, into `order`; `line` null at end of
// file. `on_key_found` runs once the key is known good, before the names are checked
// (the transform mode writes its empty line there).
void read_order_line(const InputLine* line, OperationOrder& order,
                     void (*on_key_found)(void*) = nullptr, void* context = nullptr);
void to_upper_in_place(std::string& text);
