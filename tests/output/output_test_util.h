// tests/output: a fresh working directory per test and small surfaces built by hand.
#pragma once

#include "config/options.h"
#include "platform/fatal.h"
#include "surface/surface.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

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
    vertex_averages.clear();
    triangle_table.clear();
    triangle_geometry.clear();
    extra_names.clear();
    triangle_extra.clear();
    vertex_extra.clear();
    element_number.clear();
    face_number.clear();
    surface_number.clear();
    settings = MapSettings();
}

inline Vertex make_vertex(double x, double y, double z) {
    Vertex v;
    v.x = x;
    v.y = y;
    v.z = z;
    return v;
}

// A vertex with its final averages, all 0 (uninitialized).
inline VertexAverages& add_vertex(double x, double y, double z) {
    vertex_table.push_back(make_vertex(x, y, z));
    return vertex_averages.emplace_back();
}

// The vertices, each with its final averages all 0 (uninitialized).
inline void set_vertices(const std::vector<Vertex>& vertices) {
    vertex_table = vertices;
    vertex_averages.assign(vertices.size(), VertexAverages{});
}

struct TestTriangle {
    Triangle triangle;
    int boundary_id;
};

inline TestTriangle make_triangle(int a, int b, int c, int boundary_id = 0) {
    TestTriangle t{Triangle{}, boundary_id};
    t.triangle.vert[0] = a;
    t.triangle.vert[1] = b;
    t.triangle.vert[2] = c;
    return t;
}

inline Triangle& add_triangle(const TestTriangle& t) {
    triangle_geometry.emplace_back().boundary_id = t.boundary_id;
    return triangle_table.emplace_back(t.triangle);
}

inline void set_triangles(const std::vector<TestTriangle>& triangles) {
    triangle_table.clear();
    triangle_geometry.clear();
    for (const TestTriangle& t : triangles) add_triangle(t);
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

// Expected binary files, item by item, little-endian as the writers promise.
struct Bytes {
    std::string data;
    Bytes& i32(std::int32_t value) {
        for (int k = 0; k < 4; ++k) data += static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * k)) & 0xff);
        return *this;
    }
    Bytes& f32(float value) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, 4);
        return i32(static_cast<std::int32_t>(bits));
    }
    // An 80-byte record: `text` (its NUL included if wanted) and then the filler.
    Bytes& record(const std::string& text, char filler) {
        std::string r = text;
        r.resize(80, filler);
        data += r;
        return *this;
    }
};

inline std::int32_t int_at(const std::string& data, std::size_t offset) {
    std::uint32_t bits = 0;
    for (int k = 0; k < 4; ++k)
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[offset + k])) << (8 * k);
    return static_cast<std::int32_t>(bits);
}
