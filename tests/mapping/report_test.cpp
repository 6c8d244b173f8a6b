// tests/mapping/report_test.cpp: the mapping report's sums on a hand-built unit square of
// two triangles, with samples handed to the hit mapping as point location would.
#include "mapping/report.h"
#include "platform/io.h"

#include "mapping/hit_mapping.h"
#include "mapping_test_tables.h"
#include "surface/locate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class Report : public ::testing::Test {
protected:
    void SetUp() override {
        reset_mapping_tables();
        settings.grow_mult = 0;
        make_square(1, 1);
    }
    // The unit square in z = 0, cut along (1,0)-(0,1): triangle 0 at the origin, triangle 1
    // at (1,1), each of area 0.5, with the given boundary IDs.
    void make_square(int id0, int id1) {
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
            TriangleGeometry& geo = triangle_geometry[t];
            for (int k = 0; k < 3; ++k) {
                triangle_table[t].vert[k] = corners[t][k];
                geo.centroid[0] += xy[corners[t][k]][0] / 3;
                geo.centroid[1] += xy[corners[t][k]][1] / 3;
            }
            geo.radius = 0.5;
            geo.neighbor[1] = 1 - t;  // across the diagonal
            geo.boundary_id = t == 0 ? id0 : id1;
        }
        prepare_hit_mapping();
        report_start_run();
    }
    // A sample of the given boundary on `triangle` (or a locate_point failure code).
    void sample(int triangle, int boundary, double q, double h, double area,
                double distance = 0) {
        int s = add_sample(h, 400, area, 350, q);
        sample_pool[s].bound_id = boundary;
        record_hit(s, triangle, distance, time_, "s");
    }
    // Ends the step as the run does: growth, integration over `interval`, the report.
    void end_step(double interval) {
        grow_from_hits(time_);
        previous_time = time_ - interval;
        integrate_step(time_);
        report_end_step(time_, interval);
        time_ += 1;
        sample_count = 0;
        sample_pool.clear();
        clear_step();
    }
    const BoundaryTally& window(int boundary_id) {
        if (report_window.size() != report_ids.size()) {
            finish_triangles();
            report_finish_window();
        }
        return report_window[report_slot_of_id.at(boundary_id)];
    }
    double time_ = 1;
};

TEST_F(Report, SourceIsTimeAveragedAndMapMatchesWhenEveryTriangleIsHit) {
    // Step 1 (interval 1): q 100 on both triangles, samples of area 0.5: 100 W.
    // Step 2 (interval 3): q 200 and 400: 300 W. Window: (1*100 + 3*300) / 4 = 250 W.
    // The map: flux (100 + 3*200)/4 = 175 and (100 + 3*400)/4 = 325, times 0.5: 250 W.
    sample(0, 1, 100, 10, 0.5);
    sample(1, 1, 100, 10, 0.5);
    end_step(1);
    sample(0, 1, 200, 20, 0.5);
    sample(1, 1, 400, 20, 0.5);
    end_step(3);
    const BoundaryTally& b = window(1);
    EXPECT_EQ(b.samples, 4);
    EXPECT_EQ(b.mapped, 4);
    EXPECT_EQ(b.triangles, 2);
    EXPECT_EQ(b.triangles_initialized, 2);
    EXPECT_DOUBLE_EQ(b.area, 1.0);
    EXPECT_DOUBLE_EQ(b.sample_area, 1.0);
    EXPECT_DOUBLE_EQ(b.q_source, 250.0);
    // Heron's area of the half square is 0.5 to the last bit or two.
    EXPECT_NEAR(b.q_mapped, 250.0, 1e-12);
    // h*A: (1*10 + 3*20) / 4 = 17.5 W/K on both sides.
    EXPECT_DOUBLE_EQ(b.ha_source, 17.5);
    EXPECT_NEAR(b.ha_mapped, 17.5, 1e-12);
    EXPECT_NEAR(report_error_pct(b.q_mapped, b.q_source), 0.0, 1e-12);
    EXPECT_NEAR(report_error_pct(b.ha_mapped, b.ha_source), 0.0, 1e-12);
    EXPECT_EQ(report_verdict(b), "");
    // The steps keep their own sums.
    ASSERT_EQ(report_steps.size(), 2u);
    EXPECT_DOUBLE_EQ(report_steps[1].interval, 3.0);
    EXPECT_DOUBLE_EQ(report_steps[1].tally[0].q_source, 300.0);
    EXPECT_NEAR(report_steps[1].tally[0].q_mapped, 300.0, 1e-12);
}

TEST_F(Report, GrowthOntoAnEmptyTriangleShowsAsExcessHeat) {
    // One sample of 0.5 m^2 on triangle 0 carries 50 W; growth copies its flux onto
    // triangle 1, so the map holds 100 W: +100 %.
    settings.grow_mult = 1;
    sample(0, 1, 100, 10, 0.5);
    end_step(1);
    const BoundaryTally& b = window(1);
    EXPECT_DOUBLE_EQ(b.q_source, 50.0);
    EXPECT_DOUBLE_EQ(b.q_mapped, 100.0);
    EXPECT_EQ(b.triangles_initialized, 2);
    EXPECT_EQ(report_verdict(b), "heat rate error +100.00 % (limit 5 %)");
}

TEST_F(Report, MissesAndRefusalsAreSplitByBoundary) {
    make_square(1, 2);
    sample(0, 1, 100, 10, 0.5, 1e-4);
    sample(1, 2, 100, 10, 0.5, 3e-4);
    sample(no_triangle, 2, 100, 10, 0.25);
    sample(refused_for_boundary_id, 3, 80, 10, 0.25);
    sample(refused_for_boundary_id, 3, 80, 10, 0.25);
    end_step(1);
    const BoundaryTally& b1 = window(1);
    const BoundaryTally& b2 = window(2);
    const BoundaryTally& b3 = window(3);
    EXPECT_EQ(b1.samples, 1);
    EXPECT_EQ(b1.missed + b1.refused, 0);
    EXPECT_EQ(b2.samples, 2);
    EXPECT_EQ(b2.missed, 1);
    EXPECT_EQ(b2.refused, 0);
    EXPECT_EQ(b3.samples, 2);
    EXPECT_EQ(b3.refused, 2);
    EXPECT_EQ(b3.triangles, 0);
    // The missed sample's 25 W count in the source, not on the map.
    EXPECT_DOUBLE_EQ(b2.q_source, 75.0);
    EXPECT_DOUBLE_EQ(b2.q_mapped, 50.0);
    EXPECT_DOUBLE_EQ(b3.q_source, 40.0);
    EXPECT_DOUBLE_EQ(b2.max_distance, 3e-4);
    EXPECT_DOUBLE_EQ(b2.distance_sum, 3e-4);
    EXPECT_EQ(report_verdict(b2),
              "heat rate error -33.33 % (limit 5 %); 50.00 % of the samples not mapped, 1 "
              "missed and 0 refused (limit 1 %)");
    EXPECT_EQ(report_verdict(b3),
              "heat rate error -100.00 % (limit 5 %); 100.00 % of the samples not mapped, 0 "
              "missed and 2 refused (limit 1 %)");
    // Slots follow discovery; the files sort by ID.
    EXPECT_EQ(report_ids, (std::vector<int>{1, 2, 3}));
}

TEST_F(Report, ZeroHtcSampleAloneOnItsTriangleLosesItsFlux) {
    // HTC 0 makes triangle 0's temperature 0/0: the step drops it, and its 50 W with it.
    sample(0, 1, 100, 0, 0.5);
    sample(1, 1, 100, 10, 0.5);
    end_step(1);
    const BoundaryTally& b = window(1);
    EXPECT_EQ(b.zero_htc, 1);
    EXPECT_EQ(b.zero_htc_lost, 1);
    EXPECT_EQ(b.triangles_initialized, 1);
    EXPECT_DOUBLE_EQ(b.q_mapped, 50.0);
    EXPECT_EQ(report_verdict(b),
              "heat rate error -50.00 % (limit 5 %); coverage 50.00 % of the area (limit 99 "
              "%); 1 samples with HTC 0 lost their flux");
    EXPECT_EQ(report_steps[0].tally[0].zero_htc_lost, 1);
}

TEST_F(Report, ZeroHtcLossIsJudgedInItsOwnStep) {
    // Triangle 0 holds data in step 1; in step 2 its only sample has HTC 0: lost then,
    // whatever the step before held.
    sample(0, 1, 100, 10, 0.5);
    end_step(1);
    sample(0, 1, 100, 0, 0.5);
    sample(1, 1, 100, 10, 0.5);
    end_step(1);
    EXPECT_EQ(report_steps[0].tally[0].zero_htc_lost, 0);
    EXPECT_EQ(report_steps[1].tally[0].zero_htc_lost, 1);
}

TEST_F(Report, ZeroHtcSampleSharingATriangleKeepsItsFlux) {
    sample(0, 1, 100, 0, 0.25);
    sample(0, 1, 300, 10, 0.25);
    sample(1, 1, 200, 10, 0.5);
    end_step(1);
    const BoundaryTally& b = window(1);
    EXPECT_EQ(b.zero_htc, 1);
    EXPECT_EQ(b.zero_htc_lost, 0);
    EXPECT_DOUBLE_EQ(b.q_source, 200.0);
    EXPECT_DOUBLE_EQ(b.q_mapped, 200.0);
}

TEST_F(Report, HtcIsTakenAfterTheLimitAndConvectiveColumnsWhenAsked) {
    settings.max_htc = 50;
    use_convective_columns();
    clear_step();
    int s = add_sample(0, 400, 0.5, 350, 0);
    sample_pool[s].bound_id = 1;
    set_convective_columns(s, 120, 80);  // HTC limited to 50; the flux is never limited
    record_hit(s, 0, 0, 1.0, "s");
    end_step(1);
    const BoundaryTally& b = window(1);
    EXPECT_DOUBLE_EQ(b.ha_source, 25.0);
    EXPECT_DOUBLE_EQ(b.q_source, 60.0);
}

TEST_F(Report, WindowOfNoLengthHasNoAverage) {
    sample(0, 1, 100, 10, 0.5);
    end_step(0);
    const BoundaryTally& b = window(1);
    EXPECT_TRUE(std::isnan(b.q_source));
    EXPECT_TRUE(std::isnan(report_error_pct(b.q_mapped, b.q_source)));
}

TEST(ReportVerdict, ThresholdsAreInclusiveLimits) {
    BoundaryTally b;
    b.samples = 1000;
    b.triangles = b.triangles_initialized = 100;
    b.area = 1;
    b.area_initialized = 0.99;
    b.q_source = 100;
    b.q_mapped = 104.99;
    b.missed = 6;
    b.refused = 4;  // 1 % exactly
    EXPECT_EQ(report_verdict(b), "");
    b.q_mapped = 94.9;
    EXPECT_EQ(report_verdict(b), "heat rate error -5.10 % (limit 5 %)");
    b.q_mapped = 100;
    b.area_initialized = 0.9899;
    EXPECT_EQ(report_verdict(b), "coverage 98.99 % of the area (limit 99 %)");
    b.area_initialized = 1;
    b.refused = 5;
    EXPECT_EQ(report_verdict(b),
              "1.10 % of the samples not mapped, 6 missed and 5 refused (limit 1 %)");
    // No source heat: no error figure, but heat on the map is reported.
    BoundaryTally empty;
    EXPECT_EQ(report_verdict(empty), "");
    empty.q_mapped = 2;
    EXPECT_EQ(report_verdict(empty),
              "heat rate 2.000000e+000 W mapped where the samples carry none");
    EXPECT_TRUE(std::isnan(report_error_pct(2, 0)));
}

TEST_F(Report, FilesNameTheirColumnsAndTheTimeUnit) {
    namespace fs = std::filesystem;
    fs::path previous = fs::current_path();
    char pattern[] = "/tmp/quorvel_report_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::current_path(pattern);
    make_square(4, 2);
    sample(0, 4, 100, 10, 0.5);
    sample(1, 2, 100, 10, 0.5);
    end_step(10);
    finish_triangles();
    report_finish_window();
    write_report_files("CA");
    commit_result_files();
    auto read = [](const char* name) {
        std::ifstream in(name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    std::string csv = read(report_csv_name);
    std::string steps = read(report_steps_name);
    std::string text = read(report_text_name);
    fs::current_path(previous);
    fs::remove_all(pattern);
    EXPECT_EQ(csv.substr(0, csv.find('\n') + 1),
              "boundary_id,samples,samples_mapped,samples_missed,samples_refused,"
              "samples_zero_htc,triangles,triangles_initialized,area_m2,sample_area_m2,"
              "q_source_W,q_mapped_W,q_error_pct,ha_source_W_per_K,ha_mapped_W_per_K,"
              "ha_error_pct,max_hit_distance_m,mean_hit_distance_m\r\n");
    // Ascending IDs, then "all".
    EXPECT_NE(csv.find("\r\n2,1,1,0,0,0,1,1,5.000000000e-001,"), std::string::npos);
    EXPECT_LT(csv.find("\r\n2,"), csv.find("\r\n4,"));
    EXPECT_LT(csv.find("\r\n4,"), csv.find("\r\nall,2,2,0,0,0,2,2,1.000000000e+000,"));
    EXPECT_EQ(steps.substr(0, 25), "step,time_CA,interval_CA,");
    EXPECT_NE(steps.find("\r\n1,1.000000000e+000,1.000000000e+001,all,2,2,"), std::string::npos);
    EXPECT_NE(text.find("boundary 2: OK\r\nboundary 4: OK\r\nall boundaries: OK\r\n"),
              std::string::npos);
}

}  // namespace
