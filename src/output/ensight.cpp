// output/ensight.cpp: the EnSight output: the choice of form, the case file, the creation
// of files under ensight/ and the ASCII geometry and variable files.
#include "output/output_files.h"
#include "output/viewers.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/system.h"
#include "surface/surface.h"

#include <cerrno>

int write_ensight() {
    int option = settings.ensight_outputfiles;
    if (option == 1) return write_ensight_ascii(ensight_variable_table());
    if (option == 2 || option == 3)
        return write_ensight_binary(option == 3, static_cast<unsigned>(wall_clock_seconds()));
    say("\nInvalid option selected for writing output files in Ensight format. No output files "
        "written.");
    say("\nValid optins:\n");
    say("1 - ASCII format\n");
    say("2 - Binary format\n");
    say("3 - Scrambled Binary format\n");
    return 0;
}

std::vector<EnsightVariable> ensight_variable_table() {
    std::vector<EnsightVariable> table = {{"boundary_temp", "quorvel.btemp"},
                                          {"flux", "quorvel.flux"},
                                          {"htc", "quorvel.htc"},
                                          {"fluid_temp", "quorvel.ftemp"},
                                          {"yplus", "quorvel.yplus"}};
    for (const std::string& name : extra_names)
        table.push_back({name, "quorvel." + safe_file_name_part(name)});
    return table;
}

// A column name is the user's text: "T/K" must not become a path under ensight/.
std::string safe_file_name_part(const std::string& name) {
    std::string safe = name;
    for (char& c : safe) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '.';
        if (!keep) c = '_';
    }
    return safe;
}

void open_ensight_file(OutFile& file, const std::string& path, LineEnd line_end) {
    if (open_result_file(file, path, line_end)) return;
    // An "ensight" that already exists as a directory is no failure to create it: the
    // file itself is what could not be made, and the message below says so. A plain file
    // of that name is in the way of the directory.
    if (!make_directory("ensight") && (errno != EEXIST || !is_directory("ensight"))) {
        const char* stars =
            "*************************************************************************** \n";
        fatal("%s********* Error -- Unable to create directory: %s ***************\n%s", stars,
              "ensight", stars);
    }
    if (!open_result_file(file, path, line_end)) fatal("could not create %s\n", path.c_str());
}

void write_ensight_case(const std::vector<EnsightVariable>& table) {
    OutFile file;
    open_ensight_file(file, "ensight/quorvel.case", LineEnd::crlf);
    out_format(file, "#\n# New case file format for: %s\n#\n\n", "surface");
    out_text(file, "FORMAT\ntype:\t\t\tensight\n\n");
    out_text(file, "GEOMETRY\nmodel:\t\t\tquorvel.geo\n\n");
    out_text(file, "VARIABLE\n\n");
    for (const EnsightVariable& entry : table)
        out_format(file, "scalar per node:\t%s\t%s\n", entry.description.c_str(),
                   entry.file_name.c_str());
    close_out_file(file);
}

namespace {

// Two-digit exponents keep every "% 2.5e" field 12 characters wide, as readers of this
// fixed-width form expect.
constexpr int ascii_exponent_digits = 2;

void write_ascii_geometry() {
    OutFile file;
    open_ensight_file(file, "ensight/quorvel.geo", LineEnd::crlf);
    file.exponent_digits = ascii_exponent_digits;
    out_text(file, "Triangulated surface\n\n");
    out_text(file, "node id assign\n");
    out_text(file, "element id assign\n");
    out_text(file, "coordinates\n");
    out_format(file, "%8d\n", static_cast<int>(vertex_table.size()));
    for (const Vertex& v : vertex_table) out_format(file, "% 2.5e% 2.5e% 2.5e\n", v.x, v.y, v.z);

    // Part numbers start at 1 for readers that reserve part 0: the whole numbering moves
    // up by one when boundary 0 is present, and stays as the IDs otherwise.
    BoundaryParts parts = sort_triangles_by_boundary();
    int offset = parts.count(0) > 0 ? 1 : 0;
    for (int b = 0; b <= BoundaryParts::max_boundary_id; ++b) {
        if (parts.count(b) == 0) continue;
        out_format(file, "part %i\n boundary_%i\ntria3\n", b + offset, b + offset);
        out_format(file, "%8d\n", parts.count(b));
        for (int i = parts.begin[b]; i < parts.begin[b + 1]; ++i) {
            const Triangle& t = triangle_table[parts.triangles[i]];
            out_format(file, "%8d%8d%8d\n", t.vert[0] + 1, t.vert[1] + 1, t.vert[2] + 1);
        }
    }
    close_out_file(file);
}

// Binary mode: these files have always ended their lines with a bare line feed.
void write_ascii_variable(int position, const EnsightVariable& entry) {
    OutFile file;
    open_ensight_file(file, "ensight/" + entry.file_name, LineEnd::lf);
    file.exponent_digits = ascii_exponent_digits;
    out_format(file, "%s\n", entry.description.c_str());
    int n = static_cast<int>(vertex_table.size());
    for (int v = 0; v < n; ++v) {
        out_format(file, "% 2.5e", vertex_variable(v, position));
        if ((v + 1) % 6 == 0) out_text(file, "\n");
    }
    close_out_file(file);
}

}  // namespace

int write_ensight_ascii(const std::vector<EnsightVariable>& table) {
    write_ensight_case(table);
    write_ascii_geometry();
    for (std::size_t i = 0; i < table.size(); ++i)
        write_ascii_variable(static_cast<int>(i), table[i]);
    return 0;
}
