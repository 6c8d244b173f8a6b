// transform/transform.cpp: the transform mode. Moves the points of a temperature
// boundary-condition file by the operations its own header gives, and writes the file
// again with an identity header, so the points are already where they belong.
//
// The file is streamed: one line is held at a time and each point is written as soon as
// it is read, whatever the file's size.
#include "transform/transform.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/io.h"
#include "platform/numbers.h"
#include "platform/system.h"
#include "surface/coordinate_ops.h"

namespace {

struct Transform {
    LineReader in;
    OutFile out;
    InputLine line;

    const InputLine* next() { return next_input_line(in, line) ? &line : nullptr; }

    // A counted line as read. A cut comment took the line end with it; the line end is
    // written all the same, since gluing the next output line onto this one would
    // corrupt the file. Only a last line that never had one stays without.
    void copy(const InputLine* copied) {
        if (!copied) return;
        out_text(out, copied->text);
        if (copied->has_line_end || copied->comment_cut) out_text(out, "\n");
    }

    void header_value(const char* key, double& field, const char* identity) {
        field = read_real_keyword_line(next(), key);
        out_format(out, "%s              %s\n", identity, key);
    }

    // x, y, z and the value as "%.9E", tab-separated. The four fields are built in one
    // buffer: this runs for every point of the file.
    void write_point(const double value[4]) {
        char buffer[4 * 48];
        int length = 0;
        for (int i = 0; i < 4; ++i) {
            length += format_exponent_form(buffer + length, value[i], 9, true, 3);
            buffer[length++] = i < 3 ? '\t' : '\n';
        }
        out_text(out, std::string_view(buffer, length));
    }
};

void write_order_placeholder(void* out) { out_text(*static_cast<OutFile*>(out), "\n"); }

}  // namespace

void transform_bc_file(const std::string& input_name, const std::string& output_name) {
    Transform t;
    // Emptying the output first would destroy the input before it is read.
    if (same_file(input_name.c_str(), output_name.c_str()))
        fatal("Error, the output file %s is the input file %s, exiting.\n", output_name.c_str(),
              input_name.c_str());
    // Both are opened before either is checked; the output is a result file, so a run that
    // fails, however late, leaves no output (or the earlier one) behind.
    bool have_input = open_line_reader(t.in, input_name);
    bool have_output = open_result_file(t.out, output_name, LineEnd::crlf);
    if (!have_input)
        fatal("Error, could not find input file named %s, exiting.\n", input_name.c_str());
    if (!have_output)
        fatal("Error, could not find input file named %s, exiting.\n", output_name.c_str());
    say("Reading file %s\n", input_name.c_str());

    MapSettings& s = settings;
    t.copy(t.next());
    t.header_value("scale_xyz", s.scale_xyz, "1.0");
    t.header_value("rot_angle_x", s.rot_angle_x, "0.0");
    t.header_value("rot_angle_y", s.rot_angle_y, "0.0");
    t.header_value("rot_angle_z", s.rot_angle_z, "0.0");
    t.header_value("trans_x", s.trans_x, "0.0");
    t.header_value("trans_y", s.trans_y, "0.0");
    t.header_value("trans_z", s.trans_z, "0.0");
    s.rot_angle_x = s.rot_angle_x * pi_for_angles / 180;
    s.rot_angle_y = s.rot_angle_y * pi_for_angles / 180;
    s.rot_angle_z = s.rot_angle_z * pi_for_angles / 180;
    read_order_line(t.next(), operation_order, write_order_placeholder, &t.out);
    t.copy(t.next());
    t.copy(t.next());
    const CoordinateFrame frame = coordinate_frame();

    while (const InputLine* body = t.next()) {
        std::string_view rest = body->text, word[4];
        int words = 0;
        while (words < 4 && next_word(rest, word[words])) ++words;
        if (words >= 2 && word[1] == "time") {
            // The time line is written whole, line end included, then the line after it.
            out_text(t.out, "\n");
            out_text(t.out, body->text);
            out_text(t.out, "\n");
            t.copy(t.next());
            continue;
        }
        if (words < 4) fatal("error: not enough coordinates in file\n");
        double point[4];
        for (int i = 0; i < 4; ++i) point[i] = read_real(word[i]);
        frame.apply(point[0], point[1], point[2]);
        t.write_point(point);
    }

    say("Writing file %s\n", output_name.c_str());
    close_line_reader(t.in);
    close_out_file(t.out);
    commit_result_files();
}
