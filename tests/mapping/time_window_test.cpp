// tests/mapping/time_window_test.cpp: step selection, integration over the intervals and
// the final triangle and vertex averages.
#include "mapping/time_window.h"

#include "mapping_test_tables.h"
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// The run's side of selection: a used step moves previous_time to its own time.
struct Selected {
    StepChoice choice;
    double interval;  // of a used step
};

Selected select(double time) {
    Selected result{select_step(time, "s"), 0};
    if (result.choice == StepChoice::use) {
        result.interval = time - previous_time;
        previous_time = time;
    }
    return result;
}

class TimeWindow : public ::testing::Test {
protected:
    void SetUp() override {
        reset_mapping_tables();
        settings.start_time = 1.0;
        settings.end_time = 2.0;
    }
};

TEST_F(TimeWindow, FirstBlockOnlyMarksTheStartWithStartoption0) {
    // 0.9 is skipped as the first data, 1.1 counts from 0.9 (not from 1.0), 1.3 from 1.1.
    settings.startoption = 0;
    EXPECT_EQ(select(0.9).choice, StepChoice::skip);
    Selected second = select(1.1);
    EXPECT_EQ(second.choice, StepChoice::use);
    EXPECT_DOUBLE_EQ(second.interval, 0.2);
    Selected third = select(1.3);
    EXPECT_EQ(third.choice, StepChoice::use);
    EXPECT_DOUBLE_EQ(third.interval, 0.2);
}

TEST_F(TimeWindow, FirstUsedBlockCountsFromStartTimeWithStartoption1) {
    settings.startoption = 1;
    EXPECT_EQ(select(0.9).choice, StepChoice::skip);  // before the window
    Selected second = select(1.1);
    EXPECT_EQ(second.choice, StepChoice::use);
    EXPECT_NEAR(second.interval, 0.1, 1e-15);
    EXPECT_NEAR(select(1.3).interval, 0.2, 1e-15);
    EXPECT_FALSE(first_step);
}

TEST_F(TimeWindow, RestartRepeatsAreRedundantExceptTheLastTime) {
    // First file 1.0 .. 1.4; the restart file starts again at 1.2.
    settings.start_time = 0;
    for (double t : {1.0, 1.2, 1.4}) select(t);
    EXPECT_EQ(select(1.2).choice, StepChoice::skip);
    EXPECT_DOUBLE_EQ(previous_time, 1.4);  // a redundant block leaves it alone
    Selected same = select(1.4);
    EXPECT_EQ(same.choice, StepChoice::use);
    EXPECT_DOUBLE_EQ(same.interval, 0.0);
    EXPECT_DOUBLE_EQ(select(1.6).interval, 1.6 - 1.4);
}

TEST_F(TimeWindow, WindowEndsAreIncludedAndABlockAfterItEndsTheFile) {
    settings.startoption = 1;
    EXPECT_EQ(select(1.0).choice, StepChoice::use);
    EXPECT_EQ(select(2.0).choice, StepChoice::use);
    EXPECT_EQ(select(2.5).choice, StepChoice::skip_and_end_file);
    EXPECT_DOUBLE_EQ(previous_time, 2.5);
    EXPECT_EQ(select(3.0).choice, StepChoice::skip_and_end_file);
}

// Two triangles sharing the edge v1-v2 of the unit square, right-angled at v0 and v3.
void make_square() {
    vertex_table.assign(4, Vertex{});
    double xy[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (int v = 0; v < 4; ++v) {
        vertex_table[v].x = xy[v][0];
        vertex_table[v].y = xy[v][1];
    }
    triangle_table.assign(2, Triangle{});
    triangle_geometry.assign(2, TriangleGeometry{});
    int corners[2][3] = {{0, 1, 2}, {3, 2, 1}};
    for (int t = 0; t < 2; ++t) {
        for (int j = 0; j < 3; ++j) triangle_table[t].vert[j] = corners[t][j];
        triangle_geometry[t].boundary_id = 5 + t;
    }
    clear_step();
}

void give_step(int t, double htc, double fluid_temp, double boundary_temp) {
    triangle_step[t].step_htc = htc;
    triangle_step[t].step_fluid_temp = fluid_temp;
    triangle_step[t].step_boundary_temp = boundary_temp;
    triangle_step[t].step_flux = 2 * htc;
    triangle_step[t].step_yplus = 3;
}

TEST_F(TimeWindow, DataInOneStepOfTwo) {
    // Step 0..1 with HTC 100 at 400 K, step 1..2 with nothing: 1 s with hits, 1 s without,
    // fluid 400, htc 50, flux 100, y+ 3 over the time with data. Area of the half square 0.5.
    make_square();
    give_step(0, 100, 400, 350);
    previous_time = 0;
    EXPECT_EQ(integrate_step(1.0), 1);
    previous_time = 1.0;
    // A step without data (give_step bypasses the mapping, whose clearing follows its hits).
    triangle_step.assign(triangle_step.size(), TriangleStep{});
    EXPECT_EQ(integrate_step(2.0), 2);
    finish_triangles();
    const Triangle& tri = triangle_table[0];
    EXPECT_DOUBLE_EQ(tri.time_with_hits, 1.0);
    EXPECT_DOUBLE_EQ(tri.time_without_hits, 1.0);
    EXPECT_DOUBLE_EQ(tri.fluid_temp, 400.0);
    EXPECT_DOUBLE_EQ(tri.boundary_temp, 350.0);
    EXPECT_DOUBLE_EQ(tri.htc, 50.0);
    EXPECT_DOUBLE_EQ(tri.flux, 100.0);
    EXPECT_DOUBLE_EQ(tri.yplus, 3.0);
    EXPECT_NEAR(tri.area, 0.5, 1e-15);
    EXPECT_EQ(tri.initialized, 1);
    EXPECT_EQ(triangle_table[1].initialized, 0);
    EXPECT_EQ(triangle_table[1].area, 0.0);
    EXPECT_DOUBLE_EQ(triangle_table[1].time_without_hits, 2.0);
    EXPECT_EQ(uninitialized_count, 1);
    ASSERT_EQ(uninitialized_triangles.size(), 1u);
    EXPECT_EQ(uninitialized_triangles[0], 1);
}

TEST_F(TimeWindow, VertexAveragesWeightByAngleAndBorderVerticesHaveData) {
    // Both triangles hit over 0..1: v1 and v2 get pi/4 of each, so plain means
    // (HTC 10 and 30: 20; fluid HTC-weighted (10*300 + 30*400) / 40 = 375).
    make_square();
    give_step(0, 10, 300, 300);
    give_step(1, 30, 400, 400);
    triangle_table[0].reach = 4;
    integrate_step(1.0);
    finish_triangles();
    finish_vertices();
    const VertexAverages& shared = vertex_averages[1];
    EXPECT_EQ(shared.initialized, 1);
    EXPECT_DOUBLE_EQ(shared.htc, 20.0);
    EXPECT_DOUBLE_EQ(shared.fluid_temp, 375.0);
    EXPECT_DOUBLE_EQ(shared.angle_sum, M_PI / 2);
    EXPECT_EQ(shared.boundary_id, 6);  // the last initialized triangle's
    EXPECT_EQ(shared.reach, 100.0);    // triangle 1 has no reach of its own
    EXPECT_EQ(vertex_averages[0].reach, 4.0);
    EXPECT_DOUBLE_EQ(vertex_averages[0].htc, 10.0);
}

TEST_F(TimeWindow, VertexAngleSumsOverAManyTriangleGridAtAnyThreadCount) {
    // 200 x 100 squares, each cut along one diagonal: more triangles than the corner
    // angles are worked out for at once. A vertex inside the grid has 2 pi around it, one on
    // an edge pi, a corner pi/2; the sums are the same bits on 1 and 3 threads.
    const int width = 200, height = 100;
    vertex_table.assign((width + 1) * (height + 1), Vertex{});
    for (int j = 0; j <= height; ++j)
        for (int i = 0; i <= width; ++i) {
            // Inner vertices moved about: each triangle's angles are its own.
            const bool inner = i > 0 && i < width && j > 0 && j < height;
            vertex_table[j * (width + 1) + i].x = i + (inner ? 0.2 * std::sin(1.3 * j + i) : 0);
            vertex_table[j * (width + 1) + i].y = j + (inner ? 0.2 * std::cos(0.7 * i + j) : 0);
        }
    triangle_table.assign(2 * width * height, Triangle{});
    triangle_geometry.assign(triangle_table.size(), TriangleGeometry{});
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) {
            const int a = j * (width + 1) + i, b = a + 1, c = a + width + 1, d = c + 1;
            const int corners[2][3] = {{a, b, c}, {d, c, b}};
            for (int half = 0; half < 2; ++half)
                for (int k = 0; k < 3; ++k)
                    triangle_table[2 * (j * width + i) + half].vert[k] = corners[half][k];
        }
    clear_step();
    for (int t = 0; t < static_cast<int>(triangle_table.size()); ++t)
        give_step(t, 10 + t % 7, 300 + t % 11, 290);
    integrate_step(1.0);
    finish_triangles();
    std::vector<VertexAverages> one_thread;
    for (int threads : {1, 3}) {
        set_thread_count(threads);
        finish_vertices();
        if (threads == 1) one_thread = vertex_averages;
    }
    set_thread_count(0);
    ASSERT_EQ(vertex_averages.size(), one_thread.size());
    EXPECT_EQ(std::memcmp(vertex_averages.data(), one_thread.data(),
                          one_thread.size() * sizeof(VertexAverages)), 0);
    for (int j = 0; j <= height; ++j)
        for (int i = 0; i <= width; ++i) {
            const bool edge_i = i == 0 || i == width, edge_j = j == 0 || j == height;
            double expected = 2 * M_PI;
            if (edge_i && edge_j)
                expected = M_PI / 2;
            else if (edge_i || edge_j)
                expected = M_PI;
            ASSERT_NEAR(vertex_averages[j * (width + 1) + i].angle_sum, expected, 1e-12)
                << i << ", " << j;
        }
}

TEST_F(TimeWindow, VertexAveragesAreMadeAfreshEachTime) {
    // The averages are a table of their own, made at the end: a second making (a second
    // run on the surface) must not add to the first.
    make_square();
    give_step(0, 10, 300, 300);
    give_step(1, 30, 400, 400);
    integrate_step(1.0);
    finish_triangles();
    finish_vertices();
    const std::vector<VertexAverages> first = vertex_averages;
    finish_vertices();
    ASSERT_EQ(vertex_averages.size(), first.size());
    for (std::size_t v = 0; v < first.size(); ++v) {
        EXPECT_EQ(vertex_averages[v].angle_sum, first[v].angle_sum);
        EXPECT_EQ(vertex_averages[v].htc, first[v].htc);
        EXPECT_EQ(vertex_averages[v].time_with_hits, first[v].time_with_hits);
    }
}

TEST_F(TimeWindow, VertexWithAnyInitializedTriangleIsInitialized) {
    // Only triangle 0 has data. v1 and v2 are also used by the later triangle 1 without
    // data: they keep triangle 0's values, and only v3 is uninitialized.
    make_square();
    give_step(0, 10, 300, 300);
    integrate_step(1.0);
    finish_triangles();
    finish_vertices();
    EXPECT_EQ(vertex_averages[1].initialized, 1);
    EXPECT_EQ(vertex_averages[2].initialized, 1);
    EXPECT_EQ(vertex_averages[3].initialized, 0);
    EXPECT_DOUBLE_EQ(vertex_averages[1].fluid_temp, 300.0);
    EXPECT_DOUBLE_EQ(vertex_averages[1].angle_sum, M_PI / 4);
    // Its times are those of triangle 0 alone: the whole window, not the window plus
    // triangle 1's time without data.
    EXPECT_DOUBLE_EQ(vertex_averages[1].time_with_hits, 1.0);
    EXPECT_DOUBLE_EQ(vertex_averages[1].time_without_hits, 0.0);
}

TEST_F(TimeWindow, NanAndNonPositiveAveragesCountAsNoData) {
    make_square();
    triangle_step[0].step_fluid_temp = std::nan("");
    triangle_step[1].step_fluid_temp = -5;
    EXPECT_EQ(integrate_step(1.0), 2);
}

}  // namespace
