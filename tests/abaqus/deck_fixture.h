// deck_fixture.h: the deck conversion run in a fresh directory, and readers of its files,
// shared by the tests of this folder.
#pragma once

#include "abaqus/abaqus_deck.h"
#include "config/options.h"
#include "surface/surface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace deck_test {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Lines of a result file, each checked to end in CR LF and returned without it.
inline std::vector<std::string> crlf_lines(const fs::path& path) {
    std::string text = read_file(path);
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        EXPECT_NE(end, std::string::npos) << path << " ends without a line end";
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        EXPECT_TRUE(!line.empty() && line.back() == '\r') << path << ": bare LF in \"" << line << "\"";
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        begin = end + 1;
    }
    return lines;
}

// Runs the conversion in a fresh directory; keeps the files and standard output for checks.
class DeckTest : public ::testing::Test {
protected:
    fs::path old_dir, dir;
    std::string out;
    std::vector<std::string> dat, list;

    void SetUp() override {
        old_dir = fs::current_path();
        char name[] = "/tmp/abaqus_test_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        fs::current_path(dir);
        settings = MapSettings();
    }
    void TearDown() override {
        fs::current_path(old_dir);
        fs::remove_all(dir);
    }
    void surfaces(std::vector<std::string> names, int use_elset = 0) {
        settings.num_surface = static_cast<int>(names.size());
        settings.surface_names = std::move(names);
        settings.use_elset = use_elset;
    }
    void convert(const std::string& deck) {
        std::ofstream("model.inp", std::ios::binary) << deck;
        ::testing::internal::CaptureStdout();
        read_abaqus_deck("model.inp");
        out = ::testing::internal::GetCapturedStdout();
        dat = crlf_lines("abaqus.dat");
        list = crlf_lines("ABAQUS_elementlist.dat");
    }
    // Triangle t of abaqus.dat as "a b c s".
    std::string triangle(int t) const {
        int vertices = std::atoi(dat.at(0).c_str());
        std::istringstream line(dat.at(1 + vertices + t));
        int a, b, c, s;
        line >> a >> b >> c >> s;
        return std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
               std::to_string(s);
    }
};

inline std::string tool_deck(const char* name) { return read_file(fs::path(ABAQUS_DECKS) / name); }

inline void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Coordinates of the vertices of abaqus.dat, by 1-based number.
inline std::vector<std::vector<double>> dat_vertices(const std::vector<std::string>& dat) {
    int count = std::atoi(dat.at(0).c_str());
    std::vector<std::vector<double>> xyz(count + 1);
    for (int v = 1; v <= count; ++v) {
        std::istringstream line(dat.at(v));
        int id;
        double x, y, z;
        line >> id >> x >> y >> z;
        xyz[id] = {x, y, z};
    }
    return xyz;
}

}  // namespace deck_test
