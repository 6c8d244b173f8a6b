// The whole chain a user runs, with the real tools: gmsh meshes a thick tube, quorvel maps
// a generated transfer file onto the tube's inner wall (free faces of the gmsh deck) and
// writes film cards, CalculiX (ccx) solves the steady conduction with those cards inside
// and a coolant film outside. Checked: the heat through the film cards equals the heat into
// the coolant, and the temperatures follow the 1-D answer for a tube.
// Skipped, saying so, when gmsh or ccx is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Tube in mm: inner radius 20, outer 30, length 20; steel k = 15 W/m/K (= mW/mm/K).
constexpr double r_inner = 20, r_outer = 30, length = 20, conductivity = 15;
// Gas inside (the mapped CFD data, SI) and coolant outside.
constexpr double gas_temp = 800, gas_htc = 1000;      // K, W/m^2/K
constexpr double coolant_temp = 350, coolant_htc = 5000;
constexpr double pi = 3.14159265358979323846;

bool have_program(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

int run_in(const fs::path& dir, const std::string& command) {
    return std::system(("cd '" + dir.string() + "' && " + command).c_str());
}

struct Mesh {
    std::map<int, std::array<double, 3>> nodes;
    std::map<int, std::array<int, 4>> tetrahedra;
};

// The *NODE and C3D4 *ELEMENT lines of gmsh's deck.
Mesh read_gmsh_deck(const fs::path& path) {
    Mesh mesh;
    std::ifstream in(path);
    std::string line;
    enum { other, nodes, tets } section = other;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (line[0] == '*') {
            section = line.rfind("*NODE", 0) == 0                          ? nodes
                      : line.find("type=C3D4") != std::string::npos ? tets
                                                                     : other;
            continue;
        }
        for (char& c : line)
            if (c == ',') c = ' ';
        std::istringstream words(line);
        int number;
        words >> number;
        if (section == nodes) {
            auto& xyz = mesh.nodes[number];
            words >> xyz[0] >> xyz[1] >> xyz[2];
        } else if (section == tets) {
            auto& n = mesh.tetrahedra[number];
            words >> n[0] >> n[1] >> n[2] >> n[3];
        }
    }
    return mesh;
}

// Corner positions of the tetrahedron faces F1..F4, as the solver numbers them.
const int face_corners[4][3] = {{0, 1, 2}, {0, 3, 1}, {1, 3, 2}, {2, 3, 0}};

std::array<int, 3> face_nodes(const Mesh& mesh, int element, int face) {
    const auto& n = mesh.tetrahedra.at(element);
    return {n[face_corners[face - 1][0]], n[face_corners[face - 1][1]], n[face_corners[face - 1][2]]};
}

double face_area(const Mesh& mesh, const std::array<int, 3>& f) {
    const auto &a = mesh.nodes.at(f[0]), &b = mesh.nodes.at(f[1]), &c = mesh.nodes.at(f[2]);
    double u[3], v[3];
    for (int d = 0; d < 3; ++d) {
        u[d] = b[d] - a[d];
        v[d] = c[d] - a[d];
    }
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

double radius(const std::array<double, 3>& p) { return std::hypot(p[0], p[1]); }

// Faces on no other tetrahedron whose corners all lie on the cylinder of radius r.
std::vector<std::pair<int, int>> boundary_faces_at(const Mesh& mesh, double r) {
    std::map<std::array<int, 3>, int> uses;
    auto key = [](std::array<int, 3> f) {
        std::sort(f.begin(), f.end());
        return f;
    };
    for (const auto& [e, n] : mesh.tetrahedra)
        for (int f = 1; f <= 4; ++f) ++uses[key(face_nodes(mesh, e, f))];
    std::vector<std::pair<int, int>> faces;
    for (const auto& [e, n] : mesh.tetrahedra) {
        for (int f = 1; f <= 4; ++f) {
            auto nodes = face_nodes(mesh, e, f);
            if (uses[key(nodes)] != 1) continue;
            bool on = true;
            for (int k : nodes) on = on && std::abs(radius(mesh.nodes.at(k)) - r) < 1e-6;
            if (on) faces.push_back({e, f});
        }
    }
    return faces;
}

struct FilmLine {
    int element, face;
    double sink, htc;
};

// The data lines of the *FILM block of a card file (comment lines skipped).
std::vector<FilmLine> read_film_lines(const fs::path& path) {
    std::vector<FilmLine> lines;
    std::ifstream in(path);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("**", 0) == 0) continue;
        if (line.rfind("*", 0) == 0) {
            inside = line.rfind("*FILM", 0) == 0;
            continue;
        }
        if (!inside || line.empty()) continue;
        FilmLine film;
        char f;
        if (std::sscanf(line.c_str(), "%d, %c%d, %lf, %lf", &film.element, &f, &film.face,
                        &film.sink, &film.htc) == 5)
            lines.push_back(film);
    }
    return lines;
}

// Nodal temperatures of the solver's .dat file ("node value" lines).
std::map<int, double> read_temperatures(const fs::path& path) {
    std::map<int, double> temps;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        int node;
        double t;
        char rest;
        if (std::sscanf(line.c_str(), " %d %lf %c", &node, &t, &rest) == 2) temps[node] = t;
    }
    return temps;
}

// h * A * (T_sink - T_face) summed over the film lines: the heat the films put into the
// body. Exact for linear tetrahedra, whose face temperature mean is that of its corners.
double heat_in(const Mesh& mesh, const std::vector<FilmLine>& films,
               const std::map<int, double>& temps) {
    double heat = 0;
    for (const FilmLine& film : films) {
        auto nodes = face_nodes(mesh, film.element, film.face);
        double mean = (temps.at(nodes[0]) + temps.at(nodes[1]) + temps.at(nodes[2])) / 3;
        heat += film.htc * face_area(mesh, nodes) * (film.sink - mean);
    }
    return heat;
}

class CalculixTube : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        char name[] = "/tmp/quorvel_ccx_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
        else std::printf("kept %s\n", dir.c_str());
    }
};

TEST_F(CalculixTube, FilmCardsCarryTheMappedHeatIntoATubeAsTheOneDimensionalAnswerSays) {
    if (!have_program("gmsh"))
        GTEST_SKIP() << "gmsh (Debian package gmsh) is not installed: the CalculiX end-to-end "
                        "test is skipped";
    if (!have_program("ccx"))
        GTEST_SKIP() << "ccx (Debian package calculix-ccx) is not installed: the CalculiX "
                        "end-to-end test is skipped";

    // 1. gmsh: the README's example tube (mm, first-order tetrahedra, element set TUBE).
    const fs::path example = QUORVEL_TUBE_EXAMPLE;
    fs::copy_file(example / "tube.geo", dir / "tube.geo");
    fs::copy_file(example / "htc_inputs.in", dir / "htc_inputs.in");
    ASSERT_EQ(run_in(dir, "gmsh tube.geo -3 -format inp -o tube.inp > gmsh.log 2>&1"), 0);
    const Mesh mesh = read_gmsh_deck(dir / "tube.inp");
    ASSERT_GT(mesh.tetrahedra.size(), 1000u);

    // 2. quorvel: the deck as gmsh wrote it plus one surface of the volume's free faces,
    // boundary ID 2 as the CFD numbers the wall; the samples on the inner wall, in metres
    // (as the example's make_transfer.py writes them).
    {
        std::ifstream gmsh_deck(dir / "tube.inp");
        std::ofstream deck(dir / "model.inp");
        deck << gmsh_deck.rdbuf() << "*SURFACE, NAME=LINER\nTUBE,\n";
    }
    // Its options: "LINER name 2", enforce_boundID_match 1, scale_xyz 0.001, film_output 1,
    // model_units 1.
    {
        std::ofstream transfer(dir / "transfer.out");
        transfer << "Time= 1.0\nKelvora wall boundary transfer data\ncells per boundary follow\n"
                    "units SI\ntemperatures K\nfluxes W/m^2\nareas m^2\n"
                    "Number Bound_id X Y Z F_TEMP FLUX AREA HTC B_TEMP Y_PLUS X_ORIG Y_ORIG Z_ORIG\n";
        const int around = 160, along = 40;
        const double ri = r_inner * 1e-3, l = length * 1e-3;
        const double area = 2 * pi * ri * l / (around * along);
        char row[400];
        int number = 0;
        for (int j = 0; j < along; ++j) {
            for (int i = 0; i < around; ++i) {
                double a = 2 * pi * (i + 0.5) / around, z = (j + 0.5) * l / along;
                double x = ri * std::cos(a), y = ri * std::sin(a);
                std::snprintf(row, sizeof row,
                              "%d 2 %.9e %.9e %.9e %g 0 %.6e %g 400 30 %.9e %.9e %.9e\n", ++number,
                              x, y, z, gas_temp, area, gas_htc, x, y, z);
                transfer << row;
            }
        }
    }
    const std::string quorvel = std::getenv("QUORVEL_BINARY") ? std::getenv("QUORVEL_BINARY")
                                                                : QUORVEL_BINARY;
    ASSERT_EQ(run_in(dir, "'" + quorvel + "' model.inp transfer.out > quorvel.log 2>&1"), 0);

    // Every inner-wall face got its card, and only those (the other free faces got no data).
    const std::vector<FilmLine> films = read_film_lines(dir / "htc_film.inp");
    const auto inner = boundary_faces_at(mesh, r_inner);
    ASSERT_EQ(films.size(), inner.size());
    for (const FilmLine& film : films) {
        EXPECT_NEAR(film.sink, gas_temp, 1e-9);
        EXPECT_NEAR(film.htc, gas_htc * 1e-3, 1e-12);  // mW/mm^2/K
    }

    // 3. ccx: the gmsh deck, steel, the film cards and the coolant film outside.
    const auto outer = boundary_faces_at(mesh, r_outer);
    {
        std::ofstream run(dir / "run.inp");
        run << "*INCLUDE, INPUT=tube.inp\n*NSET, NSET=NALL, GENERATE\n1, "
            << mesh.nodes.rbegin()->first << ", 1\n"
            << "*MATERIAL, NAME=STEEL\n*CONDUCTIVITY\n" << conductivity << "\n"
            << "*SOLID SECTION, ELSET=TUBE, MATERIAL=STEEL\n"
            << "*INITIAL CONDITIONS, TYPE=TEMPERATURE\nNALL, 400.\n"
            << "*STEP\n*HEAT TRANSFER, STEADY STATE\n1., 1.\n"
            << "*INCLUDE, INPUT=htc_film.inp\n*FILM\n";
        for (const auto& [e, f] : outer)
            run << e << ", F" << f << ", " << coolant_temp << ", " << coolant_htc * 1e-3 << "\n";
        run << "*NODE PRINT, NSET=NALL\nNT\n*END STEP\n";
    }
    ASSERT_EQ(run_in(dir, "OMP_NUM_THREADS=1 ccx -i run > ccx.log 2>&1"), 0)
        << "see " << (dir / "ccx.log");
    const std::map<int, double> temps = read_temperatures(dir / "run.dat");
    ASSERT_EQ(temps.size(), mesh.nodes.size());

    // Heat balance: in through the film cards, out into the coolant (mW).
    std::vector<FilmLine> coolant;
    for (const auto& [e, f] : outer) coolant.push_back({e, f, coolant_temp, coolant_htc * 1e-3});
    const double in = heat_in(mesh, films, temps), out = -heat_in(mesh, coolant, temps);
    EXPECT_NEAR(out / in, 1.0, 1e-3) << "in " << in << " mW, out " << out << " mW";

    // 1-D tube: resistances per unit length in series, T(r) through the wall.
    const double h_in = gas_htc * 1e-3, h_out = coolant_htc * 1e-3;
    const double r_film_in = 1 / (h_in * 2 * pi * r_inner);
    const double r_wall = std::log(r_outer / r_inner) / (2 * pi * conductivity);
    const double r_film_out = 1 / (h_out * 2 * pi * r_outer);
    const double per_length = (gas_temp - coolant_temp) / (r_film_in + r_wall + r_film_out);
    EXPECT_NEAR(in, per_length * length, 5e-3 * per_length * length);
    double worst = 0;
    for (const auto& [node, t] : temps) {
        double r = radius(mesh.nodes.at(node));
        double exact = gas_temp - per_length * (r_film_in + std::log(r / r_inner) / (2 * pi * conductivity));
        worst = std::max(worst, std::abs(t - exact));
    }
    // Within 0.5 % of the temperature drop (the faceted mesh, not the cards, accounts for it).
    EXPECT_LT(worst, 5e-3 * (gas_temp - coolant_temp)) << "worst node off by " << worst << " K";
}

}  // namespace
