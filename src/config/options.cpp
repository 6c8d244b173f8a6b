// config/options.cpp: the options file htc_inputs.in and the shared line helpers.
//
// The file is a fixed sequence of "value key" lines with no defaults; every message below
// is printed as users and their scripts have always seen it. Lists are grown as their
// lines are read, never sized from a count first, so a wrong count cannot take all memory
// before the file runs out.
#include "config/options.h"

#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/numbers.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

MapSettings settings;
OperationOrder operation_order;

const ExtensionSetting extension_settings[] = {
    {"mapping_method", 1, &MapSettings::mapping_method},
    {"film_output", 2, &MapSettings::film_output},
    {"model_units", 1, &MapSettings::model_units},
};
const int extension_setting_count = sizeof extension_settings / sizeof extension_settings[0];

namespace {

const char* const options_file_name = "htc_inputs.in";
// The largest boundary ID a transfer file may carry, so that IDs can be matched.
constexpr int highest_surface_id = 498;
const char* const order_template = "sc-rx-ry-rz-tx-ty-tz   orderofoperations";

// Text of a line as the reader's buffer held it: with its line end, when it kept one.
std::string with_line_end(const InputLine& line) {
    std::string text(line.text);
    if (line.has_line_end) text.push_back('\n');
    return text;
}

// The value word of a value line, after the file-end, formatting and key checks.
std::string_view value_word(const InputLine* line, const char* key) {
    if (!line)
        fatal("Error, expected keyword \"%s\", but the file ended too soon, exiting.\n", key);
    std::string_view rest = line->text, first, second;
    bool have_first = next_word(rest, first);
    if (!have_first || !next_word(rest, second)) {
        // The message shows the line only up to the end of its first word.
        std::size_t shown = have_first ? first.data() + first.size() - line->text.data() : 0;
        std::string text(line->text.substr(0, shown));
        fatal("Error, incorrect formatting for line \"%s\", exiting.", text.c_str());
    }
    if (second != key) {
        std::string found(second);
        fatal("Error, expected keyword \"%s\", found \"%s\", exiting.\n", key, found.c_str());
    }
    return first;
}

// "0 or 1", "0, 1 or 2", "0 to 5": the allowed values of a choice, as messages give them.
std::string choice_text(int highest) {
    if (highest == 1) return "0 or 1";
    if (highest == 2) return "0, 1 or 2";
    return format_string("0 to %d", highest);
}

bool is_operation_name(const std::string& name) {
    static const char* const names[] = {"SC", "RX", "RY", "RZ", "TX", "TY", "TZ"};
    for (const char* valid : names)
        if (name == valid) return true;
    return false;
}

// The reader owns one open file and counts lines for the messages of the range checks.
struct OptionsReader {
    LineReader in;
    InputLine line;

    const InputLine* next() { return next_input_line(in, line) ? &line : nullptr; }
    double real(const char* key) { return read_real_keyword_line(next(), key); }
    int integer(const char* key) { return read_int_keyword_line(next(), key); }
    std::string name() { return read_name_keyword_line(next()); }

    // "NAME name 2": the third word of a surface name line gives the boundary ID of that
    // surface's triangles, so a deck's surface can carry the CFD boundary's ID.
    int surface_id(const InputLine& name_line, int position) {
        std::string_view rest = name_line.text, word;
        for (int k = 0; k < 3; ++k)
            if (!next_word(rest, word)) return position;
        int id = -1;
        auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), id);
        if (error != std::errc() || end != word.data() + word.size() || id < 0 ||
            id > highest_surface_id) {
            std::string found(word);
            fatal("Error, %s line %d: the boundary ID after \"name\" must be 0 to %d, found "
                  "\"%s\", exiting.\n",
                  options_file_name, in.line_number, highest_surface_id, found.c_str());
        }
        return id;
    }

    // Values outside what the run can use are refused rather than guessed at.
    void check_choice(const char* key, int value, int highest) {
        if (value >= 0 && value <= highest) return;
        fatal("Error, %s line %d: %s must be %s, found %d, exiting.\n", options_file_name,
              in.line_number, key, choice_text(highest).c_str(), value);
    }

    // The lines after the fixed sequence. Old files carry notes there, so a line that is not
    // a known setting is passed over with a warning; a known one must be exactly right.
    void extension_lines() {
        std::vector<int> seen_on(extension_setting_count, 0);
        while (const InputLine* extra = next()) {
            std::string_view rest = extra->text, value, key;
            next_word(rest, value);
            const ExtensionSetting* setting = nullptr;
            if (next_word(rest, key)) {
                for (int i = 0; i < extension_setting_count; ++i)
                    if (key == extension_settings[i].key) setting = &extension_settings[i];
            }
            if (!setting) {
                // The words of the line, up to a screen's width.
                std::string_view words = extra->text.substr(value.data() - extra->text.data());
                words = words.substr(0, words.find_last_not_of(blank_separators) + 1);
                std::string shown(words.substr(0, 60));
                if (words.size() > 60) shown += "...";
                say("Warning, %s line %d: \"%s\" is not a known extension setting, the line is "
                    "not read.\n",
                    options_file_name, in.line_number, shown.c_str());
                continue;
            }
            int& first_line = seen_on[setting - extension_settings];
            std::string allowed = choice_text(setting->highest);
            if (first_line != 0) {
                fatal("Error, %s line %d: %s is given twice (first on line %d); it takes %s, "
                      "once, exiting.\n",
                      options_file_name, in.line_number, setting->key, first_line,
                      allowed.c_str());
            }
            first_line = in.line_number;
            int number = 0;
            auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
            if (error != std::errc() || end != value.data() + value.size() || number < 0 ||
                number > setting->highest) {
                std::string found(value);
                fatal("Error, %s line %d: %s must be %s, found \"%s\", exiting.\n",
                      options_file_name, in.line_number, setting->key, allowed.c_str(),
                      found.c_str());
            }
            settings.*(setting->field) = number;
        }
    }

    void valve_entry() {
        const InputLine* pair = next();
        std::string_view rest, first, second;
        if (pair) rest = pair->text;
        if (!pair || !next_word(rest, first) || !next_word(rest, second)) {
            fatal("Error, expected a boundary entry, but the file ended too soon, exiting.\n"
                  "The boundary entry lines must contain two boundary IDs.\n");
        }
        ValveEntry entry{read_int(first), read_int(second)};
        // The moving-surface tables hold boundary IDs 0 to 499.
        if (entry.first < 0 || entry.first > 499 || entry.second < 0 || entry.second > 499) {
            fatal("Error, %s line %d: the boundary IDs of a num_valve_entries pair must be 0 to "
                  "499, found %d %d, exiting.\n",
                  options_file_name, in.line_number, entry.first, entry.second);
        }
        settings.valve_entries.push_back(entry);
    }
};

double degrees_to_radians(double degrees) { return degrees * pi_for_angles / 180; }

}  // namespace

int comment_start(std::string_view text) {
    // Two memchr scans beat find_first_of, which calls memchr once per character.
    const void* bang = std::memchr(text.data(), '!', text.size());
    const void* hash = std::memchr(text.data(), '#', text.size());
    const char* first = static_cast<const char*>(!bang ? hash : !hash ? bang : std::min(bang, hash));
    return first ? static_cast<int>(first - text.data()) : -1;
}

bool next_input_line(LineReader& in, InputLine& line) {
    std::string_view text;
    while (next_line(in, text)) {
        bool has_end = in.line_had_end;
        int cut = comment_start(text);
        if (cut >= 0) {
            text = text.substr(0, cut);
            has_end = false;
        }
        // A comment line is one whose first word starts the comment: nothing is left of it.
        std::string_view rest = text, word;
        if (!next_word(rest, word)) continue;
        line.text = text;
        line.has_line_end = has_end;
        line.comment_cut = cut >= 0;
        return true;
    }
    line = InputLine{};
    return false;
}

double read_real_keyword_line(const InputLine* line, const char* key) {
    return read_real(value_word(line, key));
}

int read_int_keyword_line(const InputLine* line, const char* key) {
    return read_int(value_word(line, key));
}

std::string read_name_keyword_line(const InputLine* line) {
    if (!line)
        fatal("Error, expected keyword \"%s\", but the file ended too soon, exiting.\n", "name");
    std::string_view rest = line->text, first, second;
    if (!next_word(rest, first) || !next_word(rest, second)) {
        std::string text = with_line_end(*line);
        fatal("Error, incorrect formatting for line \"%s\", exiting.", text.c_str());
    }
    if (second != "name") {
        std::string found(second);
        fatal("Error, expected keyword \"%s\", found \"%s\", exiting.\n", "name", found.c_str());
    }
    return std::string(first);
}

void read_order_line(const InputLine* line, OperationOrder& order, void (*on_key_found)(void*),
                     void* context) {
    std::string_view rest, first, second;
    if (line) rest = line->text;
    if (!line || !next_word(rest, first) || !next_word(rest, second) ||
        second != "orderofoperations") {
        std::string found = line ? with_line_end(*line) : std::string();
        fatal("\nError in input file: Specify order of operations (in next line after trans_z) "
              "\n%s\n\nFound: %s\n",
              order_template, found.c_str());
    }
    if (on_key_found) on_key_found(context);
    rest = line->text;
    std::string_view piece;
    for (std::string& slot : order.name) {
        slot.clear();
        if (next_word(rest, piece, "- \t\r\n")) {
            slot.assign(piece);
            to_upper_in_place(slot);
        }
    }
    for (const std::string& slot : order.name)
        if (!is_operation_name(slot)) fatal("Error, %s is not a valid operation", slot.c_str());
}

void to_upper_in_place(std::string& text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

void read_options_file(const std::string&) {
    OptionsReader reader;
    if (!open_line_reader(reader.in, options_file_name))
        fatal("Error, could not find input file named \"htc_inputs.in\", exiting.\n");
    MapSettings& s = settings;
    s = MapSettings{};

    s.tolerance = reader.real("tolerance");
    s.grow_mult = reader.integer("grow_mult");
    s.scale_xyz = reader.real("scale_xyz");
    s.rot_angle_x = degrees_to_radians(reader.real("rot_angle_x"));
    s.rot_angle_y = degrees_to_radians(reader.real("rot_angle_y"));
    s.rot_angle_z = degrees_to_radians(reader.real("rot_angle_z"));
    s.trans_x = reader.real("trans_x");
    s.trans_y = reader.real("trans_y");
    s.trans_z = reader.real("trans_z");
    read_order_line(reader.next(), operation_order);

    s.read_abaqus = reader.integer("read_abaqus");
    reader.check_choice("read_abaqus", s.read_abaqus, 2);
    s.use_elset = 0;
    if (s.read_abaqus >= 1) {
        s.num_surface = reader.integer("num_surface");
        for (int i = 0; i < s.num_surface; ++i) {
            const InputLine* line = reader.next();
            s.surface_names.push_back(read_name_keyword_line(line));
            s.surface_ids.push_back(reader.surface_id(*line, i + 1));
        }
        if (s.num_surface >= 1) s.use_elset = reader.integer("use_elset");
    }

    s.max_htc = reader.real("max_htc");

    s.enforce_boundID_match = reader.integer("enforce_boundID_match");
    switch (s.enforce_boundID_match) {
    case 0:
        say("Boundary ID matching will not be checked during mapping\n");
        break;
    case 1:
        say("Boundary ID matching will be enforced\n");
        say("Boundary ID in surface files MUST match boundary IDs in Kelvora surface file\n");
        break;
    case 2:
        say("Only enforcing boundary ID match for boundary ID 1 (piston)\n");
        break;
    default:
        fatal("enforce_boundID_match must be 0, 1, or 2\n");
    }

    s.hit_location_output_files = reader.integer("hit_location_output_files");
    s.map_additional_variables = reader.integer("map_additional_variables");
    s.use_convective_ht = reader.integer("use_convective_ht");
    reader.check_choice("use_convective_ht", s.use_convective_ht, 1);
    if (s.use_convective_ht == 1 && s.map_additional_variables == 0)
        fatal("Error: map_additional_variables must be 1 when use_convective_ht is 1\n");

    s.ensight_outputfiles = reader.integer("ensight_outputfiles");
    s.gmv_outputfiles = reader.integer("gmv_outputfiles");
    s.fieldview_outputfiles = reader.integer("fieldview_outputfiles");

    s.dedicatedboundaryoutputfiles = reader.integer("dedicatedboundaryoutputfiles");
    for (int g = 0; g < s.dedicatedboundaryoutputfiles; ++g) {
        BoundaryGroup group;
        group.name = reader.name();
        group.numboundaries = reader.integer("numboundaries");
        for (int b = 0; b < group.numboundaries; ++b)
            group.boundary.push_back(reader.integer("boundary"));
        s.boundary_groups.push_back(std::move(group));
    }

    s.start_time = reader.real("start_time");
    s.end_time = reader.real("end_time");
    s.startoption = reader.integer("startoption");
    reader.check_choice("startoption", s.startoption, 1);

    s.num_valve_entries = reader.integer("num_valve_entries");
    for (int i = 0; i < s.num_valve_entries; ++i) reader.valve_entry();
    reader.extension_lines();
    close_line_reader(reader.in);
}
