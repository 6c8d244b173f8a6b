// tests/output: a fresh working directory per test and small surfaces built by hand.
#pragma once

#include "config/options.h"
#include "platform/fatal.h"
#include "surface/surface.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

inline std::string read_whole_file(const std::string& name) {
    std::string text;
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) return "<missing " + name + ">";
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
}

// "\n" to "\r\n": expected text results are written with plain line feeds.
inline std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

inline void clear_surface_tables() {
    vertex_table.clear();
    triangle_table.clear();
    vertex_triangles.clear();
    extra_names.clear();
    triangle_extra.clear();
    vertex_extra.clear();
    element_number.clear();
    face_number.clear();
    surface_number.clear();
    settings = MapSettings();
}

inline Vertex make_vertex(double x, double y, double z, int boundary_id = 0) {
    Vertex v;
    v.x = x;
    v.y = y;
    v.z = z;
    v.boundary_id = boundary_id;
    return v;
}

inline Triangle make_triangle(int a, int b, int c, int boundary_id = 0) {
    Triangle t;
    t.vert[0] = a;
    t.vert[1] = b;
    t.vert[2] = c;
    t.boundary_id = boundary_id;
    return t;
}

// Each test runs in its own empty directory, removed afterwards.
class InTempDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        old_directory_ = std::filesystem::current_path();
        char pattern[] = "/tmp/quorvel_output_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
        std::filesystem::current_path(directory_);
        clear_surface_tables();
    }
    void TearDown() override {
        flush_say();
        std::filesystem::current_path(old_directory_);
        std::filesystem::remove_all(directory_);
        clear_surface_tables();
    }
    std::filesystem::path old_directory_, directory_;
};
