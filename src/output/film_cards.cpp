// output/film_cards.cpp: *FILM and *DFLUX cards per element face, and the faces' areas.
//
// A face is the run of consecutive triangles the deck conversion made from one element
// face (or one shell element). Its values conserve what the CFD put through it: h is the
// area mean of its triangles' HTC, the sink temperature their HTC-and-area weighted fluid
// temperature, so h * A * (T_sink - T_wall) is the sum over its triangles. A triangle that
// never received data counts with h = 0 and no flux, as the time averages treat time
// without data.
#include "output/film_cards.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/io.h"
#include "surface/surface.h"

#include <cmath>
#include <vector>

namespace {

struct FaceValues {
    int element = 0;
    int face = 0;  // n of Sn; 0 for a shell element
    double area = 0, htc = 0, sink = 0, flux = 0;
};

struct Units {
    const char* name;
    const char* length;
    const char* area;
    const char* htc;
    const char* flux;
    double area_factor;  // from m^2
    double power_factor;  // W/m^2 and W/m^2/K to the model's units
};

const Units si_units = {"SI", "m", "m^2", "W/m^2/K", "W/m^2", 1.0, 1.0};
// tonne mm^2/s^2 is the mJ, so power is mW: 1 W/m^2 = 1e-3 mW/mm^2.
const Units mm_units = {"mm-tonne-s", "mm", "mm^2", "mW/mm^2/K", "mW/mm^2", 1e6, 1e-3};

double triangle_area(const Triangle& tri) {
    const Vertex& a = vertex_table[tri.vert[0]];
    const Vertex& b = vertex_table[tri.vert[1]];
    const Vertex& c = vertex_table[tri.vert[2]];
    const double u[3] = {b.x - a.x, b.y - a.y, b.z - a.z}, v[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                         u[0] * v[1] - u[1] * v[0]};
    return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

// The faces that received data, in triangle order, values in SI.
std::vector<FaceValues> collect_faces() {
    std::vector<FaceValues> faces;
    const int count = static_cast<int>(triangle_table.size());
    for (int first = 0; first < count;) {
        int end = first + 1;
        while (end < count && element_number[end] == element_number[first] &&
               face_number[end] == face_number[first] && surface_number[end] == surface_number[first])
            ++end;
        double area = 0, h_area = 0, h_area_temp = 0, data_area = 0, temp_area = 0, flux_area = 0;
        for (int t = first; t < end; ++t) {
            const Triangle& tri = triangle_table[t];
            const double a = triangle_area(tri);
            area += a;
            if (tri.initialized != 1) continue;
            h_area += tri.htc * a;
            h_area_temp += tri.htc * a * tri.fluid_temp;
            data_area += a;
            temp_area += a * tri.fluid_temp;
            flux_area += a * tri.flux;
        }
        if (data_area > 0 && area > 0) {
            FaceValues face;
            face.element = element_number[first];
            face.face = face_number[first];
            face.area = area;
            face.htc = h_area / area;
            face.sink = h_area > 0 ? h_area_temp / h_area : temp_area / data_area;
            face.flux = flux_area / area;
            faces.push_back(face);
        }
        first = end;
    }
    return faces;
}

void open_card_file(OutFile& file, const char* name) {
    if (!open_result_file(file, name, LineEnd::crlf)) fatal("ERROR: could not create %s\n", name);
}

// Shell elements: the map cannot tell which side the fluid was on, and a film on the wrong
// side would be silently wrong, so their lines are left for the user to label.
void write_shell_note(OutFile& file, const char* label) {
    out_format(file,
               "** Shell elements: the mapped data does not tell which side of a shell the fluid\n"
               "** is on. %s1 is the side against the element normal (right-hand rule over its\n"
               "** nodes 1-2-3), %s2 the side along it. Uncomment each line with the label of the\n"
               "** wetted side.\n",
               label, label);
}

void write_film_file(const std::vector<FaceValues>& faces, const Units& units) {
    OutFile file;
    open_card_file(file, "htc_film.inp");
    out_format(file,
               "** Film conditions from the mapped CFD wall data, for *INCLUDE inside a *STEP.\n"
               "** element, face, sink temperature (K), film coefficient (%s); units %s "
               "(lengths in %s).\n"
               "** Face areas: htc_abaqus_area.csv.\n"
               "*FILM\n",
               units.htc, units.name, units.length);
    bool shells = false;
    for (const FaceValues& face : faces) {
        if (face.face == 0) {
            shells = true;
            continue;
        }
        out_format(file, "%d, F%d, %e, %e\n", face.element, face.face, face.sink,
                   face.htc * units.power_factor);
    }
    if (shells) {
        write_shell_note(file, "F");
        for (const FaceValues& face : faces)
            if (face.face == 0)
                out_format(file, "** %d, F1 or F2, %e, %e\n", face.element, face.sink,
                           face.htc * units.power_factor);
    }
    close_out_file(file);
}

void write_dflux_file(const std::vector<FaceValues>& faces, const Units& units) {
    OutFile file;
    open_card_file(file, "htc_dflux.inp");
    out_format(file,
               "** Heat flux from the mapped CFD wall data, for *INCLUDE inside a *STEP.\n"
               "** element, face, heat flux into the wall (%s); units %s (lengths in %s).\n"
               "*DFLUX\n",
               units.flux, units.name, units.length);
    bool shells = false;
    for (const FaceValues& face : faces) {
        if (face.face == 0) {
            shells = true;
            continue;
        }
        out_format(file, "%d, S%d, %e\n", face.element, face.face, face.flux * units.power_factor);
    }
    if (shells) {
        write_shell_note(file, "S");
        for (const FaceValues& face : faces)
            if (face.face == 0)
                out_format(file, "** %d, S1 or S2, %e\n", face.element, face.flux * units.power_factor);
    }
    close_out_file(file);
}

void write_area_file(const std::vector<FaceValues>& faces, const Units& units) {
    OutFile file;
    open_card_file(file, "htc_abaqus_area.csv");
    out_format(file, "element,face,area(%s),htc(%s),sink(K),flux(%s)\n", units.area, units.htc,
               units.flux);
    for (const FaceValues& face : faces)
        out_format(file, "%d,F%d,%e,%e,%e,%e\n", face.element, face.face,
                   face.area * units.area_factor, face.htc * units.power_factor, face.sink,
                   face.flux * units.power_factor);
    close_out_file(file);
}

}  // namespace

void write_film_cards() {
    if (settings.film_output == 0) return;
    if (settings.read_abaqus == 0 || element_number.size() < triangle_table.size()) {
        say("Warning: film_output needs an ABAQUS deck (read_abaqus 1): no card file written\n");
        return;
    }
    const Units& units = settings.model_units == 1 ? mm_units : si_units;
    const std::vector<FaceValues> faces = collect_faces();
    write_film_file(faces, units);
    if (settings.film_output == 2) write_dflux_file(faces, units);
    write_area_file(faces, units);
}
